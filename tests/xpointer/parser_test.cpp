#include <ambrite/xml/xpointer.h>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

struct Case {
    const char* text;
    const char* expected;
};

// "full" or "short" and the printed pointer, or the id and message of the parse failure; with
// each allocation of the parse failing in turn (when `failing`), only that outcome or
// Exception 18 may follow.
std::string compiled(const std::string& text, bool failing = true) {
    std::string result;
    auto compile = [&] {
        std::ostringstream out;
        result = thrown([&] {
            std::unique_ptr<XPointer> p(XPointerParser::parse(widen(text).c_str()));
            out << (p->full() ? "full " : "short ") << p.get();
        });
        if (result == "no exception") result = out.str();
    };
    compile();
    const std::string expected = result;
    if (failing)
        sweep([&] {
            compile();
            if (result.compare(0, 4, "18: ") == 0) throw Exception(18, "Out of memory");
            EXPECT_EQ(expected, result) << text;
        });
    return result;
}

// Every token as type:text.
std::string tokens(const std::string& text) {
    XPointerTokenizer t(widen(text).c_str());
    std::string out;
    while (const XMLCh* token = t.next()) out += std::to_string(t.type()) + ":" + utf8(token) + " ";
    return out;
}

// The scheme data after a name and "(", and the token after it; "none" and the token at the
// position when there is no data.
std::string schemeData(const std::string& text) {
    XPointerTokenizer t(widen(text).c_str());
    t.next();
    t.next();
    const XMLCh* data = t.schemeData();
    return (data ? "[" + utf8(data) + "]" : "none") + utf8(t.next());
}

}  // namespace

TEST(XPointerParser, CompilesTheThreeForms) {
    // clang-format off
    const Case cases[] = {{"foo", "short id(\"foo\")"}, {" /1 / 2 ", "short <root>/child::*[1]/child::*[2]"},
        {"foo/3", "short id(\"foo\")/child::*[3]"}, {"/", "short <root>"}, {"/007", "short <root>/child::*[7]"},
        {"xpointer(/)", "full xpointer(<root>)"}, {"xpointer (/)", "full xpointer(<root>)"},
        {"xmlns(a=urn:x)xpointer(//a:b)", "full xmlns(a=urn:x) xpointer(<root>/descendant-or-self::node()/child::a:b)"},
        {"foo(bar)xpointer(/)", "full xpointer(<root>)"}, {"foo(bar)", "full "}, {"xmlns()", "full "},
        {"xmlns(a=urn:x^(1^))", "full xmlns(a=urn:x(1))"}, {"xmlns( a = u v\t)xmlns(b=)", "full xmlns(a=u v) xmlns(b=)"},
        {"xpointer(id('a^)b^^'))", "full xpointer(id(\"a)b^\"))"}, {"xpointer(^(/^))", "full xpointer(<root>)"},
        {"x(a(b)c^^d^)) xpointer(/)", "full xpointer(<root>)"}, {"xpointer(1)xpointer(/)", "full xpointer(1) xpointer(<root>)"}};
    const Case errors[] = {{"/1.5", "17: Unexpected token (expecting integer): 1.5"}, {"/1.", "17: Unexpected token (expecting integer): 1."},
        {"/x", "17: Unexpected token (expecting integer): x"}, {"foo/", "17: Unexpected token (expecting integer): Null"},
        {"//1", "17: Unexpected token (expecting '/'): //"}, {"", "17: Unexpected token (expecting '/'): Null"},
        {"#xpointer(/)", "17: Unexpected token (expecting '/'): #"}, {"foo bar", "17: Unexpected token (expecting none): bar"},
        {"xmlns(1=x)", "17: Unexpected token (expecting namespace prefix): 1"}, {"xmlns(", "17: Unexpected token (expecting namespace prefix): Null"},
        {"xmlns(a:b=x)", "17: Unexpected token (expecting namespace prefix): a:b"}, {"xmlns(a x)", "17: Unexpected token (expecting '='): x"},
        {"xmlns(a=urn:x^y)", "17: Error matching parentheses"}, {"xmlns(a=urn:(x)", "17: Error matching parentheses"},
        {"foo(bar", "17: Error matching parentheses"}, {"foo(a^", "17: Error matching parentheses"},
        {"xpointer(/ /)", "17: Unexpected token (expecting ')'): /"}, {"xpointer(/", "17: Unexpected token (expecting ')'): Null"},
        {"xpointer(/) junk", "17: Unexpected token (expecting none): junk"}, {"xpointer(/)/1", "17: Unexpected token (expecting none): /"},
        {"xpointer()", "15: Unexpected token (expecting node test): )"}, {"xpointer(id('a^b'))", "15: Unexpected token (expecting node test): 'a^b'"},
        {"xpointer(^^)", "15: Unexpected token (expecting node test): ^"}, {"xpointer(a b)", "17: Unexpected token (expecting ')'): b"}};
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(c.expected, compiled(c.text)) << c.text;
    for (const Case& c : errors) EXPECT_EQ(c.expected, compiled(c.text)) << c.text;
}

// A child sequence deepens the tree by one step per number, within the XPath parser's bound.
TEST(XPointerParser, BoundsChildSequences) {
    const std::string steps = repeat("/1", XPathParser::MAX_DEPTH - 1);
    EXPECT_EQ(0u, compiled(steps, false).find("short <root>/child::*[1]/"));
    EXPECT_EQ("17: Expression nested too deeply", compiled(steps + "/1", false));
    EXPECT_EQ(0u, compiled("a" + steps.substr(2), false).find("short id(\"a\")/child::*[1]/"));
    EXPECT_EQ("17: Expression nested too deeply", compiled("a" + steps, false));
}

TEST(XPointerTokenizer, UndoesEscapes) {
    // clang-format off
    const Case cases[] = {{"^(a^)", "5:( 4:a 5:) "}, {"'a^(b^)c^^' x", "6:'a(b)c^' 4:x "},
        {"'^x'^^^", "0:'^x' 0:^ 0:^ "}, {"'a^'^x ^", "0:'a^' 0:^ 4:x 0:^ "}, {"\"^\"", "0:\"^\" "}};
    const Case data[] = {{"a(  b(c)^)^(^^ ) d", "[b(c))(^])"}, {"a( )", "[])"}, {"a()", "[])"},
        {"a(b", "noneb"}, {"a( b^", "noneb"}, {"a(b^c)", "noneb"}, {"a(b(c)", "noneb"}};
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(c.expected, tokens(c.text)) << c.text;
    for (const Case& c : data) EXPECT_EQ(c.expected, schemeData(c.text)) << c.text;
    XPointerTokenizer t(u"a(b)");
    t.next();
    t.peek();
    EXPECT_EQ(nullptr, t.schemeData());  // not while a token is pushed back
}
