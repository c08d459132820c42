// Helpers of the XPath tests: a document whose elements are bound as variables, evaluation of
// XPath text to printable results, and a plain tree model of the XPath view (axes and order).
#ifndef AMXML_TESTS_XPATH_XPATH_TEST_H
#define AMXML_TESTS_XPATH_XPATH_TEST_H

#include <ambrite/xml/xpath.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>
#include <xercesc/dom/DOM.hpp>

#include "foundation/internal.h"
#include "support/allocation.h"
#include "support/test_support.h"

namespace xpath_test {

using namespace amxml_test;
typedef XPath::BindingMap Map;
typedef std::unique_ptr<XPath> Tree;
typedef std::vector<DOMNode*> Nodes;
typedef std::unique_ptr<XMLCh, AMXMLDelete> String;

/// Every node of `it`, then checks that it is exhausted.
inline Nodes read(XPath::Iterator& it) {
    Nodes out;
    while (it.hasNext()) out.push_back(it.next());
    EXPECT_EQ("14: No next node", thrown([&] { it.next(); }));
    return out;
}

/// A short name of a node: an element's name, "@" and an attribute's, a text's data in quotes,
/// "#" and a comment's data, "?" and a processing instruction's target, "/" for the document.
inline std::string label(DOMNode* n) {
    const int type = n->getNodeType();
    const std::string name = utf8(n->getNodeName());
    if (type == DOMNode::DOCUMENT_NODE) return "/";
    if (type == DOMNode::TEXT_NODE || type == DOMNode::CDATA_SECTION_NODE)
        return "'" + utf8(n->getNodeValue()) + "'";
    if (type == DOMNode::COMMENT_NODE) return "#" + utf8(n->getNodeValue());
    if (type == DOMNode::ATTRIBUTE_NODE) return "@" + name;
    return type == DOMNode::PROCESSING_INSTRUCTION_NODE ? "?" + name : name;
}

/// A document whose elements are bound as "$" + tag name (in document order), plus "$none"
/// (empty); bind() adds more. Evaluations have the document element as context by default.
struct Env {
    DocumentPtr doc;
    Map map;
    std::deque<std::u16string> keys;
    std::vector<std::unique_ptr<XPath::Binding>> owned;

    explicit Env(const std::string& xml) : doc(parse(xml)) {
        std::map<std::string, Nodes> byTag{{"none", {}}};
        xercesc::DOMNodeList* all = doc->getElementsByTagName(u"*");
        for (XMLSize_t i = 0; i < all->getLength(); ++i)
            byTag[utf8(all->item(i)->getNodeName())].push_back(all->item(i));
        for (const auto& t : byTag) bind("$" + t.first, new XPath::Variable(t.second));
    }
    void bind(const std::string& key, XPath::Binding* binding) {
        owned.emplace_back(binding);
        keys.push_back(widen(key));
        map[keys.back().c_str()] = binding;
    }
    DOMElement* el(const std::string& tag, XMLSize_t i = 0) {
        return static_cast<DOMElement*>(doc->getElementsByTagName(widen(tag).c_str())->item(i));
    }
    DOMNode* root() { return doc->getDocumentElement(); }

    /// The value as string() converts it.
    std::string value(const std::string& expr, DOMNode* context = nullptr,
                      unsigned int position = 1) {
        Tree e(compile(expr));
        return utf8(String(e->string(context ? context : root(), position, map)).get());
    }
    /// The value, or the id and message of the Exception evaluation throws.
    std::string eval(const std::string& expr, DOMNode* context = nullptr) {
        std::string result, failure = thrown([&] { result = value(expr, context); });
        return failure == "no exception" ? result : failure;
    }
    /// The nodes in the order the expression yields them.
    Nodes nodes(const std::string& expr, DOMNode* context = nullptr) {
        Tree e(compile(expr));
        std::unique_ptr<XPath::Iterator> it(e->nodeSet(context ? context : root(), 1, map));
        Nodes out;
        while (it->hasNext()) out.push_back(it->next());
        return out;
    }
    /// The labels of the nodes in the order the expression yields them, or the failure.
    std::string select(const std::string& expr, DOMNode* context = nullptr) {
        std::string out, failure = thrown([&] {
                             for (DOMNode* n : nodes(expr, context))
                                 out += (out.empty() ? "" : " ") + label(n);
                         });
        return failure == "no exception" ? out : failure;
    }
    XPath* compile(const std::string& expr) { return XPathParser::parse(widen(expr).c_str()); }
};

struct Case {
    const char* expr;
    const char* expected;
};

/// Evaluates every case as a string in `env`, then again with each of its allocations failing
/// in turn (parsing included), where only the expected failure may happen instead.
inline void check(Env& env, std::initializer_list<Case> cases, DOMNode* context = nullptr) {
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, env.eval(c.expr, context)) << c.expr;
        sweep([&] {
            std::string failure = thrown([&] { env.value(c.expr, context); });
            if (failure.compare(0, 4, "18: ") == 0) throw Exception(18, "Out of memory");
            EXPECT_TRUE(failure == "no exception" || failure == c.expected) << c.expr;
        });
    }
}

// The XPath view of a tree by plain recursion: entity references expanded in place, document
// types left out, an element's declarations and then its other attributes before its children.
struct View {
    Nodes order;
    std::map<DOMNode*, DOMNode*> parent;
    std::map<DOMNode*, Nodes> children, attributes, declarations;
    std::map<DOMNode*, std::size_t> first, end;  // index in `order`, and past the subtree

    explicit View(DOMNode* document) { add(document, nullptr); }
    void add(DOMNode* n, DOMNode* p) {
        first[n] = order.size();
        order.push_back(n);
        parent[n] = p;
        for (int declaration = 1; n->getAttributes() && declaration >= 0; --declaration) {
            for (XMLSize_t i = 0; i < n->getAttributes()->getLength(); ++i) {
                DOMNode* a = n->getAttributes()->item(i);
                std::string name = utf8(a->getNodeName());
                if (name == "xmlns" && !*a->getNodeValue()) continue;
                if ((name == "xmlns" || name.compare(0, 6, "xmlns:") == 0) != bool(declaration))
                    continue;
                (declaration ? declarations : attributes)[n].push_back(a);
                add(a, n);
            }
        }
        std::function<void(DOMNode*)> expand = [&](DOMNode* c) {
            for (; c; c = c->getNextSibling()) {
                if (c->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE) {
                    expand(c->getFirstChild());
                } else if (c->getNodeType() != DOMNode::DOCUMENT_TYPE_NODE) {
                    children[n].push_back(c);
                }
            }
        };
        if (n->getNodeType() != DOMNode::ATTRIBUTE_NODE) expand(n->getFirstChild());
        for (DOMNode* c : children[n]) add(c, n);
        end[n] = order.size();
    }
    // The nodes of an axis from n in axis order.
    Nodes axis(const std::string& name, DOMNode* n) {
        auto attribute = [](DOMNode* m) { return m->getNodeType() == DOMNode::ATTRIBUTE_NODE; };
        DOMNode* r = attribute(n) ? parent[n] : n;  // an attribute's following and preceding
        Nodes out, siblings = parent[n] && !attribute(n) ? children[parent[n]] : Nodes();
        std::size_t at = std::find(siblings.begin(), siblings.end(), n) - siblings.begin();
        if (name == "self" || name == "ancestor-or-self" || name == "descendant-or-self")
            out.push_back(n);
        if (name == "child") out = children[n];
        if (name == "attribute") out = attributes[n];
        if (name == "namespace") out = declarations[n];
        if (name == "parent" && parent[n]) out.push_back(parent[n]);
        for (DOMNode* a = parent[n]; name.compare(0, 8, "ancestor") == 0 && a; a = parent[a])
            out.push_back(a);
        if (name == "following-sibling" && at < siblings.size())
            out.assign(siblings.begin() + at + 1, siblings.end());
        if (name == "preceding-sibling") out.assign(siblings.rend() - at, siblings.rend());
        for (std::size_t i = 0; i < order.size(); ++i) {
            DOMNode* m = order[i];
            if (attribute(m)) continue;
            if ((name.compare(0, 10, "descendant") == 0 && i > first[n] && i < end[n]) ||
                (name == "following" && i >= end[r]) ||
                (name == "preceding" && i < first[r] && end[m] <= first[r])) {
                out.push_back(m);
            }
        }
        if (name == "preceding") std::reverse(out.begin(), out.end());
        return out;
    }
};

}  // namespace xpath_test

using namespace xpath_test;  // for the tests that include this header

#endif
