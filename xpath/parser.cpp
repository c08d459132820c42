#include <ambrite/xml/xpath.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "foundation/internal.h"
#include "xpath/internal.h"

namespace Ambrite {
namespace XML {

namespace {

bool is(const XMLCh* token, const XMLCh* text) { return token && StringUtil::eq(token, text); }

// A parsed expression and the depth of its tree.
struct Node {
    std::unique_ptr<XPath> tree;
    unsigned int depth;
};

// Releases every tree into `raw`, whose room was reserved before: nothing here can throw.
const std::vector<XPath*>& release(std::vector<Node>& nodes, std::vector<XPath*>& raw) {
    for (Node& n : nodes) raw.push_back(n.tree.release());
    return raw;
}

struct OperatorToken {
    const XMLCh* text;
    Operator::Kind kind;
    int level;
};

const OperatorToken kOperators[] = {
    {u"or", Operator::OR, 0},         {u"and", Operator::AND, 1},
    {u"=", Operator::EQUAL, 2},       {u"!=", Operator::NOT_EQUAL, 2},
    {u"<", Operator::LESS, 3},        {u">", Operator::GREATER, 3},
    {u"<=", Operator::LESS_EQUAL, 3}, {u">=", Operator::GREATER_EQUAL, 3},
    {u"+", Operator::PLUS, 4},        {u"-", Operator::MINUS, 4},
    {u"*", Operator::MULTIPLY, 5},    {u"div", Operator::DIV, 5},
    {u"mod", Operator::MOD, 5}};

const OperatorToken* operatorOf(const XMLCh* token) {
    for (const OperatorToken& o : kOperators) {
        if (is(token, o.text)) return &o;
    }
    return nullptr;
}

class Parser {
public:
    explicit Parser(XPathTokenizer& tokenizer) : t_(tokenizer), nesting_(0) {}

    // An operator-precedence loop over union expressions: pending operands wait in one slot per
    // level and are combined as soon as an operator of the same or a lower level follows, which
    // makes every operator left-associative.
    Node expression() {
        struct Nesting {
            unsigned int& n;
            explicit Nesting(unsigned int& count) : n(count) {
                if (++n > XPathParser::MAX_NESTING) tooDeep();
            }
            ~Nesting() { --n; }
        } nesting(nesting_);
        struct Slot {
            Node operand;
            Operator::Kind kind;
        } slots[6];
        for (;;) {
            unsigned int minus = 0;
            while (is(t_.next(), u"-")) ++minus;
            t_.undo();
            Node e = path();
            const XMLCh* token;
            while (is(token = t_.next(), u"|")) {
                Node right = path();
                e = combine(std::move(e), Operator::UNION, std::move(right));
            }
            if (minus) {
                // An even count converts to a number, as 0 + x.
                const Operator::Kind kind = minus % 2 ? Operator::MINUS : Operator::PLUS;
                e = node(new Operator(kind, e.tree.release()), e.depth + 1);
            }
            const OperatorToken* op = operatorOf(token);
            const int level = op ? op->level : 0;
            for (int i = 5; i >= level; --i) {
                if (!slots[i].operand.tree) continue;
                e = combine(std::move(slots[i].operand), slots[i].kind, std::move(e));
            }
            if (!op) {
                t_.undo();
                return e;
            }
            slots[level].operand = std::move(e);
            slots[level].kind = op->kind;
        }
    }

private:
    [[noreturn]] static void tooDeep() { throw Exception(15, "Expression nested too deeply"); }

    // The last token read is the offending one.
    [[noreturn]] void unexpected(const char* message) {
        throw Exception(15, Format(message, t_.undo()));
    }

    void require(const XMLCh* text, const char* message) {
        if (!is(t_.next(), text)) unexpected(message);
    }

    static Node node(XPath* tree, unsigned int depth) {
        Node n{std::unique_ptr<XPath>(tree), depth};
        if (depth > XPathParser::MAX_DEPTH) tooDeep();
        return n;
    }

    static Node combine(Node left, Operator::Kind kind, Node right) {
        const unsigned int depth = std::max(left.depth, right.depth) + 1;
        return node(new Operator(left.tree.release(), kind, right.tree.release()), depth);
    }

    typedef std::unique_ptr<Step::Axis> AxisPtr;
    typedef std::unique_ptr<Step::Test> TestPtr;

    static TestPtr anyNode() { return TestPtr(new NodeTypeTest(NodeTypeTest::NODE, nullptr)); }

    static Node step(Node context, AxisPtr a, TestPtr t, std::vector<Node>& predicates) {
        unsigned int depth = context.depth;
        for (const Node& p : predicates) depth = std::max(depth, p.depth);
        std::vector<XPath*> raw;
        raw.reserve(predicates.size());
        return node(
            new Step(context.tree.release(), a.release(), t.release(), release(predicates, raw)),
            depth + 1);
    }

    // "//": the step descendant-or-self::node() without predicates.
    static Node descendants(Node context) {
        AxisPtr axis(new TreeAxis(TreeAxis::DESCENDANT_OR_SELF));
        std::vector<Node> none;
        return step(std::move(context), std::move(axis), anyNode(), none);
    }

    void predicates(std::vector<Node>& out) {
        while (is(t_.next(), u"[")) {
            out.push_back(expression());
            require(u"]", "Unexpected token (expecting ']'): %S");
        }
        t_.undo();
    }

    // Variables, literals, numbers, "(" and function names; a node-type name with "(" begins a
    // step instead. Every token read is pushed back.
    bool beginsPrimary() {
        const XMLCh* token = t_.next();
        const XPathTokenizer::Type type = t_.type();
        bool primary = type == XPathTokenizer::VARIABLE || type == XPathTokenizer::LITERAL ||
                       type == XPathTokenizer::NUMBER || is(token, u"(");
        if (type == XPathTokenizer::NAME || type == XPathTokenizer::QNAME) {
            const bool nodeType = type == XPathTokenizer::NAME &&
                                  (is(token, u"comment") || is(token, u"node") ||
                                   is(token, u"processing-instruction") || is(token, u"text"));
            primary = is(t_.next(), u"(") && !nodeType;
            t_.undo();
        }
        t_.undo();
        return primary;
    }

    bool beginsStep() {
        const XMLCh* token = t_.peek();
        const XPathTokenizer::Type type = t_.type();
        return is(token, u".") || is(token, u"..") || is(token, u"@") || is(token, u"*") ||
               type == XPathTokenizer::PREFIX_WILDCARD || type == XPathTokenizer::NAME ||
               type == XPathTokenizer::QNAME;
    }

    Node path() {
        if (beginsPrimary()) {
            Node e = filter();
            const XMLCh* token = t_.next();
            if (is(token, u"//")) return relative(descendants(std::move(e)));
            if (is(token, u"/")) return relative(std::move(e));
            t_.undo();
            return e;
        }
        const XMLCh* token = t_.next();
        if (!is(token, u"/") && !is(token, u"//")) {
            t_.undo();
            return relative(node(new Primitive(Primitive::CONTEXT), 1));
        }
        Node root = node(new Primitive(Primitive::ROOT), 1);
        if (is(token, u"//")) return relative(descendants(std::move(root)));
        return beginsStep() ? relative(std::move(root)) : std::move(root);
    }

    Node primary() {
        const XMLCh* token = t_.next();
        switch (t_.type()) {
            case XPathTokenizer::VARIABLE:
                return node(new VariableReference(token + 1), 1);
            case XPathTokenizer::LITERAL: {
                internal::OwnedString text(
                    internal::dupString(token + 1, internal::length(token) - 2));
                return node(new Primitive(text.get()), 1);
            }
            case XPathTokenizer::NUMBER: {
                // Digits with an optional point; ".5" reads as "0.5".
                std::u16string digits(token[0] == u'.' ? u"0" : u"");
                digits += token;
                return node(new Primitive(internal::parseNumber(digits.data(), digits.size())), 1);
            }
            case XPathTokenizer::NAME:
            case XPathTokenizer::QNAME:
                return call(token);
            default:
                if (is(token, u"(")) {
                    Node e = expression();
                    require(u")", "Unexpected token (expecting ')'): %S");
                    return e;
                }
                unexpected("Unexpected token (expecting filterExpr): %S");
        }
    }

    Node call(const XMLCh* token) {
        internal::OwnedString name(StringUtil::dup(token));
        require(u"(", "Unexpected token (expecting '('): %S");
        std::vector<Node> arguments;
        if (!is(t_.next(), u")")) {
            t_.undo();
            do {
                arguments.push_back(expression());
            } while (is(t_.next(), u","));
        }
        t_.undo();
        unsigned int depth = 0;
        for (const Node& a : arguments) depth = std::max(depth, a.depth);
        std::vector<XPath*> raw;
        raw.reserve(arguments.size());
        Node e = node(new FunctionCall(name.get(), release(arguments, raw)), depth + 1);
        require(u")", "Unexpected token (expecting ')'): %S");
        return e;
    }

    // A primary expression and its predicates, which make it a filter step.
    Node filter() {
        Node e = primary();
        std::vector<Node> list;
        predicates(list);
        if (list.empty()) return e;
        AxisPtr axis(new FilterAxis);
        return step(std::move(e), std::move(axis), anyNode(), list);
    }

    // The node test after the axis: a node-type test or a name test.
    Step::Test* test() {
        const XMLCh* token = t_.next();
        const XPathTokenizer::Type type = t_.type();
        if (type == XPathTokenizer::NAME && is(t_.peek(), u"(")) {
            internal::OwnedString name(StringUtil::dup(token));
            t_.next();
            const XMLCh* argument = t_.next();
            internal::OwnedString written, literal;
            if (t_.type() == XPathTokenizer::LITERAL) {
                written.reset(StringUtil::dup(argument));
                literal.reset(internal::dupString(argument + 1, internal::length(argument) - 2));
            } else {
                t_.undo();
            }
            std::unique_ptr<Step::Test> test(NodeTypeTest::create(name.get(), literal.release()));
            if (!test) {
                throw Exception(15, Format("Unsupported node type test: %S(%S)", name.get(),
                                           written ? written.get() : u""));
            }
            require(u")", "Unexpected token (expecting ')'): %S");
            return test.release();
        }
        if (is(token, u"*") || type == XPathTokenizer::PREFIX_WILDCARD ||
            type == XPathTokenizer::NAME || type == XPathTokenizer::QNAME) {
            return new NameTest(token);
        }
        unexpected("Unexpected token (expecting node test): %S");
    }

    // Steps separated by "/" or "//", each with the previous one as its context.
    Node relative(Node context) {
        Node e = std::move(context);
        for (;;) {
            const XMLCh* token = t_.next();
            AxisPtr axis;
            TestPtr test;
            std::vector<Node> list;
            if (is(token, u".") || is(token, u"..")) {
                axis.reset(new LinearAxis(is(token, u".") ? LinearAxis::SELF : LinearAxis::PARENT));
                test = anyNode();
            } else {
                if (t_.type() == XPathTokenizer::NAME && is(t_.peek(), u"::")) {
                    axis.reset(Step::Axis::create(token));
                    if (!axis) throw Exception(15, Format("Unsupported axis: %S", token));
                    t_.next();
                } else if (is(token, u"@")) {
                    axis.reset(new AttributeAxis(true));
                } else {
                    axis.reset(new LinearAxis(LinearAxis::CHILD));
                    t_.undo();
                }
                test.reset(this->test());
                predicates(list);
            }
            e = step(std::move(e), std::move(axis), std::move(test), list);
            token = t_.next();
            if (is(token, u"//")) e = descendants(std::move(e));
            if (!is(token, u"/") && !is(token, u"//")) {
                t_.undo();
                return e;
            }
        }
    }

    XPathTokenizer& t_;
    unsigned int nesting_;
};

}  // namespace

XPath* XPathParser::parse(const XMLCh* expression) {
    XPathTokenizer tokenizer(expression);
    std::unique_ptr<XPath> tree(parse(tokenizer));
    if (const XMLCh* token = tokenizer.next()) {
        throw Exception(15, Format("Unexpected token (expecting none): %S", token));
    }
    return tree.release();
}

XPath* XPathParser::parse(XPathTokenizer& tokenizer) {
    return Parser(tokenizer).expression().tree.release();
}

}  // namespace XML
}  // namespace Ambrite
