// Fuzz target: bytes -> XPathParser::parse -> evaluation against a small fixed document with
// namespaces, entity references, comments, processing instructions, CDATA and attributes, under
// a visit budget. Only the library's Exception may come out. The node-set value of an expression
// must agree with its boolean, number and string values, which are computed from it by other
// paths of the engine. An expression evaluated within the budget is evaluated again without it,
// where the engine takes its shortcuts (walks for "//x", positions from siblings, backward walks
// for last(), kept ancestor answers), which a budget turns off: the values must be the same.
//
// Input: byte 0 picks the context node; the rest is the expression, one unit per byte.
#include <ambrite/xml/dom.h>
#include <ambrite/xml/xpath.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNodeList.hpp>

#include "xpath_fixture.h"

using namespace Ambrite::XML;

namespace {

const char kDocument[] =
    "<!DOCTYPE r [<!ATTLIST a id ID #IMPLIED><!ENTITY e '<b>7</b><!--e--><?t in?>'>]>"
    "<?t top?><!--top--><r xmlns:p='urn:p' xmlns='urn:d' xml:lang='en' x='1'>"
    "<a id='i1' p:y='2'>12<![CDATA[<c>]]><b xmlns=''>&e; 3 </b></a><!--c-->&e;"
    "<p:c xmlns:q='urn:q' q:z='z'><?u d?>a b<a id='i2'/></p:c>tail</r><!--end-->";

typedef std::unique_ptr<XMLCh, AMXMLDelete> String;

// Every node XPath can reach is a context node.
fuzz::XPathFixture& fixture() {
    static fuzz::XPathFixture f(kDocument, sizeof kDocument - 1,
                                u"/ | //node() | //@* | //namespace::*", false, 20000);
    return f;
}

[[noreturn]] void fail(const char* what, const std::u16string& expression) {
    std::fprintf(stderr, "%s:", what);
    for (char16_t c : expression) std::fputc(c < 128 ? static_cast<char>(c) : '?', stderr);
    std::fputc('\n', stderr);
    std::abort();
}

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// The values of a node-set expression, each through its own path, against the nodes themselves.
void checkNodeSet(XPath& e, DOMNode* context, const std::u16string& text) {
    fuzz::XPathFixture& f = fixture();
    std::unique_ptr<XPath::Iterator> it(e.nodeSet(context, 1, f.map));
    std::unique_ptr<XPath::Iterator> ordered(XPathUtil::documentOrder(it.get()));
    std::vector<DOMNode*> nodes;
    while (ordered->hasNext()) nodes.push_back(ordered->next());
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        if (nodes[i] == nodes[i - 1]) fail("duplicate node", text);
    }
    if (e.boolean(context, 1, f.map) != !nodes.empty()) fail("boolean differs", text);
    String s(e.string(context, 1, f.map));
    String first(XPathUtil::string(nodes.empty() ? nullptr : nodes[0]));
    if (!StringUtil::eq(s.get(), first.get())) fail("string differs", text);
    if (!same(e.number(context, 1, f.map), XPathUtil::number(s.get())))
        fail("number differs", text);
}

// The fixture's map without the budget.
const XPath::BindingMap& unbounded() {
    static const XPath::BindingMap map = [] {
        XPath::BindingMap m = fixture().map;
        m.erase(m.find(XPath::Budget::key()));
        return m;
    }();
    return map;
}

std::vector<DOMNode*> ordered(XPath& e, DOMNode* context, const XPath::BindingMap& map) {
    std::unique_ptr<XPath::Iterator> it(e.nodeSet(context, 1, map));
    std::unique_ptr<XPath::Iterator> ordered(XPathUtil::documentOrder(it.get()));
    std::vector<DOMNode*> nodes;
    while (ordered->hasNext()) nodes.push_back(ordered->next());
    return nodes;
}

// The value of `e` under the budget (which it stayed within) and without it.
void checkShortcuts(XPath& e, DOMNode* context, const std::u16string& text) {
    const XPath::BindingMap& bounded = fixture().map;
    bool equal = false;
    try {
        switch (e.type(bounded)) {
            case XPath::BOOLEAN:
                equal = e.boolean(context, 1, bounded) == e.boolean(context, 1, unbounded());
                break;
            case XPath::NUMBER:
                equal = same(e.number(context, 1, bounded), e.number(context, 1, unbounded()));
                break;
            case XPath::STRING: {
                String a(e.string(context, 1, bounded)), b(e.string(context, 1, unbounded()));
                equal = StringUtil::eq(a.get(), b.get());
                break;
            }
            case XPath::NODE_SET:
                equal = ordered(e, context, bounded) == ordered(e, context, unbounded());
                break;
        }
    } catch (const Exception&) {
        fail("throws without the budget", text);
    }
    if (!equal) fail("differs without the budget", text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    fuzz::XPathFixture& f = fixture();
    DOMNode* context = f.contexts[data[0] % f.contexts.size()];
    std::u16string text(data + 1, data + size);
    std::unique_ptr<XPath> e;
    try {
        e.reset(XPathParser::parse(text.c_str()));
    } catch (const Exception&) {
        return 0;
    }
    std::ostringstream printed;
    printed << e.get();
    try {
        f.budget.reset();
        switch (e->type(f.map)) {
            case XPath::BOOLEAN:
                e->boolean(context, 1, f.map);
                break;
            case XPath::NUMBER:
                e->number(context, 1, f.map);
                break;
            case XPath::STRING:
                String(e->string(context, 1, f.map));
                break;
            case XPath::NODE_SET:
                checkNodeSet(*e, context, text);
                break;
        }
    } catch (const Exception&) {
        return 0;
    }
    f.budget.reset();
    checkShortcuts(*e, context, text);
    return 0;
}
