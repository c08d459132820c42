#include <ambrite/xml/xpointer.h>

#include "support/test_support.h"
#include "xpointer/internal.h"

using namespace amxml_test;

namespace {

// IDs typed by the DTD, one of them inside an entity reference, which XPath sees through.
const char kDocument[] =
    "<!DOCTYPE r [<!ATTLIST e id ID #IMPLIED><!ENTITY x '<e id=\"in\">t</e>'>]>"
    "<r xmlns:p='urn:x'><e id='a'/>&x;<p:e/><e id='b'><e/><e id='c'/></e></r>";

// A replacement id(): the document element for any argument list but an empty one.
struct Root : XPath::Function {
    Root() : Function(XPath::NODE_SET) {}
    XPath::Iterator* nodeSet(const std::vector<XPath*>& args, DOMNode* node, unsigned int,
                             const XPath::BindingMap&) const override {
        if (args.empty()) return XPathUtil::nodeSet({});
        return new BasicIterator(DOMUtil::getOwnerDocument(node)->getDocumentElement());
    }
};

struct Evaluation {
    DocumentPtr doc = parse(kDocument);
    XPath::Namespace q{u"urn:x"};
    XPath::BindingMap map;

    Evaluation() { map[u"q"] = &q; }

    // The selected elements by name and ID, or the id and message of the failure.
    std::string select(const std::string& text) {
        std::string out;
        std::string failure = thrown([&] {
            std::unique_ptr<XPointer> p(XPointerParser::parse(widen(text).c_str()));
            std::unique_ptr<XPath::Iterator> it(p->locationSet(doc.get(), map));
            while (it->hasNext()) {
                DOMNode* n = it->next();
                out += (out.empty() ? "" : " ") + utf8(n->getNodeName());
                const XMLCh* id =
                    n->getAttributes() ? static_cast<DOMElement*>(n)->getAttribute(u"id") : u"";
                if (*id) out += "#" + utf8(id);
            }
        });
        return failure == "no exception" ? out : failure;
    }
};

}  // namespace

TEST(XPointer, SelectsTheNodesOfTheFirstPartThatHasAny) {
    Evaluation e;
    const std::string empty = "16: XPointer evaluated to empty set";
    // clang-format off
    const struct { std::string text, expected; } cases[] = {{"a", "e#a"}, {"in", "e#in"},
        {"missing", empty + ": Failed to resolve ID `missing'"}, {"/", "#document"}, {"/1", "r"},
        {"/1/2", "e#in"}, {"/1/4/2", "e#c"}, {"b/2", "e#c"}, {"in/1", empty}, {"/1/9", empty}, {"/0", empty},
        {"xpointer(id('x'))xpointer(id('b'))", "e#b"}, {"xpointer(id('x'))xpointer(id('y'))", empty + ": Failed to resolve ID `x'"},
        {"xpointer(id('a b'))", "e#a e#b"}, {"xpointer(id(/r/@none))", empty}, {"xpointer(id(''))", empty + ": Failed to resolve ID `'"},
        {"xpointer(id('z'))xpointer(/r/e[2]/e[id('y')])xpointer(/)", "#document"},
        {"xmlns(p=urn:x)xpointer(//p:e)", "p:e"}, {"xpointer(//p:e)xmlns(p=urn:x)", "14: Unbound namespace prefix: p"},
        {"xmlns(q=urn:y)xpointer(//q:e)", empty}, {"xpointer(//q:e)", "p:e"}, {"xmlns(p=urn:x)xmlns(p=urn:y)xpointer(//p:e)", empty},
        {"foo(bar)", empty}, {"xmlns(p=urn:x)", empty}, {"xpointer(1)xpointer(/)", "14: Number cannot be converted to node set"},
        {"xpointer(//e[id('c')]/@id/..)", "e#a e#in e#b e#c"}, {"xpointer(/r/e[id('q')])", empty + ": Failed to resolve ID `q'"}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, e.select(c.text)) << c.text;
        EXPECT_EQ(c.expected, e.select(c.text)) << c.text;  // the caller's map is as it was
        ASSERT_EQ(1u, e.map.size());
        sweep([&] {
            const std::string result = e.select(c.text);
            if (result.compare(0, 4, "18: ") == 0) throw Exception(18, "Out of memory");
            EXPECT_EQ(c.expected, result) << c.text;
        });
    }
    EXPECT_EQ("16: No next node", thrown([] { internal::EmptyIterator().next(); }));
    std::unique_ptr<XPointer> p(XPointerParser::parse(u"/"));
    EXPECT_EQ(empty, thrown([&] { delete p->locationSet(nullptr, e.map); }));
}

// A caller's id() is wrapped, not replaced; a caller's budget bounds the whole evaluation.
TEST(XPointer, UsesTheCallersBindings) {
    Evaluation e;
    Root root;
    e.map[u"&id"] = &root;
    EXPECT_EQ("r", e.select("nothing"));
    EXPECT_EQ("16: XPointer evaluated to empty set", e.select("xpointer(id())"));
    e.map.erase(e.map.find(u"&id"));
    XPath::Budget budget(1000);
    e.map[XPath::Budget::key()] = &budget;
    const std::string text = "xpointer(id('x'))xpointer(//e[3])";
    EXPECT_EQ("e#b", e.select(text));
    const unsigned long long visits = budget.visits();
    EXPECT_LT(8u, visits);
    budget = XPath::Budget(visits);
    EXPECT_EQ("e#b", e.select(text));
    budget = XPath::Budget(visits - 1);
    EXPECT_EQ(
        "14: Evaluation limit exceeded: more than " + std::to_string(visits - 1) + " node visits",
        e.select(text));
}

// Without a budget of the caller's, an evaluation stops after MAX_VISITS visits.
TEST(XPointer, BoundsTheWorkOfAStrangersPointer) {
    Evaluation e;
    e.doc = parse("<r>" + repeat("<e/>", 3200) + "</r>");
    EXPECT_EQ("14: Evaluation limit exceeded: more than " + std::to_string(XPointer::MAX_VISITS) +
                  " node visits",
              e.select("xpointer(//e[count(//e) = 0])"));
}
