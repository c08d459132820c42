// Extreme shapes: a document nested 100,000 elements deep and one element with 1,000,000
// children parse, canonicalize in every mode (whole, and a subtree minus a descendant subtree),
// serialize and release without running out of stack, with exact output.
#include "support/test_support.h"

#include <ambrite/xml/c14n.h>
#include <ambrite/xml/nodeset.h>
#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

using namespace amxml_test;
using C14n::DOMCanonicalizer;

namespace {

const DOMCanonicalizer::Mode kModes[] = {
    DOMCanonicalizer::CANONICAL, DOMCanonicalizer::CANONICAL_WITH_COMMENTS,
    DOMCanonicalizer::EXCLUSIVE, DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS};

std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

std::string canonical(NodeSet& set, DOMCanonicalizer::Mode mode) {
    BufferSink sink;
    DOMCanonicalizer::canonicalize(&set, &sink, mode, nullptr);
    return bytes(sink);
}

std::string serialized(DOMNode* node) {
    BufferSink sink;
    DOMSerializer::serialize(node, sink, nullptr);
    return bytes(sink);
}

// The first element child at each step down, `steps` times.
DOMNode* descend(DOMNode* n, std::size_t steps) {
    for (std::size_t i = 0; i < steps; ++i) n = n->getFirstChild();
    return n;
}

// Compared by size and a hash-free equality, so that a mismatch prints no megabytes.
void expectSame(const std::string& expected, const std::string& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    EXPECT_TRUE(expected == actual) << "first difference at "
                                    << std::mismatch(expected.begin(), expected.end(),
                                                     actual.begin())
                                               .first -
                                           expected.begin();
}

}  // namespace

TEST(Stress, DocumentNested100000Deep) {
    const std::size_t depth = 100000;
    const std::string xml = "<e xmlns=\"urn:x\">" + repeat("<e>", depth - 1) + "t" +
                            repeat("</e>", depth);
    // Far beyond the default depth: the caller says it trusts the document.
    DocumentPtr d = parse(xml, depthLimits(depth));
    DOMDocument* document = d.get();

    for (DOMCanonicalizer::Mode mode : kModes) {
        SCOPED_TRACE(mode);
        NodeSet whole(document, nullptr, nullptr, false);
        expectSame(xml, canonical(whole, mode));

        // The element at depth 10, without the subtree of the one at depth 50,000: the apex
        // carries the default namespace it inherits, and the text below the cut is gone.
        DOMNode* apex = descend(document, 10);
        DOMNode* cut = descend(document, 50000);
        NodeSet subset(document,
                       new AndFilter(new NodeTreeFilter(apex), new NotFilter(new NodeTreeFilter(cut))),
                       nullptr, false);
        const std::size_t kept = 50000 - 10;
        expectSame("<e xmlns=\"urn:x\">" + repeat("<e>", kept - 1) + repeat("</e>", kept),
                   canonical(subset, mode));
    }
    expectSame("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + xml + "\n", serialized(document));
}

TEST(Stress, ElementWithAMillionChildren) {
    const std::size_t children = 1000000;
    DocumentPtr d = parse("<r>" + repeat("<c/>", children) + "<!--end--></r>");
    DOMDocument* document = d.get();
    DOMNode* r = document->getDocumentElement();
    ASSERT_EQ(children + 1, r->getChildNodes()->getLength());

    // The child in the middle is left out of the subset.
    DOMNode* cut = r->getFirstChild();
    for (std::size_t i = 0; i < children / 2; ++i) cut = cut->getNextSibling();
    for (DOMCanonicalizer::Mode mode : kModes) {
        SCOPED_TRACE(mode);
        const bool comments = mode == DOMCanonicalizer::CANONICAL_WITH_COMMENTS ||
                              mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS;
        const std::string tail = std::string(comments ? "<!--end-->" : "") + "</r>";
        NodeSet whole(document, nullptr, nullptr, false);
        expectSame("<r>" + repeat("<c></c>", children) + tail, canonical(whole, mode));

        NodeSet subset(document,
                       new AndFilter(new NodeTreeFilter(r), new NotFilter(new NodeTreeFilter(cut))),
                       nullptr, false);
        expectSame("<r>" + repeat("<c></c>", children - 1) + tail, canonical(subset, mode));
    }
    expectSame("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>" + repeat("<c />", children) +
                   "<!--end--></r>\n",
               serialized(document));
}
