#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;

namespace {
int sign(int v) { return (v > 0) - (v < 0); }
}  // namespace

TEST(StringUtil, CopiesWidenSignedAndTerminate) {
    XMLCh out[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(out, StringUtil::copy(out, "A\xE9"));
    EXPECT_EQ(std::u16string(u"A\xFFE9\0\x9", 4), std::u16string(out, 4));
    const XMLCh src[] = {u'a', 0, u'b', u'c'};
    StringUtil::ncopy(out, src, 3);  // embedded terminators copied too
    EXPECT_EQ(std::u16string(u"a\0b\0\x9", 5), std::u16string(out, 5));
    EXPECT_EQ(nullptr, StringUtil::dup(nullptr));
    EXPECT_EQ(u"x\xD83D\xDE00y", u16(Owned(StringUtil::dup(u"x\xD83D\xDE00y")).get()));
}

TEST(StringUtil, CompareAndFind) {
    // clang-format off
    struct Case { const char16_t* a; const char16_t* b; unsigned n; int cmp; int ncmp; int at; };
    const Case kCases[] = {  // `at`: where b is found in a, -1 for nowhere
        {u"ab", u"abc", 3, -1, -1, -1},      {u"abc", u"ab", 3, 1, 1, 0},
        {u"abcd", u"abxy", 2, -1, 0, -1},    {u"abcd", u"abxy", 3, -1, -1, -1},
        {u"x", u"y", 0, -1, 0, -1},          {u"", u"", 5, 0, 0, 0},
        {u"aab", u"aab", 9, 0, 0, 0},        {u"aab", u"ab", 2, -1, -1, 1},
        {u"aab", u"", 1, 1, 1, 0},           {u"\xFFFF", u"a", 1, 1, 1, -1},
        {u"\xD800", u"\xE000", 1, -1, -1, -1},
    };
    // clang-format on
    StringComparator less;
    for (const Case& c : kCases) {
        SCOPED_TRACE(utf8(c.a) + " vs " + utf8(c.b));
        EXPECT_EQ(c.cmp, sign(StringUtil::cmp(c.a, c.b)));
        EXPECT_EQ(c.ncmp, sign(StringUtil::ncmp(c.a, c.b, c.n)));
        EXPECT_EQ(c.cmp == 0, StringUtil::eq(c.a, c.b));
        EXPECT_EQ(c.cmp < 0, less(c.a, c.b));
        const XMLCh* found = StringUtil::find(c.a, c.b);
        EXPECT_EQ(c.at, found ? static_cast<int>(found - c.a) : -1);
    }
    // A null string equals only null and sorts first.
    EXPECT_TRUE(StringUtil::eq(nullptr, nullptr) && less(nullptr, u""));
    EXPECT_FALSE(StringUtil::eq(nullptr, u"") || StringUtil::eq(u"", nullptr));
    EXPECT_FALSE(less(u"", nullptr) || less(nullptr, nullptr));
    const XMLCh* abc = u"abc";
    EXPECT_EQ(abc + 2, StringUtil::find(abc, u'c'));
    EXPECT_EQ(nullptr, StringUtil::find(abc, XMLCh(0)));  // never the terminator
}

TEST(StringBuffer, SelfAppendTruncateAndRelease) {
    StringBuffer b(4);
    b.append(u"abc");
    b.append(b);  // the source lives in the block that growth replaces
    EXPECT_EQ(u"abcabc", u16(b));
    b.truncate(9);
    EXPECT_EQ(6u, b.length());
    b.truncate(2).append(u'y').append(u"\0z", 2);
    Owned text(b.release());
    EXPECT_EQ(std::u16string(u"aby\0z\0", 6), std::u16string(text.get(), 6));
    EXPECT_EQ(u"", u16(Owned(StringBuffer(0).release()).get()));
}
