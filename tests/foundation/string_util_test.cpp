#include <gtest/gtest.h>

#include <memory>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

struct Freed {
    void operator()(XMLCh* p) const { utfree(p); }
};
typedef std::unique_ptr<XMLCh, Freed> Owned;

int sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

TEST(StringUtil, CopyWidensBytesAsSigned) {
    XMLCh out[4] = {1, 1, 1, 1};
    EXPECT_EQ(out, StringUtil::copy(out, "A\xE9"));
    EXPECT_EQ(std::u16string(u"\x0041\xFFE9"), std::u16string(out));
    EXPECT_EQ(1, out[3]);  // nothing written past the terminator
}

TEST(StringUtil, NcopyCopiesEmbeddedTerminatorsAndTerminates) {
    const XMLCh src[] = {u'a', 0, u'b', u'c'};
    XMLCh out[5] = {9, 9, 9, 9, 9};
    StringUtil::ncopy(out, src, 3);
    EXPECT_EQ(std::u16string(u"a\0b\0", 4), std::u16string(out, 4));
    EXPECT_EQ(9, out[4]);
}

TEST(StringUtil, CompareTable) {
    // clang-format off
    struct Case { const char16_t* a; const char16_t* b; unsigned n; int cmp; int ncmp; };
    const Case kCases[] = {
        {u"ab", u"abc", 3, -1, -1},     {u"abc", u"ab", 3, 1, 1}, {u"abcd", u"abxy", 2, -1, 0},
        {u"abcd", u"abxy", 3, -1, -1},  {u"x", u"y", 0, -1, 0},   {u"", u"", 5, 0, 0},
        {u"a", u"a", 9, 0, 0},          {u"\xFFFF", u"a", 1, 1, 1}, {u"\xD800", u"\xE000", 1, -1, -1},
    };
    // clang-format on
    for (const Case& c : kCases) {
        SCOPED_TRACE(utf8(c.a) + " vs " + utf8(c.b));
        EXPECT_EQ(c.cmp, sign(StringUtil::cmp(c.a, c.b)));
        EXPECT_EQ(c.ncmp, sign(StringUtil::ncmp(c.a, c.b, c.n)));
    }
    EXPECT_EQ(-u'c', StringUtil::cmp(u"ab", u"abc"));
    EXPECT_EQ(0xFFFF - u'a', StringUtil::cmp(u"\xFFFF", u"a"));
}

TEST(StringUtil, EqAndComparatorOrderNullFirst) {
    EXPECT_TRUE(StringUtil::eq(nullptr, nullptr));
    EXPECT_FALSE(StringUtil::eq(nullptr, u""));
    EXPECT_FALSE(StringUtil::eq(u"", nullptr));
    EXPECT_TRUE(StringUtil::eq(u"", u""));
    EXPECT_FALSE(StringUtil::eq(u"a", u"ab"));
    StringComparator less;
    EXPECT_TRUE(less(nullptr, u""));
    EXPECT_FALSE(less(u"", nullptr));
    EXPECT_FALSE(less(nullptr, nullptr));
    EXPECT_TRUE(less(u"", u"a"));
    EXPECT_FALSE(less(u"a", u"a"));
    EXPECT_TRUE(less(u"a", u"\xFF00"));
}

TEST(StringUtil, FindTable) {
    // Position of the match, -1 for none.
    struct Case {
        const char16_t* s;
        const char16_t* sub;
        int at;
    };
    const Case kCases[] = {{u"abc", u"", 0},   {u"", u"", 0},       {u"ab", u"abc", -1},
                           {u"aab", u"ab", 1}, {u"aab", u"aab", 0}, {u"aab", u"ba", -1}};
    for (const Case& c : kCases) {
        const XMLCh* found = StringUtil::find(c.s, c.sub);
        EXPECT_EQ(c.at, found ? static_cast<int>(found - c.s) : -1) << utf8(c.s) << utf8(c.sub);
    }
    const XMLCh* abc = u"abc";
    EXPECT_EQ(nullptr, StringUtil::find(abc, XMLCh(0)));
    EXPECT_EQ(nullptr, StringUtil::find(u"", u'a'));
    EXPECT_EQ(abc + 2, StringUtil::find(abc, u'c'));
}

TEST(StringUtil, DupCopiesAndKeepsNull) {
    EXPECT_EQ(nullptr, StringUtil::dup(nullptr));
    const XMLCh src[] = u"x\xD83D\xDE00y";
    Owned copy(StringUtil::dup(src));
    EXPECT_NE(src, copy.get());
    EXPECT_EQ(u16(src), u16(copy.get()));
}

TEST(StringBuffer, GrowsByDoublingPlusNeeded) {
    StringBuffer b(0);
    EXPECT_EQ(1u, b.capacity());
    b.append(u'a');
    EXPECT_EQ(3u, b.capacity());
    b.append(u'b');
    EXPECT_EQ(3u, b.capacity());  // length 2 < capacity 3: no growth
    b.append(u'c');
    EXPECT_EQ(7u, b.capacity());
    b.append(u"0123456", 7);  // 7 + 3 >= 7: 7 + 2 * 7
    EXPECT_EQ(21u, b.capacity());
    EXPECT_EQ(u"abc0123456", u16(b));
    EXPECT_EQ(10u, b.length());
}

TEST(StringBuffer, ReadTwiceTruncateAndContinue) {
    StringBuffer b(4);
    b.append(u"hello");
    EXPECT_EQ(u"hello", u16(b));
    EXPECT_EQ(u"hello", u16(b));
    b.truncate(9);
    EXPECT_EQ(5u, b.length());
    b.truncate(2).append(u'y');
    EXPECT_EQ(u"hey", u16(b));
    b.append(u"\0z", 2);
    EXPECT_EQ(5u, b.length());
    EXPECT_EQ(std::u16string(u"hey\0z", 5), std::u16string(static_cast<const XMLCh*>(b), 5));
}

TEST(StringBuffer, AppendsItsOwnTextWhileGrowing) {
    StringBuffer b(4);
    b.append(u"abc");
    b.append(b);  // the source lives in the block that growth replaces
    EXPECT_EQ(u"abcabc", u16(b));
    b.append(static_cast<const XMLCh*>(b) + 4, 2);
    EXPECT_EQ(u"abcabcbc", u16(b));
}

TEST(StringBuffer, ReleaseHandsOverTerminatedText) {
    StringBuffer b(1);
    b.append(u"xy");
    Owned text(b.release());
    EXPECT_EQ(u"xy", u16(text.get()));
    StringBuffer empty(0);
    Owned none(empty.release());
    EXPECT_EQ(u"", u16(none.get()));
}
