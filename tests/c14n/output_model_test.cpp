// The canonicalizer's two outputs against a model: UTF-16 text escaped unit by unit, and its
// UTF-8 form as the reference encoder of the test support writes it.
#include <gtest/gtest.h>

#include <random>

#include "support/test_support.h"

using namespace amxml_test;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

// Both escape &, < and CR; text escapes >, attributes ", tab and LF.
std::u16string escaped(const std::u16string& s, bool attribute) {
    const std::u16string units = attribute ? u"&<\r\"\t\n" : u"&<\r>";
    const char16_t* const kReferences[] = {
        u"&amp;", u"&lt;", u"&#xD;", attribute ? u"&quot;" : u"&gt;", u"&#x9;", u"&#xA;"};
    std::u16string out;
    for (char16_t c : s) {
        const std::size_t at = units.find(c);
        at == std::u16string::npos ? out += c : out += kReferences[at];
    }
    return out;
}

// Strings that exercise every escape, multi-byte units, pairs, lone surrogates and the lengths
// around the writer's eight-unit steps and chunks.
std::u16string randomText(std::mt19937& rng) {
    static const char16_t kUnits[] = {u'a',   u'Z',   u' ',   u'&',   u'<',   u'>',  u'"',  u'\t',
                                      u'\n',  u'\r',  0x01,   0x7F,   0x80,   0xE9,  0x7FF, 0x800,
                                      0x20AC, 0xFFFF, 0xD83D, 0xDE00, 0xDBFF, 0xDC00};
    std::uniform_int_distribution<int> kind(0, 9);
    int k = kind(rng);
    std::size_t length = k < 6 ? rng() % 20 : k < 9 ? 1 + rng() % 40 : 4000 + rng() % 300;
    bool plain = rng() % 3 == 0;
    std::u16string s;
    for (std::size_t i = 0; i < length; ++i) {
        if (plain && rng() % 16) {
            s += static_cast<char16_t>(u'a' + rng() % 26);
        } else if (rng() % 5 == 0) {
            s += u"\xD83D\xDE00";
        } else {
            s += kUnits[rng() % (sizeof kUnits / sizeof kUnits[0])];
        }
    }
    return s;
}

}  // namespace

TEST(DOMCanonicalizer, OutputsMatchAnEscapingAndEncodingModel) {
    std::mt19937 rng(20261206);
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        DocumentPtr doc(DOMUtil::newDocument());
        DOMElement* root = doc->createElement(u"r");
        doc->appendChild(root);
        std::u16string expected = u"<r>";
        int children = (round == 0 ? 3 : 1) + static_cast<int>(rng() % 12);
        for (int i = 0; i < children; ++i) {
            // The first round starts with a pair split across two text nodes, then a lone half.
            const char16_t* const kSplit[] = {u"a\xD83D",
                                              u"\xDE00"
                                              u"b\xD83D"};
            std::u16string text = round == 0 && i < 2 ? kSplit[i] : randomText(rng);
            if ((round == 0 && i < 2) || rng() % 2) {
                root->appendChild(doc->createTextNode(text.c_str()));
                expected += escaped(text, false);
            } else {
                DOMElement* e = doc->createElement(u"e");
                e->setAttribute(u"v", text.c_str());
                root->appendChild(e);
                expected += u"<e v=\"" + escaped(text, true) + u"\"></e>";
            }
        }
        expected += u"</r>";

        NodeSet nodes(doc.get(), nullptr, nullptr, false);
        RecordingSink characters;
        DOMCanonicalizer::canonicalize(&nodes, &characters, DOMCanonicalizer::CANONICAL, nullptr);
        ASSERT_EQ(expected, characters.text());
        ASSERT_FALSE(characters.closed);
        ASSERT_EQ(utf8(expected), canonical(doc.get(), nullptr, DOMCanonicalizer::CANONICAL));
    }
}
