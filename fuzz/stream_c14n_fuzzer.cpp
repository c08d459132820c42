// Differential fuzz target: the same bytes through the DOM path (DOMUtil::parse, then
// DOMCanonicalizer over DocumentSubset::nodeSet) and through StreamCanonicalizer, in every mode,
// for the whole document and for a subset chosen from the input; the two must give identical
// bytes or the same Exception (id and message). Both paths resolve names with the same scanner,
// so the names of the parsed document are also checked against its namespace declarations.
//
// Input: byte 0 picks the apex, byte 1 the excluded element, byte 2 the options (bit 0 subset,
// bit 1 apex by ID, bit 2 exclusion by ID, bit 3 leave out signatures, bit 4 parameters, bit 5
// name ID attributes); the rest is the document.
//
// One difference is by design: a DOM takes memory for every node, so a document that entity
// expansion makes huge can fail the DOM path's memory bound ("Parse memory limit exceeded")
// while the streaming path, which holds no nodes, meets a later bound or none.
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>

using namespace Ambrite::XML;
using C14n::CanonicalizerParameters;
using C14n::DocumentSubset;
using C14n::DOMCanonicalizer;
using C14n::StreamCanonicalizer;

namespace {

struct Release {
    void operator()(DOMDocument* d) const { DocumentRelease()(d); }
};
typedef std::unique_ptr<DOMDocument, Release> DocumentPtr;

BlockSource* sourceOf(const unsigned char* bytes, std::size_t size) {
    return new BlockSource(new Block(bytes, static_cast<unsigned int>(size), Block::Reference));
}

std::string failure(const Exception& e) {
    std::ostringstream s;
    s << e;
    return s.str();
}

std::string bytesOf(BufferSink& sink) {
    return std::string(reinterpret_cast<const char*>(sink.data()), sink.length());
}

// An element of the parsed document with what locates it.
struct Candidate {
    std::vector<unsigned int> steps;
    std::u16string id;  // the value of its first attribute named Id or id, if any
};

// Elements in document order with their child sequences, the children of entity references
// counted as children of their parent; without recursion.
std::vector<Candidate> candidates(DOMDocument* document, std::size_t most) {
    std::vector<Candidate> found;
    std::vector<unsigned int> path, counts(1, 0);
    DOMNode* n = document->getFirstChild();
    while (n && found.size() < most) {
        const bool element = n->getNodeType() == DOMNode::ELEMENT_NODE;
        if (element) {
            path.push_back(++counts.back());
            Candidate c;
            c.steps = path;
            for (const XMLCh* name : {u"Id", u"id"}) {
                const XMLCh* v = static_cast<DOMElement*>(n)->getAttribute(name);
                if (v && *v && c.id.empty()) c.id = v;
            }
            found.push_back(c);
            counts.push_back(0);
        }
        DOMNode* child = element || n->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE
                             ? n->getFirstChild()
                             : nullptr;
        if (child) {
            n = child;
            continue;
        }
        if (element) {
            path.pop_back();
            counts.pop_back();
        }
        // Up to the first node with a next sibling, closing the elements passed.
        while (n != document && !n->getNextSibling()) {
            n = n->getParentNode();
            if (n->getNodeType() == DOMNode::ELEMENT_NODE) {
                path.pop_back();
                counts.pop_back();
            }
        }
        n = n == document ? nullptr : n->getNextSibling();
    }
    return found;
}

bool same(const XMLCh* a, const XMLCh* b) {
    if (!a) a = u"";
    if (!b) b = u"";
    return std::u16string(a) == b;
}

// The namespace of `prefix` (null or empty for the default namespace) in the scope of `n`, from
// the declarations of its ancestors in the DOM: an oracle apart from the scanner's resolution.
const XMLCh* declared(DOMNode* n, const XMLCh* prefix) {
    const bool unprefixed = !prefix || !*prefix;
    for (; n && n->getNodeType() != DOMNode::DOCUMENT_NODE; n = n->getParentNode()) {
        if (n->getNodeType() != DOMNode::ELEMENT_NODE) continue;
        xercesc::DOMNamedNodeMap* attributes = n->getAttributes();
        for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
            DOMNode* a = attributes->item(i);
            const XMLCh* name = a->getNodeName();
            if (unprefixed ? same(name, u"xmlns")
                           : std::u16string(name) == u"xmlns:" + std::u16string(prefix)) {
                return a->getNodeValue();
            }
        }
    }
    return nullptr;
}

// Every element and attribute name of the parsed document in the namespace its ancestors'
// declarations give it.
void checkScopes(DOMDocument* document) {
    const std::u16string xml = u"xml", xmlns = u"xmlns";
    for (DOMNode* n = document->getDocumentElement(); n;) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE) {
            if (!same(n->getNamespaceURI(), declared(n, n->getPrefix()))) {
                std::fprintf(stderr, "element out of its declared namespace\n");
                std::abort();
            }
            xercesc::DOMNamedNodeMap* attributes = n->getAttributes();
            for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
                DOMNode* a = attributes->item(i);
                const XMLCh* p = a->getPrefix();
                if (!p || !*p || p == xml || p == xmlns) continue;
                if (!same(a->getNamespaceURI(), declared(n, p))) {
                    std::fprintf(stderr, "attribute out of its declared namespace\n");
                    std::abort();
                }
            }
        }
        DOMNode* next = n->getNodeType() == DOMNode::ELEMENT_NODE ||
                                n->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE
                            ? n->getFirstChild()
                            : nullptr;
        while (!next && n) {
            next = n->getNextSibling();
            if (!next) {
                n = n->getParentNode();
                if (!n || n->getNodeType() == DOMNode::DOCUMENT_NODE) n = nullptr;
            }
        }
        n = next;
    }
}

[[noreturn]] void mismatch(const char* what, int mode, const std::string& dom,
                           const std::string& stream) {
    std::fprintf(stderr,
                 "%s, mode %d\n--- DOM path (%zu bytes)\n%s\n--- streaming (%zu bytes)\n%s\n", what,
                 mode, dom.size(), dom.c_str(), stream.size(), stream.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static DOMUtil::Init init;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const unsigned char apexPick = data[0], excludedPick = data[1], options = data[2];
    const unsigned char* xml = data + 3;
    const std::size_t length = size - 3;

    // The DOM path parses once; its failure is every mode's outcome.
    std::string parseFailure;
    DocumentPtr document;
    try {
        std::unique_ptr<BlockSource> source(sourceOf(xml, length));
        document.reset(DOMUtil::parse(source.get()));
    } catch (const Exception& e) {
        parseFailure = failure(e);
    }
    if (document) checkScopes(document.get());

    DocumentSubset subset;
    if (options & 32) {
        subset.idAttribute(nullptr, u"Id");
        subset.idAttribute(nullptr, u"id");
    }
    if (options & 8) subset.excludeSignatures(true);
    if (options & 1) {
        std::vector<Candidate> all;
        if (document) all = candidates(document.get(), 4096);
        const unsigned int fallback[] = {1, 1u + apexPick % 3};
        if (all.empty()) {
            subset.apex(fallback, 1 + apexPick % 2);
        } else {
            const Candidate& apex = all[apexPick % all.size()];
            if ((options & 2) && !apex.id.empty()) {
                subset.apexId(apex.id.c_str());
            } else {
                subset.apex(apex.steps.data(), static_cast<unsigned int>(apex.steps.size()));
            }
            const Candidate& excluded = all[excludedPick % all.size()];
            if ((options & 4) && !excluded.id.empty()) {
                subset.excludeId(excluded.id.c_str());
            } else if (excludedPick & 1) {
                subset.exclude(excluded.steps.data(),
                               static_cast<unsigned int>(excluded.steps.size()));
            }
        }
    }
    std::unique_ptr<CanonicalizerParameters> parameters;
    if (options & 16) {
        parameters.reset(new CanonicalizerParameters);
        parameters->emitNullApexXMLNS(true);
        parameters->unsuppressedNamespacePrefix(nullptr);
        parameters->unsuppressedNamespacePrefix(u"a");
    }

    std::unique_ptr<NodeSet> nodes;
    std::string choiceFailure;
    if (document) {
        try {
            nodes.reset(subset.nodeSet(document.get()));
        } catch (const Exception& e) {
            choiceFailure = failure(e);
        }
    }
    for (int m = 0; m < 4; ++m) {
        const DOMCanonicalizer::Mode mode = static_cast<DOMCanonicalizer::Mode>(m);
        std::string dom = parseFailure.empty() ? choiceFailure : parseFailure;
        bool domFailed = !dom.empty();
        if (!domFailed) {
            BufferSink sink;
            try {
                DOMCanonicalizer::canonicalize(nodes.get(), &sink, mode, parameters.get());
                dom = bytesOf(sink);
            } catch (const Exception& e) {
                dom = failure(e);
                domFailed = true;
            }
        }
        std::string stream;
        bool streamFailed = false;
        {
            std::unique_ptr<BlockSource> source(sourceOf(xml, length));
            BufferSink sink;
            try {
                StreamCanonicalizer::canonicalize(source.get(), &sink, mode, parameters.get(),
                                                  &subset);
                stream = bytesOf(sink);
            } catch (const Exception& e) {
                stream = failure(e);
                streamFailed = true;
            }
        }
        if (domFailed && dom.find("Parse memory limit exceeded") != std::string::npos) continue;
        if (domFailed != streamFailed)
            mismatch("one path failed, the other did not", m, dom, stream);
        if (dom != stream)
            mismatch(domFailed ? "different failures" : "different bytes", m, dom, stream);
    }
    return 0;
}
