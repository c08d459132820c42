// XML 1.1 documents written by the serializer stay XML 1.1: the declaration keeps the version,
// and the characters XML 1.1 takes only as references, or reads as line breaks when written as
// themselves, are written as references, so that the output parses to the same document.
#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

std::string serialized(DOMNode* node, const DOMSerializer::Parameters* parameters = nullptr) {
    BufferSink sink;
    DOMSerializer::serialize(node, sink, parameters);
    return bytes(sink);
}

const char kDecl11[] = "<?xml version=\"1.1\" encoding=\"UTF-8\"?>\n";

}  // namespace

TEST(DOMSerializerXml11, KeepsTheVersionAndWritesControlsAsReferences) {
    const std::pair<std::string, std::string> kCases[] = {
        {"<?xml version='1.1'?><a>&#x1;&#x8;&#xB;&#xC;&#xE;&#x1F;</a>",
         "<a>&#x1;&#x8;&#xB;&#xC;&#xE;&#x1F;</a>"},
        {"<?xml version='1.1'?><a>&#x7F;&#x80;&#x84;&#x85;&#x86;&#x9F;&#xA0;&#x2028;&#x2029;</a>",
         "<a>&#x7F;&#x80;&#x84;&#x85;&#x86;&#x9F;\xC2\xA0&#x2028;\xE2\x80\xA9</a>"},
        // Tab, line feed and carriage return keep the references of XML 1.0.
        {"<?xml version='1.1'?><a b='&#x9;&#xA;&#xD;&#x1;&#x85;'>&#x9;&#xA;&#xD;</a>",
         "<a b=\"&#x9;&#xA;&#xD;&#x1;&#x85;\">\t\n&#xD;</a>"},
        // Long runs, so that eight units are looked at together, and a control at their end.
        {"<?xml version='1.1'?><a b='0123456789abcdef&#x2;'>0123456789abcdef&#x80;xyz</a>",
         "<a b=\"0123456789abcdef&#x2;\">0123456789abcdef&#x80;xyz</a>"},
        // Raw C1 controls are no XML 1.1 characters; references in CDATA sections are text.
        {"<?xml version='1.1'?><a><![CDATA[&#x80;<]]>\xF0\x9F\x98\x80</a>",
         "<a>&amp;#x80;&lt;\xF0\x9F\x98\x80</a>"},
    };
    for (const auto& [in, out] : kCases) {
        SCOPED_TRACE(in);
        DocumentPtr d = parse(in);
        const std::string written = serialized(d.get());
        EXPECT_EQ(kDecl11 + out + "\n", written);
        // The output is XML 1.1 that reads back as the same document.
        DocumentPtr again = parse(written);
        EXPECT_EQ(u16(d->getDocumentElement()->getTextContent()),
                  u16(again->getDocumentElement()->getTextContent()));
        EXPECT_EQ(u16(d->getDocumentElement()->getAttribute(u"b")),
                  u16(again->getDocumentElement()->getAttribute(u"b")));
    }
}

TEST(DOMSerializerXml11, SubtreesTakeTheVersionOfTheirDocument) {
    DocumentPtr d = parse("<?xml version='1.1'?><r><a>&#x3;</a></r>");
    DOMNode* a = d->getDocumentElement()->getFirstChild();
    EXPECT_EQ(std::string(kDecl11) + "<a>&#x3;</a>\n", serialized(a));
    const DOMSerializer::Parameters bare(false, nullptr, nullptr, nullptr);
    EXPECT_EQ("<a>&#x3;</a>", serialized(a, &bare));
}

// XML 1.0 output is as it was: C1 controls are ordinary characters there.
TEST(DOMSerializerXml11, LeavesXml10AsItWas) {
    DocumentPtr d = parse("<a b='\xC2\x85'>\xC2\x80&#x85;\xE2\x80\xA8</a>");
    EXPECT_EQ(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a b=\"\xC2\x85\">\xC2\x80\xC2\x85"
        "\xE2\x80\xA8</a>\n",
        serialized(d.get()));
    DocumentPtr built(DOMUtil::newDocument());
    built->appendChild(built->createElement(u"e"));
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<e />\n", serialized(built.get()));
}
