// amxml c14n: canonical XML of a whole document or of a part of it chosen by same-document
// XPointers (an apex and excluded subtrees, the enveloped-signature case), written to standard
// output as the input is read, or from a DOM with --dom or for pointers only a DOM resolves.
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>
#include <ambrite/xml/xpath.h>
#include <ambrite/xml/xpointer.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <xercesc/dom/DOMDocument.hpp>

#include "tool.h"

namespace amxml {

namespace {

using Ambrite::XML::DOMDocument;
using Ambrite::XML::DOMNode;
using Ambrite::XML::Exception;
using Ambrite::XML::NodeHashSet;
using Ambrite::XML::NodeSet;
using Ambrite::XML::XPath;
using Ambrite::XML::XPathUtil;
using Ambrite::XML::XPointer;
using Ambrite::XML::XPointerParser;
using Ambrite::XML::C14n::CanonicalizerParameters;
using Ambrite::XML::C14n::DocumentSubset;
using Ambrite::XML::C14n::DOMCanonicalizer;
using Ambrite::XML::C14n::StreamCanonicalizer;

const char kUsage[] =
    "usage: amxml c14n [--comments] [--exclusive] [--prefixes LIST] [--apex POINTER]\n"
    "                  [--exclude POINTER]... [--exclude-signatures] [--id-attr NAME]...\n"
    "                  [--dom] [--max-depth N] [--max-memory SIZE] [FILE|-]\n"
    "\n"
    "Parses FILE (standard input when FILE is - or absent) and writes the canonical form of\n"
    "the document, or of a part of it, to standard output.\n"
    "\n"
    "  --comments            keep comments\n"
    "  --exclusive           exclusive canonicalization (default: inclusive)\n"
    "  --prefixes LIST       blank-separated prefixes that exclusive canonicalization treats\n"
    "                        inclusively; #default stands for the default namespace\n"
    "  --apex POINTER        only the subtree of the first node POINTER selects, in document\n"
    "                        order (an element with its attributes)\n"
    "  --exclude POINTER     leave out the subtrees of all nodes POINTER selects (may be\n"
    "                        repeated)\n"
    "  --exclude-signatures  leave out every ds:Signature element of the XML-Signature\n"
    "                        namespace (the enveloped-signature transform)\n"
    "  --id-attr NAME        attributes named NAME (LOCAL or {NAMESPACE}LOCAL) hold IDs, besides\n"
    "                        those the DTD declares ID (may be repeated)\n"
    "  --dom                 build the document in memory first; by default the canonical form\n"
    "                        is written while the input is read, in memory that grows with its\n"
    "                        depth and its ID values only (the output is the same)\n"
    "  --max-depth N         refuse documents nesting elements more than N deep\n"
    "                        (default 10000)\n"
    "  --max-memory SIZE     refuse documents whose parse would hold more than SIZE bytes\n"
    "                        (K, M, G or T multiply by 1024 each; default 2G)\n"
    "  --help                show this text\n"
    "\n"
    "POINTER is a same-document XPointer, with or without the # of a reference URI: a bare\n"
    "name (ID or #ID: the element with that ID, as URI=\"#ID\" of a signature reference), a\n"
    "child sequence (/1 is the document element, /1/3/2 the second element child of its third\n"
    "element child; ID/2 counts from the element with that ID), or scheme parts such as\n"
    "xmlns(p=URI)xpointer(//p:e), where ^ escapes (, ) and ^. Bare names and child sequences\n"
    "from /1 are found while the input is read; the other forms build the document in memory,\n"
    "as --dom does. A pointer that selects nothing is a failure, and so are two elements\n"
    "carrying one ID value, whether a pointer seeks it or not.\n";

const XMLCh kSignatureNamespace[] = u"http://www.w3.org/2000/09/xmldsig#";

// A pointer as the command line gives it: compiled for the DOM path, and as the streaming path
// takes it when it can (a bare name, or a child sequence from the document element).
struct Locator {
    std::string text;
    std::unique_ptr<XPointer> pointer;
    std::vector<unsigned int> steps;
    std::u16string id;
    std::u16string named;  // as the streaming path's failures name it: "/1/2" or the ID
    bool streams() const { return !steps.empty() || !id.empty(); }
};

// Steps of /N/N/... with each N from 1 to 999999999; false for any other text.
bool childSequence(const std::string& text, std::vector<unsigned int>& steps) {
    if (text.size() < 2 || text[0] != '/') return false;
    for (std::size_t p = 1; p <= text.size();) {
        std::size_t end = text.find('/', p);
        if (end == std::string::npos) end = text.size();
        const std::string step = text.substr(p, end - p);
        if (step.empty() || step.size() > 9 || step[0] == '0' ||
            step.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        steps.push_back(static_cast<unsigned int>(std::stoul(step)));
        p = end + 1;
    }
    return true;
}

Locator parseLocator(const std::string& text) {
    Locator l;
    l.text = text;
    const std::string body = text.empty() || text[0] != '#' ? text : text.substr(1);
    const std::u16string wide = fromUtf8(body, "locator");
    try {
        l.pointer.reset(XPointerParser::parse(wide.c_str()));
    } catch (const Exception& e) {
        if (e.id() != 15 && e.id() != 17) throw;
        throw UsageError{"invalid locator '" + text + "': " + e.what().c_str()};
    }
    if (l.pointer->full()) return l;
    if (childSequence(body, l.steps)) {
        l.named = wide;
    } else if (body.find_first_of("/ \t\r\n") == std::string::npos) {
        l.id = l.named = wide;
    }
    return l;
}

bool equals(const XMLCh* s, const XMLCh* text) { return s && std::u16string(s) == text; }

// The nodes a pointer selects, in document order; a pointer that selects none is the tool's
// failure, as on the streaming path.
std::vector<DOMNode*> select(DOMDocument* document, const Locator& l) {
    const XPath::BindingMap none;
    std::unique_ptr<XPath::Iterator> found;
    try {
        found.reset(l.pointer->locationSet(document, none));
    } catch (const Exception& e) {
        if (e.id() == 16) throw ToolError{"no element at " + l.text};
        throw;
    }
    std::unique_ptr<XPath::Iterator> ordered(XPathUtil::documentOrder(found.get()));
    std::vector<DOMNode*> nodes;
    while (ordered->hasNext()) nodes.push_back(ordered->next());
    if (nodes.empty()) throw ToolError{"no element at " + l.text};
    return nodes;
}

// A choice that found nothing, as the library reports it, becomes the tool's own failure.
[[noreturn]] void noElement(const Exception& e, const Locator* apex,
                            const std::vector<Locator>& excluded) {
    if (e.id() == 13006) {
        const std::u16string message(e.what().str());
        auto named = [&message](const Locator& l) {
            return message == u"No element at child sequence " + l.named ||
                   message == u"No element with ID " + l.named;
        };
        if (apex && named(*apex)) throw ToolError{"no element at " + apex->text};
        for (const Locator& l : excluded) {
            if (named(l)) throw ToolError{"no element at " + l.text};
        }
    }
    throw;
}

}  // namespace

int c14nCommand(int argc, char** argv) {
    return runCommand("c14n", kUsage, [argc, argv]() {
        bool comments = false, exclusive = false, havePrefixes = false, dom = false;
        bool signatures = false;
        std::string prefixes, value;
        std::unique_ptr<Locator> apex;
        std::vector<Locator> excluded;
        IdAttributes idAttributes;
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
                    signatures = true;
                } else if (optionValue(argc, argv, i, "--prefixes", value)) {
                    prefixes += " " + value;
                    havePrefixes = true;
                } else if (optionValue(argc, argv, i, "--id-attr", value)) {
                    idAttributes.push_back(idAttribute(value));
                } else if (optionValue(argc, argv, i, "--apex", value)) {
                    if (apex) throw UsageError{"only one --apex may be given"};
                    apex.reset(new Locator(parseLocator(value)));
                } else if (optionValue(argc, argv, i, "--exclude", value)) {
                    excluded.push_back(parseLocator(value));
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
        if (apex && !apex->streams()) dom = true;
        for (const Locator& l : excluded) dom = dom || !l.streams();
        StdoutSink out;
        if (dom) {
            auto document = parseInput(input, limits);
            NodeHashSet leftOut(4);
            registerIds(document.get(), idAttributes, [&](DOMNode* element) {
                if (signatures && equals(element->getNamespaceURI(), kSignatureNamespace) &&
                    equals(element->getLocalName(), u"Signature")) {
                    leftOut.insert(element);
                }
            });
            DOMNode* top = apex ? select(document.get(), *apex).front() : nullptr;
            for (const Locator& l : excluded) {
                for (DOMNode* n : select(document.get(), l)) leftOut.insert(n);
            }
            // The subtree of the apex minus those left out, as DocumentSubset describes it.
            std::unique_ptr<NodeSet::Filter> filter;
            if (top) filter.reset(new Ambrite::XML::NodeTreeFilter(top));
            if (leftOut.size()) {
                std::unique_ptr<NodeSet::Filter> notExcluded(
                    new Ambrite::XML::NotFilter(new Ambrite::XML::NodeTreeFilter(leftOut)));
                filter.reset(
                    filter ? new Ambrite::XML::AndFilter(filter.release(), notExcluded.release())
                           : notExcluded.release());
            }
            NodeSet nodes(document.get(), filter.release(), nullptr, false);
            DOMCanonicalizer::canonicalize(&nodes, &out, mode, &parameters);
        } else {
            DocumentSubset subset;
            subset.excludeSignatures(signatures);
            for (const auto& named : idAttributes) {
                subset.idAttribute(named.first.c_str(), named.second.c_str());
            }
            if (apex && !apex->steps.empty()) {
                subset.apex(apex->steps.data(), static_cast<unsigned int>(apex->steps.size()));
            } else if (apex) {
                subset.apexId(apex->id.c_str());
            }
            for (const Locator& l : excluded) {
                if (l.steps.empty()) {
                    subset.excludeId(l.id.c_str());
                } else {
                    subset.exclude(l.steps.data(), static_cast<unsigned int>(l.steps.size()));
                }
            }
            std::unique_ptr<FileSource> source(openInput(input ? input : "-"));
            try {
                StreamCanonicalizer::canonicalize(source.get(), &out, mode, &parameters, &subset,
                                                  limits.limits, true);
            } catch (const Exception& e) {
                try {
                    throwNamingOption(e);
                } catch (const Exception& named) {
                    noElement(named, apex.get(), excluded);
                }
            }
        }
        out.close();
        return int(SUCCESS);
    });
}

}  // namespace amxml
