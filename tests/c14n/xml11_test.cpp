// Canonical XML is XML 1.0 text. The characters an XML 1.1 document may hold only as references
// are the C0 controls, which no XML 1.0 text holds in any form, and the C1 controls and DEL,
// which XML 1.0 holds as themselves: the first fail the canonicalization, the others are
// written as they are, as in XML 1.0 documents.
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/nodeset.h>
#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>

#include "streams/stream_doubles.h"

using namespace amxml_test;
using C14n::DOMCanonicalizer;

namespace {

// The canonical form through the octet sink and through a character sink, which must agree.
std::string canonical(DOMDocument* d, NodeSet::Filter* filter = nullptr) {
    NodeSet set(d, filter, nullptr, false);
    BufferSink octets;
    std::string failure;
    std::string viaOctets, viaCharacters;
    viaOctets = thrown([&] {
        DOMCanonicalizer::canonicalize(&set, &octets, DOMCanonicalizer::CANONICAL, nullptr);
    });
    RecordingSink characters;
    viaCharacters = thrown([&] {
        DOMCanonicalizer::canonicalize(&set, &characters, DOMCanonicalizer::CANONICAL, nullptr);
    });
    EXPECT_EQ(viaOctets, viaCharacters);
    if (viaOctets != "no exception") return viaOctets;
    EXPECT_EQ(bytes(octets), utf8(characters.text()));
    return bytes(octets);
}

}  // namespace

TEST(DOMCanonicalizerXml11, RefusesC0ControlsAndWritesTheOthers) {
    const std::pair<std::string, std::string> kCases[] = {
        {"<a>&#x1;</a>", "13006: Uncanonicalizable character: U+0001"},
        {"<a>0123456789abcdef0123&#x1F;</a>", "13006: Uncanonicalizable character: U+001F"},
        {"<a b='x&#xB;'/>", "13006: Uncanonicalizable character: U+000B"},
        {"<a><b>&#x8;</b></a>", "13006: Uncanonicalizable character: U+0008"},
        {"<a b='&#x9;&#xA;&#xD;'>&#x9;&#xA;&#xD;</a>", "<a b=\"&#x9;&#xA;&#xD;\">\t\n&#xD;</a>"},
        {"<a b='&#x7F;&#x85;'>&#x7F;&#x80;&#x85;&#x9F;&#x2028;</a>",
         "<a b=\"\x7F\xC2\x85\">\x7F\xC2\x80\xC2\x85\xC2\x9F\xE2\x80\xA8</a>"},
    };
    for (const auto& [body, expected] : kCases) {
        SCOPED_TRACE(body);
        DocumentPtr d = parse("<?xml version='1.1'?>" + body);
        EXPECT_EQ(expected, canonical(d.get()));
    }
}

// Only what is written counts: a control in a part of the document left out is no failure.
TEST(DOMCanonicalizerXml11, ControlsOutsideTheNodeSetDoNotCount) {
    DocumentPtr d = parse("<?xml version='1.1'?><r><a>&#x1;</a><b>t</b></r>");
    DOMNode* a = d->getDocumentElement()->getFirstChild();
    EXPECT_EQ("<r><b>t</b></r>", canonical(d.get(), new NotFilter(new NodeTreeFilter(a))));
}

// XML 1.0 documents are written as before, C1 controls as themselves.
TEST(DOMCanonicalizerXml11, LeavesXml10AsItWas) {
    DocumentPtr d = parse("<a b='\xC2\x85'>\xC2\x80\x7F&#x9F;</a>");
    EXPECT_EQ("<a b=\"\xC2\x85\">\xC2\x80\x7F\xC2\x9F</a>", canonical(d.get()));
}
