#include "xpath/xpath_test.h"

namespace {

std::string printedTree(const std::string& expr) {
    std::ostringstream out;
    std::string failure =
        thrown([&] { out << Tree(XPathParser::parse(widen(expr).c_str())).get(); });
    return failure == "no exception" ? out.str() : failure;
}

}  // namespace

// The printed trees show grouping: "(l op r)" for binary operators, "/" between steps; primitives
// that no XPath text makes print too.
TEST(XPathParser, GroupsByPrecedenceAndExpandsAbbreviations) {
    // clang-format off
    const Case cases[] = {{"1 - 2 - 3", "((1 - 2) - 3)"}, {"2 + 3 * 4", "(2 + (3 * 4))"},
        {"1 = 2 != 3 or 4 < 5 <= 6 and 7 > 8 >= 9", "(((1 = 2) != 3) or (((4 < 5) <= 6) and ((7 > 8) >= 9)))"},
        {"6 mod 4 div 2 * 1", "(((6 mod 4) div 2) * 1)"}, {"--1", "+1"}, {"---1", "-1"},
        {"1--1", "(1 - -1)"}, {"-1 * 2", "(-1 * 2)"}, {"- $a | $b", "-($a | $b)"},
        {"$a|$b|$c", "(($a | $b) | $c)"}, {"div div div", "(<relative>/child::div div <relative>/child::div)"},
        {"* * *", "(<relative>/child::* * <relative>/child::*)"}, {"or or and", "(<relative>/child::or or <relative>/child::and)"},
        {"/", "<root>"}, {"/ | /", "(<root> | <root>)"}, {"//a", "<root>/descendant-or-self::node()/child::a"},
        {"a//b", "<relative>/child::a/descendant-or-self::node()/child::b"},
        {"./..", "<relative>/self::node()/parent::node()"}, {"@*|@p:a", "(<relative>/attribute::* | <relative>/attribute::p:a)"},
        {"p:*/p:b/namespace::*", "<relative>/child::p:*/child::p:b/namespace::*"},
        {"$x/a", "$x/child::a"}, {"(//a)[1]/b", "<root>/descendant-or-self::node()/child::a/<filter>::node()[1]/child::b"},
        {"//a[1]", "<root>/descendant-or-self::node()/child::a[1]"}, {"f()//.", "f()/descendant-or-self::node()/self::node()"},
        {"text()", "<relative>/child::text()"}, {"foo()", "foo()"}, {"p:text()", "p:text()"},
        {"comment/node()/text", "<relative>/child::comment/child::node()/child::text"},
        {"processing-instruction( 'x' )", "<relative>/child::processing-instruction(\"x\")"},
        {"ancestor-or-self::comment()[last()][2]", "<relative>/ancestor-or-self::comment()[last()][2]"},
        {"preceding::*[1]/following-sibling::x", "<relative>/preceding::*[1]/following-sibling::x"},
        {"child::child", "<relative>/child::child"}, {"concat('a', \"b\", 1., .5, 007)", "concat(\"a\", \"b\", 1, 0.5, 7)"},
        {"1234567 div 0.0000001", "(1.23457e+06 div 1e-07)"}};
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(c.expected, printedTree(c.expr)) << c.expr;
    EXPECT_EQ("+1", printedTree(repeat("-", 1000000) + "1"));
    std::ostringstream out;  // primitives that no XPath text makes
    Primitive yes(true), no(false), none(static_cast<const XMLCh*>(nullptr));
    out << &yes << &no << &none;
    EXPECT_EQ("truefalse\"Null\"", out.str());
}

TEST(XPathParser, NamesTheOffendingToken) {
    // clang-format off
    const Case cases[] = {{"a b", "Unexpected token (expecting none): b"},
        {"f(1", "Unexpected token (expecting ')'): Null"}, {"(1", "Unexpected token (expecting ')'): Null"},
        {"text(1)", "Unexpected token (expecting ')'): 1"},
        {"processing-instruction('a' 'b')", "Unexpected token (expecting ')'): 'b'"},
        {"a[1", "Unexpected token (expecting ']'): Null"}, {"a[1 2]", "Unexpected token (expecting ']'): 2"},
        {"a/foo()", "Unsupported node type test: foo()"}, {"a/comment('x')", "Unsupported node type test: comment('x')"},
        {"node(\"\")", "Unsupported node type test: node(\"\")"}, {"a/b:c()", "Unexpected token (expecting none): ("},
        {"spouse::x", "Unsupported axis: spouse"}, {"a/ancestors::x", "Unsupported axis: ancestors"},
        {"p:a::b", "Unexpected token (expecting none): ::"}, {"", "Unexpected token (expecting node test): Null"},
        {"a/", "Unexpected token (expecting node test): Null"}, {"1 +", "Unexpected token (expecting node test): Null"},
        {"child::", "Unexpected token (expecting node test): Null"}, {"@@", "Unexpected token (expecting node test): @"},
        {"f(1,)", "Unexpected token (expecting node test): )"}, {"a[]", "Unexpected token (expecting node test): ]"},
        {"$", "Unexpected token (expecting node test): $"}, {"'abc", "Unexpected token (expecting node test): '"},
        {".[1]", "Unexpected token (expecting none): ["}, {"a!b", "Unexpected token (expecting none): !"},
        {"$a:*", "Unexpected token (expecting none): :"}, {"a[1]]", "Unexpected token (expecting none): ]"},
        {"1 2", "Unexpected token (expecting none): 2"}};
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(std::string("15: ") + c.expected, printedTree(c.expr)) << c.expr;
    }
}

// Nesting and depth are bounded so that no text exhausts the stack of parsing, evaluating,
// printing or deleting; the deepest expressions accepted are evaluated.
TEST(XPathParser, BoundsNestingAndDepth) {
    const unsigned int n = XPathParser::MAX_NESTING, d = XPathParser::MAX_DEPTH;
    const std::string deep = "15: Expression nested too deeply";
    Env env("<a><a>x</a></a>");
    // clang-format off
    const struct { std::string accepted, refused, value; } cases[] = {
        {repeat("(", n - 1) + "1" + repeat(")", n - 1), repeat("(", n) + "1" + repeat(")", n), "1"},
        {repeat("a[", n - 1) + "a" + repeat("]", n - 1), repeat("a[", n) + "a" + repeat("]", n), ""},
        {repeat("f(", n) + repeat(")", n), repeat("f(", n + 1) + repeat(")", n + 1), "14: Unbound function: f"},
        {"." + repeat("/a", d - 2), "." + repeat("/a", d - 1), ""},
        {"1" + repeat("+1", d - 1), "1" + repeat("+1", d), std::to_string(d)},
        {"." + repeat("|.", d - 2), "." + repeat("|.", d - 1), "x"}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(c.value, env.eval(c.accepted)) << c.accepted.substr(0, 20);
        EXPECT_NE("15:", printedTree(c.accepted).substr(0, 3));
        EXPECT_EQ(deep, printedTree(c.refused)) << c.refused.substr(0, 20);
    }
    EXPECT_EQ(deep, printedTree(repeat("(", 1000000)));
    EXPECT_EQ(deep, printedTree(repeat("a/", 1000000)));
}

TEST(XPathParser, ReleasesEverythingWhenAllocationsFail) {
    for (const char* expr : {"-(//a[@p:b = 'x'] | $v/..)[last()] * 2 + count(f(1, 'y', ., .5))",
                             "preceding::comment()[1]/processing-instruction('t')", "a b",
                             "a/comment('x')", "f(1, (2"}) {
        sweep([&] {
            if (printedTree(expr).compare(0, 4, "18: ") == 0) throw Exception(18, "Out of memory");
        });
    }
}
