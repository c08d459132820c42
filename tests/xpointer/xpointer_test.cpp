#include "support/test_support.h"
#include "xpointer/internal.h"

using namespace amxml_test;

namespace {

typedef std::pair<std::string, std::string> Case;  // input, expected output

// "full" or "short" and the printed pointer, or with a document the nodes it selects there by
// name and ID (the same when evaluated again); or the id and message of the failure. With
// `failing`, each allocation then fails in turn, and the outcome must be the same or
// Exception 18.
std::string outcome(const std::string& text, bool failing = true, DOMDocument* doc = nullptr,
                    const XPath::BindingMap& map = XPath::BindingMap()) {
    auto run = [&] {
        std::ostringstream out;
        std::string failure = thrown([&] {
            std::unique_ptr<XPointer> p(XPointerParser::parse(widen(text).c_str()));
            if (!doc) out << (p->full() ? "full " : "short ") << p.get();
            auto nodes = [&] {
                std::unique_ptr<XPath::Iterator> it(p->locationSet(doc, map));
                std::string s;
                for (DOMNode* n; it->hasNext() && (n = it->next());) {
                    DOMElement* e = dynamic_cast<DOMElement*>(n);
                    const bool id = e && e->hasAttribute(u"id");
                    s += " " + utf8(n->getNodeName()) +
                         (id ? "#" + utf8(e->getAttribute(u"id")) : "");
                }
                return s.substr(!s.empty());
            };
            if (doc) out << nodes();
            EXPECT_TRUE(!doc || out.str() == nodes()) << text;
        });
        return failure == "no exception" ? out.str() : failure;
    };
    const std::string expected = run();
    sweep([&] {
        const std::string result = failing ? run() : expected;
        if (result == expected) return;
        EXPECT_EQ("18: Out of memory", result);
        throw Exception(18, "Out of memory");
    });
    return expected;
}

// IDs typed by the DTD, one of them inside an entity reference, which XPath sees through.
const char kDocument[] =
    "<!DOCTYPE r [<!ATTLIST e id ID #IMPLIED><!ENTITY x '<e id=\"in\">t</e>'>]>"
    "<r xmlns:p='urn:x'><e id='a'/>&x;<p:e/><e id='b'><e/><e id='c'/></e></r>";

// A replacement id(): the document element for any arguments but none.
struct Root : XPath::Function {
    Root() : Function(XPath::NODE_SET) {}
    XPath::Iterator* nodeSet(const std::vector<XPath*>& a, DOMNode* n, unsigned int,
                             const XPath::BindingMap&) const override {
        return XPathUtil::nodeSet(
            std::vector<DOMNode*>(!a.empty(), DOMUtil::getOwnerDocument(n)->getDocumentElement()));
    }
};

}  // namespace

// Escaped parentheses outside literals are real ones; a bad escape makes a literal invalid.
TEST(XPointerParser, CompilesTheThreeFormsAndNamesTheOffendingToken) {
    // clang-format off
    const Case cases[] = {{"foo", "short id(\"foo\")"}, {" /1 / 2 ", "short <root>/child::*[1]/child::*[2]"}, {"/", "short <root>"},
        {"foo/3", "short id(\"foo\")/child::*[3]"}, {"/007", "short <root>/child::*[7]"}, {"xpointer(/)", "full xpointer(<root>)"},
        {"xmlns(a=urn:x)xpointer(//a:b)", "full xmlns(a=urn:x) xpointer(<root>/descendant-or-self::node()/child::a:b)"},
        {"foo(bar)xpointer(/)", "full xpointer(<root>)"}, {"foo(bar)", "full "}, {"xmlns()", "full "}, {"xpointer (/)", "full xpointer(<root>)"},
        {"xmlns(a=urn:x^(1^))", "full xmlns(a=urn:x(1))"}, {"xmlns( a = u v\t)xmlns(b=)", "full xmlns(a=u v) xmlns(b=)"},
        {"xpointer(id('a^)b^^'))", "full xpointer(id(\"a)b^\"))"}, {"xpointer(^(/^))", "full xpointer(<root>)"},
        {"x(a(b)c^^d^)) xpointer(/)", "full xpointer(<root>)"}, {"xpointer(1)xpointer(/)", "full xpointer(1) xpointer(<root>)"},
        {"/1.5", "17: Unexpected token (expecting integer): 1.5"}, {"/1.", "17: Unexpected token (expecting integer): 1."},
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
        {"xpointer(^^)", "15: Unexpected token (expecting node test): ^"}, {"xpointer(^x)", "15: Unexpected token (expecting node test): ^"},
        {"xpointer('a^')", "15: Unexpected token (expecting node test): 'a^'"}, {"xpointer(\"^\" = '^(^)')", "15: Unexpected token (expecting node test): \"^\""}, {"xpointer(a b)", "17: Unexpected token (expecting ')'): b"}};
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(c.second, outcome(c.first)) << c.first;
}

// A child sequence deepens the tree by one step per number, within the XPath parser's bound.
TEST(XPointerParser, BoundsChildSequences) {
    const std::string steps = repeat("/1", XPathParser::MAX_DEPTH - 1);
    EXPECT_EQ(0u, outcome(steps, false).find("short <root>/child::*[1]/"));
    EXPECT_EQ("17: Expression nested too deeply", outcome(steps + "/1", false));
}

TEST(XPointer, SelectsTheNodesOfTheFirstPartThatHasAny) {
    DocumentPtr doc = parse(kDocument);
    XPath::Namespace q(u"urn:x");
    XPath::BindingMap map;
    map[u"q"] = &q;
    const std::string empty = "16: XPointer evaluated to empty set";
    // clang-format off
    const Case cases[] = {{"a", "e#a"}, {"in", "e#in"}, {"missing", empty + ": Failed to resolve ID `missing'"}, {"/", "#document"},
        {"/1", "r"}, {"/1/2", "e#in"}, {"/1/4/2", "e#c"}, {"b/2", "e#c"}, {"in/1", empty}, {"/1/9", empty}, {"/0", empty},
        {"xpointer(id('x'))xpointer(id('b'))", "e#b"}, {"xpointer(id('x'))xpointer(id('y'))", empty + ": Failed to resolve ID `x'"},
        {"xpointer(id('a b'))", "e#a e#b"}, {"xpointer(id(/r/@none))", empty}, {"xpointer(id(''))", empty + ": Failed to resolve ID `'"},
        {"xpointer(id('z'))xpointer(/r/e[2]/e[id('y')])xpointer(/)", "#document"}, {"xmlns(p=urn:x)xpointer(//p:e)", "p:e"},
        {"xpointer(//p:e)xmlns(p=urn:x)", "14: Unbound namespace prefix: p"}, {"xmlns(q=urn:y)xpointer(//q:e)", empty},
        {"xpointer(//q:e)", "p:e"}, {"xmlns(p=urn:x)xmlns(p=urn:y)xpointer(//p:e)", empty}, {"foo(bar)", empty},
        {"xmlns(p=urn:x)", empty}, {"xpointer(1)xpointer(/)", "14: Number cannot be converted to node set"},
        {"xpointer(//e[id('c')]/@id/..)", "e#a e#in e#b e#c"}, {"xpointer(/r/e[id('q')])", empty + ": Failed to resolve ID `q'"}};
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(c.second, outcome(c.first, true, doc.get(), map)) << c.first;
        EXPECT_TRUE(map.size() == 1 && map.find(u"q")->value == &q);  // as it was
    }
    EXPECT_EQ("16: No next node", thrown([] { internal::EmptyIterator().next(); }));
    std::unique_ptr<XPointer> root(XPointerParser::parse(u"/"));
    EXPECT_EQ(empty, thrown([&] { delete root->locationSet(nullptr, map); }));
}

// A caller's id() is wrapped, not replaced; a caller's budget bounds the whole evaluation, and
// without one an evaluation stops after MAX_VISITS visits.
TEST(XPointer, BoundsItsWorkByTheCallersBindings) {
    DocumentPtr doc = parse(kDocument);
    XPath::BindingMap map;
    auto at = [&](const std::string& text) { return outcome(text, false, doc.get(), map); };
    Root root;
    XPath::Budget budget(1000);
    map[u"&id"] = &root;
    map[XPath::Budget::key()] = &budget;
    EXPECT_EQ("r", at("nothing"));
    EXPECT_EQ("16: XPointer evaluated to empty set", at("xpointer(id())"));
    const std::string text = "xpointer(id())xpointer(//e[3])",
                      over = "14: Evaluation limit exceeded: more than ";
    budget.reset();
    EXPECT_EQ("e#b", at(text));
    const unsigned long long visits = budget.visits();  // of two evaluations
    budget = XPath::Budget(visits);
    EXPECT_EQ("e#b", at(text));
    budget = XPath::Budget(visits - 1);
    EXPECT_EQ(over + std::to_string(visits - 1) + " node visits", at(text));
    map.clear();
    doc = parse("<r>" + repeat("<e/>", 3200) + "</r>");
    EXPECT_EQ(over + std::to_string(XPointer::MAX_VISITS) + " node visits",
              at("xpointer(//e[count(//e) = 0])"));
}
