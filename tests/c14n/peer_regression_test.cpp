// Cases found by comparing the canonicalizer with libxml2 on generated documents
// (tests/peer/c14n_peer.py), reduced to the smallest input that shows the behaviour.
#include <ambrite/xml/c14n.h>

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

std::string canonical(const std::string& xml, DOMCanonicalizer::Mode mode) {
    DocumentPtr doc = parse(xml);
    NodeSet nodes(doc.get(), nullptr, nullptr, false);
    BufferSink sink;
    DOMCanonicalizer::canonicalize(&nodes, &sink, mode, nullptr);
    return bytes(sink);
}

// UTF-8 of the characters used below. U+FF21 (fullwidth A) is one UTF-16 code unit; U+10400
// (Deseret capital long I) is a surrogate pair D801 DC00, which sorts below FF21 by code unit
// but above it by code point.
const std::string kFullwidthA = "\xEF\xBC\xA1";         // U+FF21
const std::string kDeseret = "\xF0\x90\x90\x80";        // U+10400
const std::string kLigature = "\xEF\xAC\x81";           // U+FB01
const std::string kCjkExtB = "\xF0\xA0\x80\x80";        // U+20000

const DOMCanonicalizer::Mode kModes[] = {
    DOMCanonicalizer::CANONICAL, DOMCanonicalizer::CANONICAL_WITH_COMMENTS,
    DOMCanonicalizer::EXCLUSIVE, DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS};

}  // namespace

// Canonical XML 1.0 and Exclusive XML Canonicalization order attributes "lexicographically"
// and define that comparison on UCS code points ("equivalent to lexicographic ordering based
// on UTF-8"). A name holding a character above U+FFFF therefore sorts after one holding a
// character of U+E000..U+FFFF; comparing UTF-16 code units puts it first.
TEST(PeerRegression, AttributesWithoutNamespaceSortByCodePoint) {
    const std::string input =
        "<r " + kDeseret + "=\"1\" " + kFullwidthA + "=\"2\" b=\"3\"/>";
    const std::string expected =
        "<r b=\"3\" " + kFullwidthA + "=\"2\" " + kDeseret + "=\"1\"></r>";
    for (DOMCanonicalizer::Mode mode : kModes) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(expected, canonical(input, mode));
    }
}

TEST(PeerRegression, AttributesOfOneNamespaceSortByCodePointOfLocalName) {
    const std::string input = "<r xmlns:p=\"urn:p\" p:" + kCjkExtB + "y=\"1\" p:" + kLigature +
                              "x=\"2\"/>";
    const std::string expected = "<r xmlns:p=\"urn:p\" p:" + kLigature + "x=\"2\" p:" +
                                 kCjkExtB + "y=\"1\"></r>";
    for (DOMCanonicalizer::Mode mode : kModes) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(expected, canonical(input, mode));
    }
}

TEST(PeerRegression, NamespaceDeclarationsSortByCodePointOfPrefix) {
    const std::string input = "<r xmlns:" + kDeseret + "=\"urn:b\" xmlns:" + kFullwidthA +
                              "=\"urn:a\"/>";
    const std::string expected = "<r xmlns:" + kFullwidthA + "=\"urn:a\" xmlns:" + kDeseret +
                                 "=\"urn:b\"></r>";
    // Inclusive modes only: exclusive ones write neither declaration, as nothing uses them.
    EXPECT_EQ(expected, canonical(input, DOMCanonicalizer::CANONICAL));
    EXPECT_EQ(expected, canonical(input, DOMCanonicalizer::CANONICAL_WITH_COMMENTS));
    const std::string used = "<r xmlns:" + kDeseret + "=\"urn:b\" xmlns:" + kFullwidthA +
                             "=\"urn:a\" " + kDeseret + ":x=\"1\" " + kFullwidthA + ":x=\"2\"/>";
    const std::string usedExpected = "<r xmlns:" + kFullwidthA + "=\"urn:a\" xmlns:" + kDeseret +
                                     "=\"urn:b\" " + kFullwidthA + ":x=\"2\" " + kDeseret +
                                     ":x=\"1\"></r>";
    EXPECT_EQ(usedExpected, canonical(used, DOMCanonicalizer::EXCLUSIVE));
}

// Namespaced attributes sort by namespace name first, by code point as well.
TEST(PeerRegression, AttributesSortByCodePointOfNamespaceName) {
    const std::string input = "<r xmlns:p=\"urn:" + kDeseret + "\" xmlns:q=\"urn:" + kFullwidthA +
                              "\" p:a=\"1\" q:a=\"2\"/>";
    const std::string expected = "<r xmlns:p=\"urn:" + kDeseret + "\" xmlns:q=\"urn:" +
                                 kFullwidthA + "\" q:a=\"2\" p:a=\"1\"></r>";
    for (DOMCanonicalizer::Mode mode : kModes) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(expected, canonical(input, mode));
    }
}
