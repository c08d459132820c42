// amxml c14n: canonical XML of a whole document or of an element subtree with excluded
// subtrees (the enveloped-signature case), written to standard output.
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>

#include "tool.h"

namespace amxml {

namespace {

using Ambrite::XML::AndFilter;
using Ambrite::XML::DOMDocument;
using Ambrite::XML::DOMNode;
using Ambrite::XML::DOMUtil;
using Ambrite::XML::NodeSet;
using Ambrite::XML::NodeTreeFilter;
using Ambrite::XML::NotFilter;
using Ambrite::XML::C14n::CanonicalizerParameters;
using Ambrite::XML::C14n::DOMCanonicalizer;

const char kUsage[] =
    "usage: amxml c14n [--comments] [--exclusive] [--prefixes LIST] [--apex LOCATOR]\n"
    "                  [--exclude LOCATOR]... [--max-depth N] [--max-memory SIZE] [FILE|-]\n"
    "\n"
    "Parses FILE (standard input when FILE is - or absent) and writes the canonical form of\n"
    "the document, or of a part of it, to standard output.\n"
    "\n"
    "  --comments         keep comments\n"
    "  --exclusive        exclusive canonicalization (default: inclusive)\n"
    "  --prefixes LIST    blank-separated prefixes that exclusive canonicalization treats\n"
    "                     inclusively; #default stands for the default namespace\n"
    "  --apex LOCATOR     only the subtree of this element (with its attributes)\n"
    "  --exclude LOCATOR  leave out the subtree of this element (may be "
    "repeated)\n" AMXML_LIMIT_OPTIONS_USAGE
    "  --help             show this text\n"
    "\n"
    "LOCATOR is an element child sequence: /1 is the document element, /1/3/2 the second\n"
    "element child of its third element child.\n";

typedef std::unique_ptr<NodeSet::Filter> FilterPtr;

DOMNode* locateElement(DOMDocument* document, const std::string& locator) {
    DOMNode* node = locate(document, locator);
    if (!node) throw ToolError{"no element at " + locator};
    return node;
}

}  // namespace

int c14nCommand(int argc, char** argv) {
    return runCommand("c14n", kUsage, [argc, argv]() {
        bool comments = false, exclusive = false, havePrefixes = false;
        std::string prefixes, apex, value;
        std::vector<std::string> excludes;
        ParseLimits limits;
        const char* input;
        bool run = parseArguments(
            argc, argv, kUsage,
            [&](int& i) {
                if (std::strcmp(argv[i], "--comments") == 0) {
                    comments = true;
                } else if (std::strcmp(argv[i], "--exclusive") == 0) {
                    exclusive = true;
                } else if (optionValue(argc, argv, i, "--prefixes", value)) {
                    prefixes += " " + value;
                    havePrefixes = true;
                } else if (optionValue(argc, argv, i, "--apex", value)) {
                    if (!apex.empty()) throw UsageError{"only one --apex may be given"};
                    apex = value;
                    if (apex.empty()) throw UsageError{"invalid locator '' (expecting /1/2/...)"};
                } else if (optionValue(argc, argv, i, "--exclude", value)) {
                    excludes.push_back(value);
                } else if (!limits.option(argc, argv, i)) {
                    return false;
                }
                return true;
            },
            input);
        if (!run) return int(SUCCESS);

        auto document = parseInput(input, limits);

        // The subtree of the apex minus the subtrees of the excluded elements.
        FilterPtr filter;
        if (!apex.empty()) filter.reset(new NodeTreeFilter(locateElement(document.get(), apex)));
        for (const std::string& locator : excludes) {
            FilterPtr tree(new NodeTreeFilter(locateElement(document.get(), locator)));
            FilterPtr excluded(new NotFilter(tree.release()));
            if (filter) {
                filter.reset(new AndFilter(filter.release(), excluded.release()));
            } else {
                filter = std::move(excluded);
            }
        }
        NodeSet nodes(document.get(), filter.release(), nullptr, false);

        CanonicalizerParameters parameters;
        if (havePrefixes) {
            std::size_t p = 0;
            while ((p = prefixes.find_first_not_of(" \t\n\r", p)) != std::string::npos) {
                std::size_t end = prefixes.find_first_of(" \t\n\r", p);
                std::string prefix = prefixes.substr(p, end - p);
                p = end;
                if (prefix == "#default") {
                    parameters.unsuppressedNamespacePrefix(nullptr);
                } else {
                    parameters.unsuppressedNamespacePrefix(fromUtf8(prefix, "prefix").c_str());
                }
            }
        }
        DOMCanonicalizer::Mode mode = exclusive
                                          ? (comments ? DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS
                                                      : DOMCanonicalizer::EXCLUSIVE)
                                          : (comments ? DOMCanonicalizer::CANONICAL_WITH_COMMENTS
                                                      : DOMCanonicalizer::CANONICAL);
        StdoutSink out;
        DOMCanonicalizer::canonicalize(&nodes, &out, mode, &parameters);
        out.close();
        return int(SUCCESS);
    });
}

}  // namespace amxml
