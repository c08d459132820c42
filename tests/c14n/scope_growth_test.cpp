// Scopes grow with the bindings, not with the depth: nested elements that each declare a new
// prefix once made every element copy the whole scope of its parent, so that 8,000 levels took
// seconds in inclusive mode and 50,000 would have needed some 20 GB.
#include <ambrite/xml/c14n.h>

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;
using Ambrite::XML::C14n::DOMCanonicalizer;

TEST(DOMCanonicalizer, NestedDeclarationsNeedNoScopeCopies) {
    const int depth = 50000;
    std::string xml;
    for (int i = 0; i < depth; ++i) {
        xml += "<e xmlns:p" + std::to_string(i) + "=\"urn:" + std::to_string(i) + "\">";
    }
    for (int i = 0; i < depth; ++i) xml += "</e>";
    DocumentPtr d = parse(xml);
    for (DOMCanonicalizer::Mode mode : {DOMCanonicalizer::CANONICAL, DOMCanonicalizer::EXCLUSIVE}) {
        NodeSet whole(d.get(), nullptr, nullptr, false);
        BufferSink sink;
        DOMCanonicalizer::canonicalize(&whole, &sink, mode, nullptr);
        // Exclusive mode writes no declaration that nothing uses.
        std::string expected = mode == DOMCanonicalizer::CANONICAL ? xml : "";
        if (expected.empty()) {
            for (int i = 0; i < depth; ++i) expected += "<e>";
            for (int i = 0; i < depth; ++i) expected += "</e>";
        }
        std::string out = bytes(sink);
        ASSERT_EQ(expected.size(), out.size());
        EXPECT_TRUE(expected == out);
    }
}
