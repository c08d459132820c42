// Fuzz target: bytes -> DOMUtil::parse -> canonical forms in all four modes, of the whole
// document and of a subtree minus one of its descendant subtrees -> DOMSerializer. Only the
// library's Exception may come out of the library. Two oracles check the output: canonical form
// is idempotent (its own canonical form again), and the serializer's text parses back to a
// document with the same canonical form.
//
// Input: byte 0 picks the apex element, byte 1 the excluded descendant, byte 2 the options;
// the rest is the document.
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMDocumentType.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

using namespace Ambrite::XML;
using C14n::CanonicalizerParameters;
using C14n::DOMCanonicalizer;

namespace {

struct Release {
    void operator()(DOMDocument* d) const { DocumentRelease()(d); }
};
typedef std::unique_ptr<DOMDocument, Release> DocumentPtr;

DocumentPtr parse(const unsigned char* bytes, std::size_t size) {
    BlockSource source(new Block(bytes, static_cast<unsigned int>(size), Block::Reference));
    return DocumentPtr(DOMUtil::parse(&source));
}

std::string bytesOf(BufferSink& sink) {
    return std::string(reinterpret_cast<const char*>(sink.data()), sink.length());
}

[[noreturn]] void fail(const char* what, const std::string& a, const std::string& b) {
    std::fprintf(stderr, "%s\n--- first (%zu bytes)\n%s\n--- second (%zu bytes)\n%s\n", what,
                 a.size(), a.c_str(), b.size(), b.c_str());
    std::abort();
}

// The canonical form, or false when the canonicalizer refuses the node set (Exception).
bool canonical(const NodeSet& set, DOMCanonicalizer::Mode mode,
               const CanonicalizerParameters* parameters, std::string& out) {
    BufferSink sink;
    try {
        DOMCanonicalizer::canonicalize(&set, &sink, mode, parameters);
    } catch (const Exception&) {
        return false;
    }
    out = bytesOf(sink);
    return true;
}

// Elements in document order, without recursion.
std::vector<DOMNode*> elements(DOMNode* top, std::size_t most) {
    std::vector<DOMNode*> found;
    DOMNode* n = top;
    while (n && found.size() < most) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE) found.push_back(n);
        if (DOMNode* child = n->getFirstChild()) {
            n = child;
            continue;
        }
        while (n && n != top && !n->getNextSibling()) n = n->getParentNode();
        n = n && n != top ? n->getNextSibling() : nullptr;
    }
    return found;
}

void wholeDocument(DOMDocument* document, const CanonicalizerParameters* parameters) {
    for (int m = 0; m < 4; ++m) {
        DOMCanonicalizer::Mode mode = static_cast<DOMCanonicalizer::Mode>(m);
        NodeSet set(document, nullptr, nullptr, false);
        std::string first;
        if (!canonical(set, mode, parameters, first) || parameters) continue;
        // The canonical form of a whole document is a document with the same canonical form.
        DocumentPtr again;
        try {
            again = parse(reinterpret_cast<const unsigned char*>(first.data()), first.size());
        } catch (const Exception& e) {
            fail("canonical form does not parse", first, "");
        }
        NodeSet set2(again.get(), nullptr, nullptr, false);
        std::string second;
        if (!canonical(set2, mode, nullptr, second)) fail("canonical form refused", first, "");
        if (first != second) fail("canonical form is not idempotent", first, second);
    }
}

void subtree(DOMDocument* document, unsigned char apexPick, unsigned char excludedPick,
             const CanonicalizerParameters* parameters) {
    std::vector<DOMNode*> all = elements(document, 4096);
    if (all.empty()) return;
    DOMNode* apex = all[apexPick % all.size()];
    std::vector<DOMNode*> below = elements(apex, 4096);
    DOMNode* excluded = below[excludedPick % below.size()];
    for (int m = 0; m < 4; ++m) {
        NodeSet set(
            document,
            new AndFilter(new NodeTreeFilter(apex), new NotFilter(new NodeTreeFilter(excluded))),
            nullptr, false);
        std::string out;
        bool ok = canonical(set, static_cast<DOMCanonicalizer::Mode>(m), parameters, out);
        // The same subset with the apex as the root of the node set. Only the output is
        // compared: from the document, the walk also binds the namespaces of elements outside
        // the subset, so a relative namespace URI there fails the run that the apex passes.
        NodeSet rooted(apex, new NotFilter(new NodeTreeFilter(excluded)), nullptr, false);
        std::string out2;
        ok = canonical(rooted, static_cast<DOMCanonicalizer::Mode>(m), parameters, out2) && ok;
        if (ok && out != out2) fail("node set root changes the output", out, out2);
    }
}

void serializerRoundTrip(DOMDocument* document) {
    BufferSink sink;
    DOMSerializer::serialize(document, sink, nullptr);
    std::string text = bytesOf(sink);
    // A document element-less document has nothing to read back. Of an internal subset the DOM
    // keeps only the parser's rebuilding of it, which need not parse again (a "%" written as a
    // character reference in an entity value comes back as a parameter-entity reference), so
    // such documents are serialized but not read back.
    if (!document->getDocumentElement()) return;
    const xercesc::DOMDocumentType* type = document->getDoctype();
    if (type && type->getInternalSubset() && *type->getInternalSubset()) return;
    DocumentPtr again;
    try {
        again = parse(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    } catch (const Exception&) {
        fail("serializer output does not parse", text, "");
    }
    NodeSet a(document, nullptr, nullptr, false), b(again.get(), nullptr, nullptr, false);
    std::string first, second;
    if (!canonical(a, DOMCanonicalizer::CANONICAL_WITH_COMMENTS, nullptr, first)) return;
    if (!canonical(b, DOMCanonicalizer::CANONICAL_WITH_COMMENTS, nullptr, second)) {
        fail("serializer output not canonicalizable", text, first);
    }
    if (first != second) fail("serializer output changes the canonical form", first, second);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static DOMUtil::Init init;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const unsigned char apexPick = data[0], excludedPick = data[1], options = data[2];
    DocumentPtr document;
    try {
        document = parse(data + 3, size - 3);
    } catch (const Exception&) {
        return 0;
    }
    std::unique_ptr<CanonicalizerParameters> parameters;
    if (options & 1) {
        parameters.reset(new CanonicalizerParameters);
        parameters->emitNullApexXMLNS(true);
        parameters->unsuppressedNamespacePrefix(nullptr);
        parameters->unsuppressedNamespacePrefix(u"a");
    }
    wholeDocument(document.get(), parameters.get());
    subtree(document.get(), apexPick, excludedPick, parameters.get());
    if (options & 2) serializerRoundTrip(document.get());
    return 0;
}
