#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

std::string streamed(const Format& f) {
    std::ostringstream s;
    s << f;
    return s.str();
}

}  // namespace

TEST(Format, DirectivesTable) {
    struct Case {
        std::u16string actual;
        const char16_t* expected;
    };
    const char* noChars = nullptr;
    const XMLCh* noWide = nullptr;
    const Case kCases[] = {
        {Format("a%%b").str(), u"a%b"},
        {Format("%q").str(), u"?"},
        {Format("abc%").str(), u"abc?"},
        {Format("%").str(), u"?"},
        {Format("").str(), u""},
        {Format("%S|%W", u"w\xD83D\xDE00", u"").str(), u"w\xD83D\xDE00|"},
        {Format("%S %W", noWide, noWide).str(), u"Null Null"},
        {Format("%s|%w", "n", "\xE9").str(), u"n|\xFFE9"},
        {Format("%s %w", noChars, noChars).str(), u"Null Null"},
        {Format("%b %b %b", 0, 2, true).str(), u"false true true"},
        {Format("%d/%x", -1, 255).str(), u"-1/ff"},
        {Format("%d %d %x", INT_MIN, INT_MAX, INT_MIN).str(), u"-2147483648 2147483647 80000000"},
        {Format("%c%c%c", 'A', 0x7A, 0xE9).str(), u"Az\xFFE9"},
        {Format("%5d", 7).str(), u"?d"},
        {Format("%ld%S", u"x").str(), u"?dx"},  // neither consumes an argument
        {Format("x%\xE9y").str(), u"x?y"},
    };
    for (const Case& c : kCases) EXPECT_EQ(std::u16string(c.expected), c.actual);
}

TEST(Format, ReadsEachArgumentByItsOwnWidth) {
    // A pointer after an int and a bool: read as 32-bit words these would be torn apart.
    const XMLCh* wide = u"wide";
    EXPECT_EQ(u"7 wide true narrow -3", u16(Format("%d %S %b %s %d", 7, wide, true, "narrow", -3)));
    EXPECT_EQ(u"ffffffff|wide|41", u16(Format("%x|%S|%x", -1, wide, 0x41)));
}

TEST(Format, NodeNamesFromRealNodes) {
    DOMDocument* doc =
        xercesc::DOMImplementationRegistry::getDOMImplementation(u"Core")->createDocument(
            nullptr, u"root", nullptr);
    DOMNode* root = doc->getDocumentElement();
    DOMNode* text = doc->createTextNode(u"t");
    root->appendChild(text);
    const DOMNode* none = nullptr;
    // DOMNode is not the first base of DOMDocument: a document goes through the varargs as a
    // DOMNode pointer.
    const DOMNode* document = doc;
    EXPECT_EQ(u"<root>#text|#document|Null",
              u16(Format("<%X>%X|%X|%X", root, text, document, none)));
    doc->release();
}

TEST(Format, GrowsPastInitialCapacity) {
    for (std::size_t n : {1u, 126u, 127u, 128u, 129u, 255u, 256u, 300u, 1000u}) {
        SCOPED_TRACE(n);
        std::u16string arg(n, u'x');
        arg[n - 1] = u'y';
        EXPECT_EQ(u"[" + arg + u"]", u16(Format("[%S]", arg.c_str())));
        std::string plain(n, 'p');
        EXPECT_EQ(widen(plain), u16(Format(plain.c_str())));
        EXPECT_EQ(widen(plain) + u"?", u16(Format((plain + "%").c_str())));
    }
    // Growth in the middle of a rendered number and of a "Null".
    std::u16string pad(125, u'-');
    const XMLCh* none = nullptr;
    EXPECT_EQ(pad + u"-123456%" + pad + u"Null",
              u16(Format("%S%d%%%S%S", pad.c_str(), -123456, pad.c_str(), none)));
}

TEST(Format, NarrowViewAndStreamReplaceWideUnits) {
    Format f("a%Sb\xE9", u"\x263A\x00FF");
    const char* narrow = f.c_str();
    EXPECT_STREQ(
        "a?\xFF"
        "b?",
        narrow);
    EXPECT_EQ(narrow, f.c_str());
    EXPECT_EQ(narrow, static_cast<const char*>(f));
    EXPECT_EQ(
        "a?\xFF"
        "b?",
        streamed(f));
}

TEST(Format, CopyIsIndependent) {
    std::unique_ptr<Format> original(new Format("%s-%d", "k", 4));
    const char* narrow = original->c_str();
    Format copy(*original);
    EXPECT_NE(original->str(), copy.str());
    EXPECT_NE(narrow, copy.c_str());
    original.reset();
    EXPECT_EQ(u"k-4", u16(copy));
    EXPECT_STREQ("k-4", copy.c_str());
}
