// amxml serialize: parses a document with the library's parser and writes it back with the
// library's serializer, as UTF-8 on standard output (an XML 1.1 document stays XML 1.1).
#include <ambrite/xml/dom.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMDocumentType.hpp>

#include "tool.h"

namespace amxml {

namespace {

using Ambrite::XML::DOMDocument;
using Ambrite::XML::DOMSerializer;
using Ambrite::XML::DOMUtil;

const char kUsage[] =
    "usage: amxml serialize [--no-declaration] [--max-depth N] [--max-memory SIZE] [FILE|-]\n"
    "\n"
    "Parses FILE (standard input when FILE is - or absent) with the library's safe parser\n"
    "and writes the document to standard output as UTF-8 with the library's serializer.\n"
    "\n"
    "  --no-declaration   leave out the XML declaration (the DOCTYPE is "
    "kept)\n" AMXML_LIMIT_OPTIONS_USAGE "  --help             show this text\n";

}  // namespace

int serializeCommand(int argc, char** argv) {
    return runCommand("serialize", kUsage, [argc, argv]() {
        bool declaration = true;
        ParseLimits limits;
        const char* input;
        bool run = parseArguments(
            argc, argv, kUsage,
            [&](int& i) {
                if (std::strcmp(argv[i], "--no-declaration") == 0) {
                    declaration = false;
                    return true;
                }
                return limits.option(argc, argv, i);
            },
            input);
        if (!run) return int(SUCCESS);

        auto document = parseInput(input, limits);
        std::unique_ptr<DOMSerializer::Parameters> parameters;
        if (!declaration) {
            const xercesc::DOMDocumentType* type = document->getDoctype();
            parameters.reset(new DOMSerializer::Parameters(
                false, type ? type->getSystemId() : nullptr, type ? type->getPublicId() : nullptr,
                type ? type->getInternalSubset() : nullptr));
        }
        StdoutSink out;
        DOMSerializer::serialize(document.get(), out, parameters.get());
        out.close();
        return int(SUCCESS);
    });
}

}  // namespace amxml
