// XPathFilter: one expression as a boolean for every node of a document, its context-free parts
// evaluated once per document, against the plain evaluation of the same text node by node.
#include <ambrite/xml/xpath.h>

#include "xpath_test.h"

namespace {

using namespace xpath_test;

const char kDocument[] =
    "<!DOCTYPE r [<!ATTLIST x id ID #IMPLIED>]>"
    "<r xmlns:ds='http://www.w3.org/2000/09/xmldsig#' xml:lang='en'>"
    "<x id='i1' n='1'>a</x><y n='2'><x id='i2' n='3'>b<!--c--></x><?p d?></y>"
    "<ds:Signature Id='s'><ds:SignedInfo><x n='4'>c</x></ds:SignedInfo></ds:Signature>"
    "<y xml:lang='de'> <x n='5'> e </x></y></r>";

struct ManyEnv : Env {
    Nodes all;
    explicit ManyEnv(const char* xml = kDocument) : Env(xml), all(nodes("//. | //@*")) {
        bind("ds", new XPath::Namespace(u"http://www.w3.org/2000/09/xmldsig#"));
        bind("$two", new XPath::Variable(2.0));
        bind("&here", new Here(el("y")));
        // A bound function other than here(), whatever it computes, is never hoisted.
        keys.push_back(u"&len");
        map[keys.back().c_str()] = const_cast<BaseFunction*>(BaseFunction::lookup(u"name"));
    }

    /// "1" or "0" per node of `all`, or "[failure]": through `filter`, or else by plain
    /// evaluation of a fresh tree per node (so that nothing is reused between nodes).
    std::string run(const std::string& expr, XPathFilter* filter = nullptr) {
        std::string out;
        for (DOMNode* n : all) {
            const std::string f = thrown([&] {
                Tree e(filter ? nullptr : compile(expr));
                out += (filter ? filter->matches(n) : e->boolean(n, 1, map)) ? "1" : "0";
            });
            if (f.compare(0, 4, "18: ") == 0) throw Exception(18, "Out of memory");
            if (f != "no exception") out += "[" + f + "]";
        }
        return out;
    }
};

// One row per way filter.cpp classifies a part: absolute and relative paths, operators (binary,
// unary, union), steps on a context-free start with and without context-free predicates, core
// functions always contextual, contextual without arguments only, or with contextual arguments,
// last(), variables, here(), other bound functions, unknown functions and failing parts.

TEST(XPathFilter, AgreesWithPlainEvaluationOnEveryNodeAndUnderAllocationFailures) {
    ManyEnv env;
    // clang-format off
    const std::pair<const char*, std::size_t> cases[] = {  // and the parts evaluated once
        {"not(//ancestor-or-self::ds:Signature)", 1}, {"not(ancestor-or-self::ds:Signature)", 0},
        {"count(//x) > 2 and self::y", 1}, {"position() = last() or lang('en')", 0},
        {"(//x)[last()] = .", 1}, {"*[position() = last()][count(//y) = $two]", 1},
        {"name() = 'x' or local-name() = 'Signature' or namespace-uri() = 'n' or string() = 'a'"
         " or string-length() > 3 or normalize-space() = 'e' or number() = 5", 0},
        {"string(//x) = normalize-space() or number(//x/@n) = 4 and string-length() = 1", 2},
        {"count(id(@id)) = 1", 0}, {"count(id('i1 i2') | .) = 2", 1},
        {"$two = count(ancestor::*)", 0}, {"count(here()/x | .) = 1", 1},
        {"len() = substring('xy', count(//x) - 2)", 1}, {"//nope:x", 1},
        {"-count(//x) + count(//y) = -2 and string(/) = string(.)", 2},
        {"boolean(//x[. = 'b']) and self::x", 1}, {"nofunction() or self::x", 0},
        {"ancestor-or-self::*[@id = 'i2'] and not(ancestor::ds:Signature)", 0},
        {"ancestor::*[self::y or count(string(.))]", 0},
        {"ancestor::*[position() = 2][@n] or ancestor-or-self::x[last()]", 0}};
    // clang-format on
    for (const auto& [expr, parts] : cases) {
        const std::string expected = env.run(expr);
        XPathFilter filter(env.compile(expr), env.map);
        EXPECT_EQ(parts, filter.invariantParts()) << expr;
        EXPECT_EQ(expected, env.run(expr, &filter)) << expr;
        // Constant answers only where the document makes them so.
        const bool constant = std::string(expr).find("ds:Signature)") != std::string::npos;
        EXPECT_TRUE(constant || expected.find_first_of("1[") != std::string::npos) << expr;
        sweep([&, expr = expr] {
            XPathFilter swept(env.compile(expr), env.map);  // adopts it also when it throws
            EXPECT_EQ(expected, env.run(expr, &swept)) << expr;
        });
    }
}

// Ancestor steps keep their answers along the chain of the latest node: in document order each
// node costs the one visit of its own test, and any other order still gives the plain answers.
TEST(XPathFilter, KeepsAncestorAnswersAlongOneChain) {
    ManyEnv env;
    XPath::Budget* budget = new XPath::Budget(1000000);
    env.bind(utf8(XPath::Budget::key()), budget);
    const char* const cases[] = {"not(ancestor-or-self::ds:Signature)",
                                 "ancestor::*[@n > 2] or ancestor-or-self::*[self::y or x]",
                                 "ancestor::*[self::y or count(string(.))]"};
    const Nodes order = env.nodes("(//. | //@*)[true()]");  // the filter puts them in order
    Nodes reversed(order.rbegin(), order.rend()), jumping;
    for (std::size_t i = 0; i < order.size(); ++i) jumping.push_back(order[i * 7 % order.size()]);
    const Nodes* const orders[] = {&order, &reversed, &jumping};
    for (const char* expr : cases) {
        for (const Nodes* nodes : orders) {
            env.all = *nodes;
            const std::string expected = env.run(expr);
            XPathFilter filter(env.compile(expr), env.map);
            budget->reset();
            EXPECT_EQ(expected, env.run(expr, &filter)) << expr;
            if (nodes == &order && expr == cases[0]) {
                EXPECT_EQ(order.size(), budget->visits());
            }
        }
    }
    // The functions are looked up again at reset(), after the map changed.
    XPathFilter rebound(env.compile("len() = 'x'"), env.map);
    EXPECT_TRUE(rebound.matches(env.el("x")));
    env.map.find(u"&len")->value = BaseFunction::lookup(u"namespace-uri");
    rebound.reset();
    EXPECT_FALSE(rebound.matches(env.el("x")));
    // reset() also forgets the answers of the chains inside a chained step's predicates.
    Env moving("<r><y><a><b/></a></y></r>");
    XPathFilter nested(moving.compile("ancestor-or-self::*[ancestor::y]"), moving.map);
    EXPECT_TRUE(nested.matches(moving.el("b")));
    moving.root()->appendChild(moving.el("a"));
    nested.reset();
    EXPECT_FALSE(nested.matches(moving.el("b")));
}

TEST(XPathFilter, EvaluatesTheContextFreePartsOncePerDocument) {
    ManyEnv env;
    XPath::Budget* budget = new XPath::Budget(1000000);
    env.bind(utf8(XPath::Budget::key()), budget);
    const std::string expr = "not(//ancestor-or-self::ds:Signature)";
    EXPECT_EQ(std::string(27, '0'), env.run(expr));  // walks the whole document for every node
    const unsigned long long plain = budget->visits();
    XPathFilter filter(env.compile(expr), env.map);
    EXPECT_EQ(std::string(27, '0'), env.run(expr, &filter));
    const unsigned long long once = budget->visits() - plain;
    EXPECT_GT(once, 0u);
    EXPECT_EQ(plain, once * env.all.size());
    // reset() forgets the value: the next node pays for it again.
    filter.reset();
    filter.matches(env.root());
    EXPECT_EQ(plain + 2 * once, budget->visits());
    // Another document forgets the values too.
    ManyEnv other("<r><x/><y/></r>");
    XPathFilter switching(env.compile("count(//x) < 3 and self::y"), env.map);
    other.all = {env.el("y"), other.el("y"), other.el("x"), env.el("y")};
    EXPECT_EQ("0100", other.run("", &switching));
}

}  // namespace
