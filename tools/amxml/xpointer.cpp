// amxml xpointer: the nodes a same-document XPointer selects in a document, written as the
// paths amxml xpath writes.
#include <ambrite/xml/dom.h>
#include <ambrite/xml/streams.h>
#include <ambrite/xml/xpath.h>
#include <ambrite/xml/xpointer.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tool.h"

namespace amxml {

namespace {

using Ambrite::XML::UTF8Sink;
using Ambrite::XML::XPath;
using Ambrite::XML::XPointer;
using Ambrite::XML::XPointerParser;

const char kUsage[] =
    "usage: amxml xpointer [--max-depth N] [--max-memory SIZE] POINTER [FILE|-]\n"
    "\n"
    "Parses FILE (standard input when FILE is - or absent) and writes the nodes the XPointer\n"
    "POINTER selects in it: nodeset on the first line, then one path per line in document\n"
    "order, as amxml xpath writes them. POINTER is the fragment of a same-document reference\n"
    "without its #: a bare name (the element with that ID), a child sequence (/1/2 or\n"
    "NAME/2), or scheme parts such as xmlns(p=URI)xpointer(//p:e), where ^ escapes (, ) and ^.\n"
    "IDs are those the document's DTD declares. A pointer that selects nothing fails.\n"
    "\n" AMXML_LIMIT_OPTIONS_USAGE "  --help             show this text\n";

}  // namespace

int xpointerCommand(int argc, char** argv) {
    return runCommand("xpointer", kUsage, [argc, argv]() {
        ParseLimits limits;
        std::vector<std::string> operands;
        bool options = true;
        for (int i = 0; i < argc; ++i) {
            const char* arg = argv[i];
            if (!options || arg[0] != '-' || arg[1] == 0) {
                operands.push_back(arg);
            } else if (std::strcmp(arg, "--") == 0) {
                options = false;
            } else if (isHelp(arg)) {
                std::fputs(kUsage, stdout);
                return int(SUCCESS);
            } else if (!limits.option(argc, argv, i)) {
                throw UsageError{std::string("unknown option '") + arg + "'"};
            }
        }
        if (operands.empty()) throw UsageError{"no pointer given"};
        if (operands.size() > 2) throw UsageError{"only one input may be given"};

        std::unique_ptr<XPointer> pointer(
            XPointerParser::parse(fromUtf8(operands[0], "pointer").c_str()));
        auto document = parseInput(operands.size() == 2 ? operands[1].c_str() : nullptr, limits);
        const XPath::BindingMap none;
        std::unique_ptr<XPath::Iterator> nodes(pointer->locationSet(document.get(), none));
        StdoutSink out;
        UTF8Sink text(out);
        writeNodeSet(nodes.get(), text);
        text.close();
        return int(SUCCESS);
    });
}

}  // namespace amxml
