#include "xpath/xpath_test.h"

namespace {

// Every token as its type letter and text, up to the end of the input.
std::string tokens(XPathTokenizer& t) {
    std::string out;
    for (const XMLCh* s = t.next(); s; s = t.next()) out += "IWVQNOL#"[t.type()] + utf8(s) + " ";
    EXPECT_EQ(XPathTokenizer::INVALID, t.type());
    return out;
}

}  // namespace

TEST(XPathTokenizer, CutsTokensOfEveryTypeAndTrims) {
    // clang-format off
    const Case cases[] = {
        {"child::para[position()=1]", "Nchild O:: Npara O[ Nposition O( O) O= #1 O] "},
        {"@*", "O@ O* "}, {"p:*", "Wp:* "}, {"$a:*", "V$a I: O* "}, {"$p:x $_y", "V$p:x V$_y "},
        {"1.5.3 .5.3", "#1.5 #.3 #.5 #.3 "}, {"1. .. .5 .", "#1. O.. #.5 O. "},
        {"'abc", "I' Nabc "}, {"\"a'b\" 'c\"d'", "L\"a'b\" L'c\"d' "}, {"a!b", "Na I! Nb "},
        {"a!=b", "Na O!= Nb "}, {"a-b a - b a.b", "Na-b Na O- Nb Na.b "},
        {"a::b a:1 b:c:d", "Na O:: Nb Na I: #1 Qb:c I: Nd "},
        {"//a|b<=c>=d<e>f+g=h,i", "O// Na O| Nb O<= Nc O>= Nd O< Ne O> Nf O+ Ng O= Nh O, Ni "},
        {"and or div mod", "Nand Nor Ndiv Nmod "}, {"$ $1 \t\r\n", "I$ I$ #1 "},
        {"n\xC3\xA9", "Nn I\xC3\x83 I\xC2\xA9 "}, {"12x", "#12 Nx "}, {"", ""}, {"  ", ""}};
    // clang-format on
    for (const Case& c : cases) {
        XPathTokenizer t(widen(c.expr).c_str());
        EXPECT_EQ(c.expected, tokens(t)) << c.expr;
    }
    for (const Case& c :
         {Case{"  a b \n", "a b"}, Case{" \t\r\n", ""}, Case{"", ""}, Case{"x", "x"}})
        EXPECT_EQ(c.expected, utf8(String(XPathTokenizer::trim(widen(c.expr).c_str())).get()));
}

TEST(XPathTokenizer, ReplaysPushedBackTokensFromItsRing) {
    XPathTokenizer t(u"a + 'b' ( 4");
    for (const char16_t* s : {u"a", u"+", u"'b'", u"("}) EXPECT_EQ(s, u16(t.next()));
    EXPECT_EQ(u" 4", u16(t.remainder()));
    for (const char16_t* s : {u"(", u"'b'", u"+", u"a"}) EXPECT_EQ(s, u16(t.undo()));
    EXPECT_EQ(XPathTokenizer::OPERATOR, t.type());  // undo leaves the type alone
    EXPECT_EQ(u" 4", u16(t.remainder()));
    EXPECT_EQ("Na O+ L'b' O( #4 ", tokens(t));
    EXPECT_EQ(nullptr, t.peek());
    XPathTokenizer u(u"x y");
    EXPECT_EQ(u"x", u16(u.peek()));
    EXPECT_EQ(XPathTokenizer::NAME, u.type());
    EXPECT_EQ(u" y", u16(u.remainder()));
    EXPECT_EQ(u"x", u16(u.next()));
}

// The hooks a derived tokenizer uses: its own token shapes and its own unescaping.
TEST(XPathTokenizer, LetsDerivedTokenizersScanAndUnescape) {
    struct Caret : XPathTokenizer {
        using XPathTokenizer::XPathTokenizer;
        Type nextImpl() override {
            if (text_[position_] != u'^') return XPathTokenizer::nextImpl();
            start_ = position_;
            position_ += 2;
            return LITERAL;
        }
        XMLCh* unescape(XMLCh* start, unsigned int length) override {
            return internal::dupString(start[0] == u'^' ? u"!!" : start, length);
        }
    } t(u"a^(b");
    EXPECT_EQ("Na L!! Nb ", tokens(t));
    sweep([] {
        for (Caret c(u"f(^), 'x')"); c.next();) continue;
    });
}
