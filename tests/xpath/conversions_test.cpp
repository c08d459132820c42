#include "xpath/xpath_test.h"

namespace {

std::string text(XMLCh* s) { return utf8(String(s).get()); }
double number(const std::string& s) { return XPathUtil::number(widen(s).c_str()); }

}  // namespace

TEST(XPathUtil, ReadsNumbersOfTheXPathShapeOnly) {
    // clang-format off
    const struct { std::string text; double value; } cases[] = {{" 12 ", 12}, {"-3.50", -3.5},
        {"\t\r\n7\n", 7}, {"1.", 1}, {"0.25", 0.25}, {"007", 7}, {"0.1", 0.1},
        {"123456789012345678901234567890", 1.2345678901234568e29},
        {"9007199254740993", 9007199254740992}, {std::string(400, '9') + ".5", INFINITY},
        {"-" + std::string(330, '1'), -INFINITY}, {"0." + std::string(400, '0') + "1", 0}};
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(c.value, number(c.text)) << c.text;
    EXPECT_TRUE(std::signbit(number("-0")));
    // clang-format off
    for (const char* nan : {"1e3", "+1", ".5", "", "  ", "abc", "-", "1 2", "- 1", "1..", "0x10",
                            "1,5", "NaN", "Infinity", "\xA0" "1"}) {
        EXPECT_TRUE(std::isnan(number(nan))) << nan;
    }
    // clang-format on
}

TEST(XPathUtil, WritesNumbersInPlainDecimalWithTheShortestDigits) {
    // clang-format off
    const struct { double value; std::string text; } cases[] = {{NAN, "NaN"},
        {INFINITY, "Infinity"}, {-INFINITY, "-Infinity"}, {0.0, "0"}, {-0.0, "0"},
        {-2.5, "-2.5"}, {100000, "100000"}, {1e22, "10000000000000000000000"},
        {0.1 + 0.2, "0.30000000000000004"}, {1.0 / 3, "0.3333333333333333"}, {1e-6, "0.000001"},
        {0.00001, "0.00001"}, {-1e-7, "-0.0000001"}, {123456789.125, "123456789.125"},
        {1.5e-10, "0.00000000015"}, {std::ldexp(1.0, 70), "1180591620717411300000"},
        {9007199254740993.0, "9007199254740992"},
        {1.7976931348623157e308, "17976931348623157" + std::string(292, '0')},
        {5e-324, "0." + std::string(323, '0') + "5"}};
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(c.text, text(XPathUtil::string(c.value)));
    EXPECT_EQ("true false", text(XPathUtil::string(true)) + " " + text(XPathUtil::string(false)));
}

// Every double survives the way to text and back, so number(string(x)) never loses data.
TEST(XPathUtil, NumbersRoundTripThroughText) {
    std::mt19937_64 random(13);
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (i % 2) d = std::ldexp(double(bits >> 11), int(random() % 120) - 60);
        if (std::isnan(d) || std::isinf(d)) continue;
        std::string s = text(XPathUtil::string(d));
        ASSERT_EQ(d, number(s)) << s;
        ASSERT_EQ(std::string::npos, s.find_first_of("eE+")) << s;
    }
}

// The string values of the document, comments and processing instructions are compared with
// libxml2's in tests/xpath/peer.
TEST(XPathUtil, GivesStringValuesOfNodes) {
    Env env("<!DOCTYPE a><a q='1 &amp; 2'>x<b>y<![CDATA[<c>]]></b><!--c-->z</a>");
    DOMElement* a = env.el("a");
    DOMNode* doctype = env.doc->getFirstChild();
    EXPECT_EQ("xy<c>z", text(XPathUtil::string(a)));
    EXPECT_EQ("1 & 2", text(XPathUtil::string(a->getAttributeNode(u"q"))));
    EXPECT_EQ("", text(XPathUtil::string(static_cast<DOMNode*>(nullptr))));
    EXPECT_EQ("14: Unhandled node: Type 10", thrown([&] { text(XPathUtil::string(doctype)); }));
    EXPECT_EQ("14: Unhandled node: Type 10", thrown([&] { XPathUtil::number(doctype); }));
    a->getAttributeNode(u"q")->appendChild(env.doc->createTextNode(u"3"));  // a value of two
    EXPECT_EQ("1 & 23", text(XPathUtil::string(a->getAttributeNode(u"q"))));
    EXPECT_EQ(123.0, XPathUtil::number(env.doc->createTextNode(u" 123 ")));
    std::string deep;  // deeper than the walk keeps parents at hand
    for (int i = 0; i < 40; ++i) deep = "<b>" + deep + "</b>" + std::to_string(i % 10);
    EXPECT_EQ("0123456789012345678901234567890123456789",
              text(XPathUtil::string(Env("<a>" + deep + "</a>").root())));
}

TEST(XPathUtil, ConvertsNodeSetsByTheirFirstNodeInDocumentOrder) {
    Env env("<r><a>1</a><b>2</b></r>");
    std::unique_ptr<XPath::Iterator> empty(XPathUtil::nodeSet(Nodes())), ba;
    EXPECT_EQ("", text(XPathUtil::string(empty.get())));
    EXPECT_TRUE(std::isnan(XPathUtil::number(empty.get())));
    EXPECT_FALSE(XPathUtil::boolean(empty.get()));
    ba.reset(XPathUtil::nodeSet({env.el("b"), env.el("a")}));
    EXPECT_TRUE(XPathUtil::boolean(ba.get()));
    EXPECT_EQ("1", text(XPathUtil::string(ba.get())));  // boolean() consumed nothing
    sweep([&] {
        text(XPathUtil::string(env.root()));
        text(XPathUtil::string(0.1));
        std::unique_ptr<XPath::Iterator> it(XPathUtil::nodeSet({env.el("b"), env.el("a")}));
        text(XPathUtil::string(it.get()));
    });
}
