#include <gtest/gtest.h>

#include <climits>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;

TEST(Format, Directives) {
    const char* noChars = nullptr;
    const XMLCh *noWide = nullptr, *wide = u"wide";
    DocumentPtr doc = parse("<root/>");
    // DOMNode is not the first base of DOMDocument: a document is passed as a DOMNode pointer.
    const DOMNode *root = doc->getDocumentElement(), *document = doc.get(), *noNode = nullptr;
    // clang-format off
    struct Case { std::u16string actual; const char16_t* expected; };
    const Case kCases[] = {
        {Format("").str(), u""},  {Format("abc%").str(), u"abc?"},
        {Format("a%%b%q%5d%ld|x%\xE9y%S", u"!").str(), u"a%b??d?d|x?y!"},  // no argument taken
        {Format("%S|%W", u"w\xD83D\xDE00", u"").str(), u"w\xD83D\xDE00|"},
        {Format("%s|%w", "n", "\xE9").str(), u"n|\xFFE9"},  // bytes widened as signed
        {Format("%S %W %s %w %X", noWide, noWide, noChars, noChars, noNode).str(),
            u"Null Null Null Null Null"},
        {Format("<%X>%X", root, document).str(), u"<root>#document"},
        {Format("%b %b %b", 0, 2, true).str(), u"false true true"},
        {Format("%d/%x", -1, 255).str(), u"-1/ff"}, {Format("%c%c", 'A', 0xE9).str(), u"A\xFFE9"},
        {Format("%d %d %x", INT_MIN, INT_MAX, INT_MIN).str(), u"-2147483648 2147483647 80000000"},
        // Each argument read at its own width: a pointer after an int and a bool stays whole.
        {Format("%d %S %b %s %d", 7, wide, true, "narrow", -3).str(), u"7 wide true narrow -3"},
        {Format("%x|%S|%x", -1, wide, 0x41).str(), u"ffffffff|wide|41"},
    };
    // clang-format on
    for (const Case& c : kCases) EXPECT_EQ(std::u16string(c.expected), c.actual);
}

TEST(Format, GrowsPast128Units) {
    for (std::size_t n : {1u, 126u, 127u, 128u, 129u, 255u, 256u, 1000u}) {
        std::u16string arg(n, u'x');
        std::string plain(n, 'p');
        EXPECT_EQ(u"[" + arg + u"]", u16(Format("[%S]", arg.c_str()))) << n;
        EXPECT_EQ(widen(plain) + u"?", u16(Format((plain + "%").c_str()))) << n;
    }
}

TEST(Exception, PrintedForms) {
    const char* noMessage = nullptr;
    const std::string e = "Ambrite::XML::Exception";
    EXPECT_EQ(e + ": msg", printed(Exception(0, "msg")));
    EXPECT_EQ(e + " 3: ", printed(Exception(3, noMessage)));
    EXPECT_EQ(e + " -7: 100%d", printed(Exception(-7, "100%d")));  // a plain message is text
    EXPECT_EQ(e + " 18: a (in <unknown> line 4294967295)",
              printed(Exception(nullptr, 4294967295u, 18, "a")));
    Exception wide(nullptr, 0, 1, Format("a%Sb%c%S", u"\x263A", 0xFF, u"\xFF"));
    EXPECT_EQ(e + " 1: a?b?\xFF (in <unknown> line 0)", printed(wide));  // units >= 256 as '?'
    EXPECT_STREQ("a?b?\xFF", wide.what().c_str());
    EXPECT_EQ(wide.what().c_str(), static_cast<const char*>(wide.what()));  // made once
}

TEST(Exception, RethrowAppendsPlacesAndCopiesAreIndependent) {
    std::unique_ptr<Exception> cause(new Exception("f1", 1, 14, Format("Unbound: %S", u"v")));
    Exception copy(*cause), rethrown("f2", 2, *cause);
    cause.reset();
    Exception again(nullptr, 3, rethrown);
    EXPECT_EQ(14, again.id());
    EXPECT_EQ("Ambrite::XML::Exception 14: Unbound: v (in f1 line 1)", printed(copy));
    EXPECT_EQ(
        "Ambrite::XML::Exception 14: Unbound: v (in f1 line 1; called from f2 line 2; "
        "called from <unknown> line 3)",
        printed(again));
}
