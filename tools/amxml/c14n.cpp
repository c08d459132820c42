// amxml c14n: canonical XML of a whole document or of an element subtree with excluded
// subtrees (the enveloped-signature case), written to standard output as the input is read, or
// from a DOM with --dom.
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOMDocument.hpp>

#include "tool.h"

namespace amxml {

namespace {

using Ambrite::XML::DOMUtil;
using Ambrite::XML::Exception;
using Ambrite::XML::NodeSet;
using Ambrite::XML::C14n::CanonicalizerParameters;
using Ambrite::XML::C14n::DocumentSubset;
using Ambrite::XML::C14n::DOMCanonicalizer;
using Ambrite::XML::C14n::StreamCanonicalizer;

const char kUsage[] =
    "usage: amxml c14n [--comments] [--exclusive] [--prefixes LIST] [--apex LOCATOR]\n"
    "                  [--exclude LOCATOR]... [--exclude-signatures] [--id-attr NAME]...\n"
    "                  [--dom] [--max-depth N] [--max-memory SIZE] [FILE|-]\n"
    "\n"
    "Parses FILE (standard input when FILE is - or absent) and writes the canonical form of\n"
    "the document, or of a part of it, to standard output.\n"
    "\n"
    "  --comments            keep comments\n"
    "  --exclusive           exclusive canonicalization (default: inclusive)\n"
    "  --prefixes LIST       blank-separated prefixes that exclusive canonicalization treats\n"
    "                        inclusively; #default stands for the default namespace\n"
    "  --apex LOCATOR        only the subtree of this element (with its attributes)\n"
    "  --exclude LOCATOR     leave out the subtree of this element (may be repeated)\n"
    "  --exclude-signatures  leave out every ds:Signature element of the XML-Signature\n"
    "                        namespace (the enveloped-signature transform)\n"
    "  --id-attr NAME        attributes named NAME (LOCAL or {NAMESPACE}LOCAL) hold IDs, besides\n"
    "                        those the DTD declares ID (may be repeated)\n"
    "  --dom                 build the document in memory first; by default the canonical form\n"
    "                        is written while the input is read, in memory that grows with its\n"
    "                        depth only (the output is the same)\n"
    "  --max-depth N         refuse documents nesting elements more than N deep\n"
    "                        (default 10000)\n"
    "  --max-memory SIZE     refuse documents whose parse would hold more than SIZE bytes\n"
    "                        (K, M, G or T multiply by 1024 each; default 2G)\n"
    "  --help                show this text\n"
    "\n"
    "LOCATOR is an element child sequence: /1 is the document element, /1/3/2 the second\n"
    "element child of its third element child; or #VALUE, the element with that ID. Two\n"
    "elements carrying an ID sought is a failure.\n";

const char kInvalidLocator[] = " (expecting /1/2/...)";

// A locator as the command line gives it, and as the library names it in its failures.
struct Locator {
    std::string text;
    std::vector<unsigned int> steps;  // empty for an ID
    std::u16string id;
    std::u16string named;  // "/1/2" or the ID value
};

Locator parseLocator(const std::string& text) {
    Locator l;
    l.text = text;
    if (text.size() > 1 && text[0] == '#') {
        l.id = l.named = fromUtf8(text.substr(1), "ID");
        return l;
    }
    if (text.size() < 2 || text[0] != '/') {
        throw UsageError{"invalid locator '" + text + "'" + kInvalidLocator};
    }
    std::size_t p = 1;
    while (p <= text.size()) {
        std::size_t end = text.find('/', p);
        if (end == std::string::npos) end = text.size();
        std::string step = text.substr(p, end - p);
        if (step.empty() || step.size() > 9 || step[0] == '0' ||
            step.find_first_not_of("0123456789") != std::string::npos) {
            throw UsageError{"invalid locator '" + text + "'" + kInvalidLocator};
        }
        l.steps.push_back(static_cast<unsigned int>(std::stoul(step)));
        l.named += u'/';
        l.named.append(step.begin(), step.end());
        p = end + 1;
    }
    return l;
}

// "LOCAL" or "{NAMESPACE}LOCAL".
void addIdAttribute(DocumentSubset& subset, const std::string& name) {
    std::u16string uri, local = fromUtf8(name, "name");
    if (!local.empty() && local[0] == u'{') {
        std::size_t close = local.find(u'}');
        if (close == std::u16string::npos) throw UsageError{"invalid name '" + name + "'"};
        uri = local.substr(1, close - 1);
        local.erase(0, close + 1);
    }
    if (local.empty()) throw UsageError{"invalid name '" + name + "'"};
    subset.idAttribute(uri.c_str(), local.c_str());
}

// A choice that found nothing, as the library reports it, becomes the tool's own failure.
[[noreturn]] void noElement(const Exception& e, const std::vector<Locator>& locators) {
    if (e.id() == 13006) {
        const std::u16string message(e.what().str());
        for (const Locator& l : locators) {
            if (message == u"No element at child sequence " + l.named ||
                message == u"No element with ID " + l.named) {
                throw ToolError{"no element at " + l.text};
            }
        }
    }
    throw;
}

}  // namespace

int c14nCommand(int argc, char** argv) {
    return runCommand("c14n", kUsage, [argc, argv]() {
        bool comments = false, exclusive = false, havePrefixes = false, dom = false;
        bool haveApex = false;
        std::string prefixes, value;
        std::vector<Locator> locators;  // the apex first, when there is one
        DocumentSubset subset;
        ParseLimits limits;
        const char* input;
        bool run = parseArguments(
            argc, argv, kUsage,
            [&](int& i) {
                if (std::strcmp(argv[i], "--comments") == 0) {
                    comments = true;
                } else if (std::strcmp(argv[i], "--exclusive") == 0) {
                    exclusive = true;
                } else if (std::strcmp(argv[i], "--dom") == 0) {
                    dom = true;
                } else if (std::strcmp(argv[i], "--exclude-signatures") == 0) {
                    subset.excludeSignatures(true);
                } else if (optionValue(argc, argv, i, "--prefixes", value)) {
                    prefixes += " " + value;
                    havePrefixes = true;
                } else if (optionValue(argc, argv, i, "--id-attr", value)) {
                    addIdAttribute(subset, value);
                } else if (optionValue(argc, argv, i, "--apex", value)) {
                    if (haveApex) throw UsageError{"only one --apex may be given"};
                    haveApex = true;
                    Locator l = parseLocator(value);
                    if (l.steps.empty()) {
                        subset.apexId(l.id.c_str());
                    } else {
                        subset.apex(l.steps.data(), static_cast<unsigned int>(l.steps.size()));
                    }
                    locators.push_back(l);
                } else if (optionValue(argc, argv, i, "--exclude", value)) {
                    Locator l = parseLocator(value);
                    if (l.steps.empty()) {
                        subset.excludeId(l.id.c_str());
                    } else {
                        subset.exclude(l.steps.data(), static_cast<unsigned int>(l.steps.size()));
                    }
                    locators.push_back(l);
                } else if (!limits.option(argc, argv, i)) {
                    return false;
                }
                return true;
            },
            input);
        if (!run) return int(SUCCESS);

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
        try {
            if (dom) {
                auto document = parseInput(input, limits);
                std::unique_ptr<NodeSet> nodes(subset.nodeSet(document.get()));
                DOMCanonicalizer::canonicalize(nodes.get(), &out, mode, &parameters);
            } else {
                std::unique_ptr<FileSource> source(openInput(input ? input : "-"));
                try {
                    StreamCanonicalizer::canonicalize(source.get(), &out, mode, &parameters,
                                                      &subset, limits.limits);
                } catch (const Exception& e) {
                    throwNamingOption(e);
                }
            }
        } catch (const Exception& e) {
            noElement(e, locators);
        }
        out.close();
        return int(SUCCESS);
    });
}

}  // namespace amxml
