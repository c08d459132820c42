// Helpers of the XPath tests: expression trees built from text, a document whose elements are
// bound as variables, and evaluation to printable results.
#ifndef AMXML_TESTS_XPATH_XPATH_TEST_H
#define AMXML_TESTS_XPATH_XPATH_TEST_H

#include "support/allocation.h"
#include "support/test_support.h"

#include <ambrite/xml/xpath.h>

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace xpath_test {

using namespace amxml_test;
typedef XPath::BindingMap Map;
typedef std::unique_ptr<XPath> Tree;
typedef std::vector<DOMNode*> Nodes;

/// Builds a tree from literals, numbers, $variables, "." and "/" (the context node and the
/// root), function calls, parentheses and the operators, with XPath's precedence.
class Builder {
public:
    explicit Builder(const std::string& text) : t_(widen(text).c_str()) {}
    XPath* build() {
        Tree e(binary(0));
        EXPECT_EQ(nullptr, t_.next()) << "text after the expression";
        return e.release();
    }

private:
    XPath* binary(int level) {
        static const struct { const char16_t* text; Operator::Kind kind; int level; } ops[] = {
            {u"or", Operator::OR, 0},     {u"and", Operator::AND, 1},
            {u"=", Operator::EQUAL, 2},   {u"!=", Operator::NOT_EQUAL, 2},
            {u"<", Operator::LESS, 3},    {u">", Operator::GREATER, 3},
            {u"<=", Operator::LESS_EQUAL, 3}, {u">=", Operator::GREATER_EQUAL, 3},
            {u"+", Operator::PLUS, 4},    {u"-", Operator::MINUS, 4},
            {u"*", Operator::MULTIPLY, 5}, {u"div", Operator::DIV, 5}, {u"mod", Operator::MOD, 5}};
        if (level == 6) return unary();
        Tree left(binary(level + 1));
        for (;;) {
            std::u16string token = u16(t_.next());
            bool found = false;
            for (const auto& op : ops) {
                if (op.level != level || token != op.text) continue;
                Tree right(binary(level + 1));
                left.reset(new Operator(left.release(), op.kind, right.release()));
                found = true;
            }
            if (!found) break;
        }
        t_.undo();
        return left.release();
    }
    XPath* unary() {
        if (u16(t_.next()) == u"-") {
            Tree operand(unary());
            return new Operator(Operator::MINUS, operand.release());
        }
        t_.undo();
        Tree left(primary());
        while (u16(t_.next()) == u"|") {
            Tree right(primary());
            left.reset(new Operator(left.release(), Operator::UNION, right.release()));
        }
        t_.undo();
        return left.release();
    }
    XPath* primary() {
        std::u16string token = u16(t_.next());
        XPathTokenizer::Type type = t_.type();
        if (type == XPathTokenizer::NUMBER) return new Primitive(std::stod(utf8(token)));
        if (type == XPathTokenizer::LITERAL) return new Primitive(token.substr(1, token.size() - 2).c_str());
        if (type == XPathTokenizer::VARIABLE) return new VariableReference(token.c_str() + 1);
        if (token == u".") return new Primitive(Primitive::CONTEXT);
        if (token == u"/") return new Primitive(Primitive::ROOT);
        if (token == u"(") {
            Tree e(binary(0));
            EXPECT_EQ(u")", u16(t_.next()));
            return e.release();
        }
        EXPECT_EQ(u"(", u16(t_.next())) << utf8(token);
        std::vector<Tree> args;
        if (u16(t_.peek()) != u")") {
            do args.emplace_back(binary(0));
            while (u16(t_.next()) == u",");
            t_.undo();
        }
        EXPECT_EQ(u")", u16(t_.next()));
        auto handOver = [&] {
            std::vector<XPath*> raw;
            for (Tree& a : args) raw.push_back(a.release());
            return raw;
        };
        return new FunctionCall(token.c_str(), handOver());
    }

    XPathTokenizer t_;
};

inline XPath* build(const std::string& text) { return Builder(text).build(); }

/// The id and message of the Exception `f` throws, "" if none.
inline std::string failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return std::to_string(e.id()) + ": " + e.what().c_str();
    }
    return "";
}

/// A document whose elements are bound as "$" + tag name (in document order), plus "$none"
/// (empty); further bindings are added with bind().
struct Env {
    DocumentPtr doc;
    Map map;
    std::deque<std::u16string> keys;
    std::vector<std::unique_ptr<XPath::Binding>> owned;

    explicit Env(const std::string& xml = "<r/>") : doc(parse(xml)) {
        bind("$none", new XPath::Variable(Nodes()));
        xercesc::DOMNodeList* all = doc->getElementsByTagName(u"*");
        for (XMLSize_t i = 0; i < all->getLength(); ++i) {
            std::string key = "$" + utf8(all->item(i)->getNodeName());
            if (map.find(widen(key).c_str()) == map.end()) bind(key, new XPath::Variable(byTag(key.substr(1))));
        }
    }
    ~Env() { map.clear(); }
    void bind(const std::string& key, XPath::Binding* binding) {
        owned.emplace_back(binding);
        keys.push_back(widen(key));
        map[keys.back().c_str()] = binding;
    }
    Nodes byTag(const std::string& tag) {
        xercesc::DOMNodeList* list = doc->getElementsByTagName(widen(tag).c_str());
        Nodes nodes;
        for (XMLSize_t i = 0; i < list->getLength(); ++i) nodes.push_back(list->item(i));
        return nodes;
    }
    DOMNode* el(const std::string& tag, std::size_t i = 0) { return byTag(tag).at(i); }
    DOMNode* root() { return doc->getDocumentElement(); }

    /// The value as a string, as string() converts it.
    std::string value(const std::string& expr, DOMNode* context = nullptr, unsigned int position = 1) {
        Tree e(build(expr));
        std::unique_ptr<XMLCh, AMXMLDelete> s(e->string(context ? context : root(), position, map));
        return utf8(s.get());
    }
    /// The value, or the id and message of the Exception evaluation throws.
    std::string eval(const std::string& expr, DOMNode* context = nullptr) {
        std::string result;
        std::string thrown = failure([&] { result = value(expr, context); });
        return thrown.empty() ? result : thrown;
    }
    Nodes nodes(const std::string& expr, DOMNode* context = nullptr) {
        Tree e(build(expr));
        std::unique_ptr<XPath::Iterator> it(e->nodeSet(context ? context : root(), 1, map));
        Nodes out;
        while (it->hasNext()) out.push_back(it->next());
        return out;
    }
};

struct Case {
    const char* expr;
    const char* expected;
};

/// Evaluates every case as a string in `env`, then again with each of its allocations failing
/// in turn (building the tree included).
inline void check(Env& env, std::initializer_list<Case> cases, DOMNode* context = nullptr) {
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, env.eval(c.expr, context)) << c.expr;
        sweep([&] {
            try {
                env.value(c.expr, context);
            } catch (const Exception& e) {
                if (e.id() == 18 || std::to_string(e.id()) + ": " + e.what().c_str() != c.expected) throw;
            }
        });
    }
}

/// Every node a walk in document order meets from `n`: the node, its namespace declarations,
/// its other attributes, its children (entity references, document types aside).
inline void documentOrder(DOMNode* n, Nodes& out) {
    out.push_back(n);
    if (xercesc::DOMNamedNodeMap* attributes = n->getAttributes()) {
        for (int pass = 0; pass < 2; ++pass) {
            for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
                DOMNode* a = attributes->item(i);
                std::string name = utf8(a->getNodeName());
                bool declaration = name.compare(0, 6, "xmlns:") == 0 ||
                                   (name == "xmlns" && *a->getNodeValue());
                if (declaration == (pass == 0) && (name != "xmlns" || *a->getNodeValue())) out.push_back(a);
            }
        }
    }
    for (DOMNode* c = n->getFirstChild(); c; c = c->getNextSibling()) {
        if (c->getNodeType() != DOMNode::DOCUMENT_TYPE_NODE && c->getNodeType() != DOMNode::ENTITY_REFERENCE_NODE) documentOrder(c, out);
    }
}

}  // namespace xpath_test

#endif
