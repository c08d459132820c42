// XPath 1.0: the tokenizer, the parser, values and their conversions, node iterators, the
// expression model with its bindings, location steps and the core function library.
#ifndef AMBRITE_XML_XPATH_H
#define AMBRITE_XML_XPATH_H

#include <ambrite/xml/foundation.h>

#include <cstddef>
#include <iosfwd>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class DOMNamedNodeMap;
XERCES_CPP_NAMESPACE_END

namespace Ambrite {
namespace XML {

// ---------------------------------------------------------------------------------------------
// Tokenizer

/// Cuts an expression into tokens on demand and keeps the four most recent ones, so that up to
/// four can be pushed back. It knows no grammar: "*" and "and" are whatever the parser makes of
/// them.
class AMXML_API XPathTokenizer {
public:
    enum Type {
        INVALID = 0,  // end of input (null text), an unknown unit or an unterminated literal
        PREFIX_WILDCARD = 1,
        VARIABLE = 2,  // text includes the "$"
        QNAME = 3,
        NAME = 4,
        OPERATOR = 5,
        LITERAL = 6,  // text includes both quotes
        NUMBER = 7
    };

    /// Copies `text`, which must not be null.
    explicit XPathTokenizer(const XMLCh* text);
    virtual ~XPathTokenizer();
    XPathTokenizer(const XPathTokenizer&) = delete;
    XPathTokenizer& operator=(const XPathTokenizer&) = delete;

    /// The next token's text (null at the end, reported again on every call); sets type().
    /// The text stays valid until four more tokens have been scanned.
    const XMLCh* next();
    /// next() followed by undo(); type() is the peeked token's.
    const XMLCh* peek();
    /// Pushes the last token back and gives the text the next next() returns again. At most four
    /// tokens may be pushed back; type() is left as it is.
    const XMLCh* undo();
    Type type() const { return currentType_; }
    /// The unscanned rest of the text, inside the tokenizer's copy; pushed-back tokens are not
    /// part of it.
    const XMLCh* remainder() const { return text_ + position_; }

    /// Space, tab, line feed and carriage return.
    static bool isWhitespace(XMLCh c) { return c == 32 || c == 9 || c == 10 || c == 13; }
    static bool isDigit(XMLCh c) { return c >= u'0' && c <= u'9'; }
    /// A utalloc copy of s without leading and trailing whitespace; the caller frees it.
    static XMLCh* trim(const XMLCh* s);

protected:
    /// A new utalloc copy of `length` units at `start`; the ring takes ownership of it.
    virtual XMLCh* unescape(XMLCh* start, unsigned int length);
    /// Scans one token at position_ (whitespace skipped, at least one unit left): sets start_,
    /// leaves position_ after the token and gives its type.
    virtual Type nextImpl();

    XMLCh* text_;
    int start_;
    int position_;
    int length_;
    Type currentType_;
    XMLCh* recentTokens_[4];
    Type recentTypes_[4];
    unsigned int produced_;    // tokens scanned so far; token k lives in slot k % 4
    unsigned int pushedBack_;  // tokens pushed back and not yet read again
};

// ---------------------------------------------------------------------------------------------
// Expressions

/// A compiled expression: a tree of XPath objects evaluated against a context node (one XPath
/// sees: not an entity reference, a document type or an xmlns="" declaration), a context
/// position (from 1) and a binding map. Strings returned are utalloc'ed and freed by the caller
/// with utfree; iterators are deleted by the caller. A tree is evaluated by one thread at a time.
class AMXML_API XPath : public Allocated {
public:
    enum Type { BOOLEAN = 0, NUMBER = 1, STRING = 2, NODE_SET = 3 };

    class Iterator;
    class Binding;
    class Variable;
    class Function;
    class Namespace;
    class Budget;

    /// Keys are "$" + variable name, "&" + function name, or a bare namespace prefix. The map
    /// stores the key pointers it is given: keys must outlive their entries.
    typedef MyMap<const XMLCh*, const Binding*, StringComparator> BindingMap;

    virtual ~XPath() = 0;
    /// The type of the value; it may depend on the bindings.
    virtual Type type(const BindingMap& bindings) const;
    /// The value as each type; the base versions convert from the expression's own type and throw
    /// Exception 14 where no conversion exists.
    virtual bool boolean(DOMNode* node, unsigned int position, const BindingMap& bindings);
    virtual double number(DOMNode* node, unsigned int position, const BindingMap& bindings);
    virtual XMLCh* string(DOMNode* node, unsigned int position, const BindingMap& bindings);
    virtual Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings);
    virtual void print(std::ostream& out) const = 0;

    /// Deletes every binding in the map and empties it; then binds "&here" to `here` and every
    /// prefix declared on `namespaceContext` or its ancestors (nearest first, the default
    /// namespace never) to a Namespace. The map owns these bindings until the next init; keys are
    /// the DOM's own strings. Either node may be null.
    static void init(BindingMap& bindings, DOMNode* here, DOMNode* namespaceContext);

protected:
    explicit XPath(Type type) : type_(type) {}

private:
    Type type_;
};

AMXML_API std::ostream& operator<<(std::ostream& out, const XPath* expression);

/// A stream of nodes, possibly with duplicates and not necessarily in document order.
class AMXML_API XPath::Iterator : public Allocated {
public:
    virtual ~Iterator() = 0;
    virtual bool hasNext() = 0;
    virtual DOMNode* next() = 0;
};

/// What the binding map holds: a Variable, a Function or a Namespace.
class AMXML_API XPath::Binding : public Allocated {
public:
    virtual ~Binding() = 0;
};

/// A variable value; derived variables may compute their value in the virtual operations.
class AMXML_API XPath::Variable : public XPath::Binding {
public:
    explicit Variable(bool value);
    explicit Variable(double value);
    /// Copies the string (null allowed).
    explicit Variable(const XMLCh* value);
    /// Copies the vector, not the nodes.
    explicit Variable(const std::vector<DOMNode*>& nodes);
    Variable(const Variable& other);
    Variable& operator=(const Variable& other);
    ~Variable() override;

    XPath::Type type() const { return type_; }
    virtual bool boolean() const;
    virtual double number() const;
    /// A new copy, or null when no string is stored.
    virtual XMLCh* string() const;
    /// A new iterator over the nodes.
    virtual Iterator* nodeSet() const;

protected:
    explicit Variable(XPath::Type type);

private:
    XPath::Type type_;
    bool boolean_;
    double number_;
    XMLCh* string_;
    std::vector<DOMNode*> nodes_;
};

/// A function: it evaluates its own argument expressions with the node, position and bindings
/// it is given. The base operations throw Exception 14 "Not a boolean", "Not a number", ...
class AMXML_API XPath::Function : public XPath::Binding {
public:
    ~Function() override = 0;
    /// The result type.
    XPath::Type type() const { return type_; }
    virtual bool boolean(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                         const BindingMap& bindings) const;
    virtual double number(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                          const BindingMap& bindings) const;
    virtual XMLCh* string(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                          const BindingMap& bindings) const;
    virtual Iterator* nodeSet(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                              const BindingMap& bindings) const;

protected:
    explicit Function(XPath::Type type) : type_(type) {}

private:
    XPath::Type type_;
};

/// The namespace URI a prefix stands for.
class AMXML_API XPath::Namespace : public XPath::Binding {
public:
    /// Copies the URI (null allowed).
    explicit Namespace(const XMLCh* uri);
    Namespace(const Namespace& other);
    Namespace& operator=(const Namespace& other);
    ~Namespace() override;
    const XMLCh* namespaceURI() const { return uri_; }

private:
    XMLCh* uri_;
};

/// A bound on the work of evaluations, in force when the map binds it under key(). Axes count
/// every node they visit (each candidate they produce and each context node they start from):
/// one counter increment and comparison per node. Beyond maxVisits the evaluation fails with
/// Exception 14 "Evaluation limit exceeded: more than %s node visits". The count goes on over
/// every evaluation made with the map until reset(). Without a budget, evaluation is unbounded.
class AMXML_API XPath::Budget : public XPath::Binding {
public:
    explicit Budget(unsigned long long maxVisits) : max_(maxVisits), visits_(0) {}
    ~Budget() override;
    /// "#budget", a key no variable, function or prefix can have.
    static const XMLCh* key();
    unsigned long long maxVisits() const { return max_; }
    unsigned long long visits() const { return visits_; }
    void reset() { visits_ = 0; }
    /// Counts one visit; Exception 14 once the count exceeds maxVisits.
    void visit() const {
        if (++visits_ > max_) exceeded();
    }

private:
    [[noreturn]] void exceeded() const;

    unsigned long long max_;
    mutable unsigned long long visits_;
};

/// A boolean, number or string constant, or the context node or the root of its document.
class AMXML_API Primitive : public XPath {
public:
    enum Node { ROOT = 0, CONTEXT = 1 };

    explicit Primitive(bool value);
    explicit Primitive(double value);
    /// Copies the string (null allowed: evaluates to null).
    explicit Primitive(const XMLCh* value);
    /// A node set: the context node, or the document that owns it.
    explicit Primitive(Node node);
    Primitive(const Primitive&) = delete;
    Primitive& operator=(const Primitive&) = delete;
    ~Primitive() override;

    bool boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    double number(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    XMLCh* string(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    void print(std::ostream& out) const override;

private:
    friend class XPathFilter;
    friend class Operator;
    friend class Step;

    bool boolean_;
    double number_;
    XMLCh* string_;
    bool relative_;
    // A node found placed in document order during the current evaluation of the step whose
    // predicates hold this (nested), which forgets it when it starts; null when there is none.
    DOMNode* placedKnown_ = nullptr;
    bool nested_ = false;
};

/// Arithmetic, logic, comparison and union.
class AMXML_API Operator : public XPath {
public:
    enum Kind {
        PLUS = 0,
        MINUS = 1,
        MULTIPLY = 2,
        DIV = 3,
        MOD = 4,
        OR = 5,
        AND = 6,
        EQUAL = 7,
        NOT_EQUAL = 8,
        LESS = 9,
        GREATER = 10,
        LESS_EQUAL = 11,
        GREATER_EQUAL = 12,
        UNION = 13,
        NO_OPERATOR = 14  // the parser's end marker; never in a tree
    };

    /// Adopts both operands (also when this throws).
    Operator(XPath* left, Kind kind, XPath* right);
    /// Unary PLUS (the operand as a number) or MINUS (its negation, -0 for 0); adopts the
    /// operand.
    Operator(Kind kind, XPath* operand);
    Operator(const Operator&) = delete;
    Operator& operator=(const Operator&) = delete;
    ~Operator() override;

    Kind kind() const { return kind_; }
    /// Evaluates the left operand first; "or" and "and" evaluate the right one only if needed.
    bool boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    double number(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    /// A union: the left's nodes, then the right's, duplicates kept.
    Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    void print(std::ostream& out) const override;

private:
    friend class XPathFilter;
    friend class Step;
    struct Scratch;
    bool compare(DOMNode* node, unsigned int position, const BindingMap& bindings);

    XPath* left_;
    Kind kind_;
    XPath* right_;
    Scratch* scratch_;  // buffers kept between evaluations; null while lent out
};

/// "$name": looks its variable up at every evaluation; Exception 14 "Unbound variable: %S".
class AMXML_API VariableReference : public XPath {
public:
    /// `name` without the "$".
    explicit VariableReference(const XMLCh* name);
    VariableReference(const VariableReference&) = delete;
    VariableReference& operator=(const VariableReference&) = delete;
    ~VariableReference() override;

    Type type(const BindingMap& bindings) const override;
    bool boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    double number(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    XMLCh* string(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    void print(std::ostream& out) const override;

private:
    const Variable* resolve(const BindingMap& bindings) const;

    XMLCh* name_;  // "$" + name
};

/// A call resolved at every evaluation: the binding "&name" if the map has one, else the core
/// function of that name; Exception 14 "Unbound function: %S" when neither exists.
class AMXML_API FunctionCall : public XPath {
public:
    /// Adopts the argument expressions (also when this throws).
    FunctionCall(const XMLCh* name, const std::vector<XPath*>& arguments);
    FunctionCall(const FunctionCall&) = delete;
    FunctionCall& operator=(const FunctionCall&) = delete;
    ~FunctionCall() override;

    Type type(const BindingMap& bindings) const override;
    bool boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    double number(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    XMLCh* string(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    void print(std::ostream& out) const override;

private:
    friend class XPathFilter;
    friend class Step;
    /// The function `bindings` or the core gives the name, or null.
    const Function* bound(const BindingMap& bindings) const;
    const Function* resolve(const BindingMap& bindings) const;

    XMLCh* name_;  // "&" + name
    std::vector<XPath*> arguments_;
    const Function* core_;  // the core function of that name, or null
    // Under an XPathFilter, whose map stays the same until it resets, the function resolved
    // from it; null when resolved at every call.
    const Function* kept_;
};

/// The signature function here(): as a function, a node set of the node it holds; as the
/// iterator that call returns, that node once.
class AMXML_API Here : public XPath::Function, public XPath::Iterator {
public:
    explicit Here(DOMNode* node);
    ~Here() override;

    XPath::Iterator* nodeSet(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                             const XPath::BindingMap& bindings) const override;
    bool hasNext() override { return !taken_; }
    /// Exception 14 "No next node" after the node has been taken.
    DOMNode* next() override;

private:
    DOMNode* node_;
    bool taken_;
};

/// The core function library (all but last()), as 26 shared, immutable objects.
class AMXML_API BaseFunction : public XPath::Function {
public:
    BaseFunction(const BaseFunction&) = delete;
    BaseFunction& operator=(const BaseFunction&) = delete;
    ~BaseFunction() override;

    /// The core function of that name (case-sensitive), or null.
    static const BaseFunction* lookup(const XMLCh* name);
    /// The built-in id().
    static const BaseFunction* idFunction();

    int id() const { return id_; }
    const XMLCh* name() const { return name_; }

    /// Wrong argument counts fail with Exception 14 "Invalid arguments to: %S()" before any
    /// argument is evaluated.
    bool boolean(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                 const XPath::BindingMap& bindings) const override;
    double number(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                  const XPath::BindingMap& bindings) const override;
    XMLCh* string(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                  const XPath::BindingMap& bindings) const override;
    XPath::Iterator* nodeSet(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                             const XPath::BindingMap& bindings) const override;

private:
    BaseFunction(int id, const XMLCh* name);
    void checkArguments(const std::vector<XPath*>& args, std::size_t min, std::size_t max) const;

    static const BaseFunction library_[26];

    int id_;
    const XMLCh* name_;
};

// ---------------------------------------------------------------------------------------------
// Many context nodes

class NameTest;

/// One compiled expression evaluated as a boolean for many context nodes of one document, as the
/// XPath filter transform of signatures does. The parts of the expression that depend on neither
/// the context node nor the context position or size (absolute paths, literals, variables,
/// here(), and the core functions and operators of these only) are evaluated once, at their
/// first use, and kept for every later node of the same document; the result for each node is
/// that of expression->boolean(node, 1, bindings), errors included. Ancestor and
/// ancestor-or-self steps from the context node whose predicates see only their candidate, read
/// as booleans, keep their answer for the elements met, so that nodes matched in document order
/// cost their own test rather than a climb to the root. A filter is used by one thread at a
/// time.
class AMXML_API XPathFilter : public Allocated {
public:
    /// Adopts the expression (also when this throws); borrows the map, which must outlive the
    /// filter and must not change while values are kept (call reset() after changing it).
    XPathFilter(XPath* expression, const XPath::BindingMap& bindings);
    ~XPathFilter();
    XPathFilter(const XPathFilter&) = delete;
    XPathFilter& operator=(const XPathFilter&) = delete;

    /// The expression's boolean value with `node` as context node and context position and size
    /// 1. A node of another document than the previous call's forgets the values kept.
    bool matches(DOMNode* node);
    /// Forgets the values kept (for a changed document or map).
    void reset();
    /// The number of parts evaluated once per document.
    std::size_t invariantParts() const { return caches_.size(); }

private:
    class Cache;
    bool invariant(XPath* e);
    void hoist(XPath*& e);
    void keepNameTests(XPath* e);

    XPath* expression_;
    const XPath::BindingMap& bindings_;
    std::vector<Cache*> caches_;
    std::vector<XPath*> chains_;        // the ancestor steps read through a Step::Chain
    std::vector<FunctionCall*> calls_;  // of the parts evaluated per node
    std::vector<NameTest*> nameTests_;  // of the steps evaluated per node
    const DOMNode* document_;
};

// ---------------------------------------------------------------------------------------------
// Parser

/// Compiles the text of an XPath 1.0 expression into a tree of XPath objects.
class AMXML_API XPathParser {
public:
    /// The tree, owned by the caller. Syntax errors are Exception 15 with the offending token
    /// ("Null" at the end of the text); expressions nested more than MAX_NESTING levels
    /// (parentheses, predicates, arguments) or giving a tree deeper than MAX_DEPTH fail with
    /// "Expression nested too deeply". The bounds keep the stack that parsing, evaluating,
    /// printing and deleting take under some 400 KB (optimised build), so that strangers'
    /// expressions are safe on threads with small stacks; real expressions nest a few levels.
    static XPath* parse(const XMLCh* expression);

    static const unsigned int MAX_NESTING = 256;
    static const unsigned int MAX_DEPTH = 1024;

private:
    friend class XPointerParser;
    /// One expression from the tokenizer, which is left on the token after it (pushed back).
    static XPath* parse(XPathTokenizer& tokenizer);
};

// ---------------------------------------------------------------------------------------------
// Location steps

class OrderedIterator;
class Step;
class TreeAxis;
class LinearAxis;
namespace internal {
class NodeStream;
}

/// The nodes of one evaluation of a step: for each context node, the axis's candidates that pass
/// the test, filtered by the predicates with positions counted per predicate in axis order.
/// It borrows the step's axis, test and predicates: valid while the step lives and until the
/// step is evaluated again; the binding map of that evaluation must outlive it.
class AMXML_API StepIterator : public XPath::Iterator {
public:
    class State;

    StepIterator(Step* step, const XPath::Budget* budget);
    StepIterator(const StepIterator&) = delete;
    StepIterator& operator=(const StepIterator&) = delete;
    ~StepIterator() override;

    bool hasNext() override;
    /// The next node, or null when exhausted.
    DOMNode* next() override;

    /// Reads the remaining nodes and gives their number (duplicates included).
    unsigned int count();
    /// Whether each node comes once, as the shape of the path guarantees (a child step of
    /// distinct nodes, any axis from one node, ...).
    bool distinct() const;
    /// Whether the nodes come in document order, each once, and document order places every one
    /// of them: an OrderedIterator would yield them as they come.
    bool ordered() const;

private:
    friend class Step;
    /// Starts over for a new evaluation of the step.
    void reset(const XPath::Budget* budget);
    bool advance();
    DOMNode* candidate();
    bool passes(DOMNode* node, std::size_t level);
    double last(std::size_t level);
    void look();

    Step* step_;
    const XPath::Budget* budget_;
    bool looked_;
    bool started_;    // the axis has been advanced to a first context node
    bool exhausted_;  // no further candidate of the current context node can pass
    DOMNode* lookahead_;
    std::size_t lastLevel_;   // the predicate level whose last() is known
    unsigned int lastValue_;  // last() of that level; 0 while unknown
    std::size_t cursor_;      // next node of the step's buffer
    unsigned int shape_;      // what is known of the nodes, from the shape of the path
    DOMNode* start_;          // the one node the path started from, or null
};

/// The last() function of one predicate level, bound as "&last" in that level's copy of the
/// binding map.
class AMXML_API StepIterator::State : public XPath::Function {
public:
    explicit State(std::size_t level);
    ~State() override;
    /// Exception 14 "Invalid arguments to: last()" when called with arguments.
    double number(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                  const XPath::BindingMap& bindings) const override;

private:
    friend class StepIterator;
    friend class Step;
    /// Makes `bindings` the outer map plus "&last" bound to this state, copying only when the
    /// outer map changed since the last evaluation.
    void bind(const XPath::BindingMap& outer);

    std::size_t level_;
    unsigned int position_;
    StepIterator* owner_;
    XPath::BindingMap bindings_;
    // The predicate's type under bindings_, found at its first use in an evaluation: the map
    // stays the same until the next, so a call is not looked up again per candidate for it.
    XPath::Type type_ = XPath::NODE_SET;
    bool typed_ = false;
};

/// A location step, or the predicates of a filter expression (a FilterAxis with node()).
class AMXML_API Step : public XPath {
public:
    class Axis;
    class Test;

    /// Adopts all four (also when this throws).
    Step(XPath* context, Axis* axis, Test* test, const std::vector<XPath*>& predicates);
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;
    ~Step() override;

    /// A new StepIterator (see there for its lifetime). The axis and the test are those of every
    /// evaluation: one tree is evaluated by one thread at a time.
    Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    /// The conversions of the node set, read without an iterator on the heap.
    bool boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    double number(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    XMLCh* string(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    void print(std::ostream& out) const override;

private:
    friend class StepIterator;
    friend class XPathFilter;
    friend class Operator;
    friend class internal::NodeStream;

    /// Sets an evaluation up as nodeSet() does, short of the iterator; gives the budget in force.
    const Budget* start(DOMNode* node, unsigned int position, const BindingMap& bindings);
    /// Starts an evaluation read through this step's own iterator, as the context of another.
    StepIterator* restart(DOMNode* node, unsigned int position, const BindingMap& bindings);
    /// For "@name = 'text'" (or "!=" when not `equal`): 1 when some attribute of `node` the step
    /// selects has (or has not) the value `text`, else 0, found without starting the step; -1
    /// when the step is not attribute::name from the context node or a Budget counts visits.
    int someAttributeEquals(DOMNode* node, const BindingMap& bindings, const XMLCh* text,
                            bool equal);

    XPath* context_;
    Axis* axis_;
    Test* test_;
    std::vector<XPath*> predicates_;
    // Per predicate: its last() function and map, and the position a constant number predicate
    // selects (0 for other predicates). Kept between evaluations so that they allocate nothing.
    std::vector<StepIterator::State*> states_;
    std::vector<double> constants_;
    std::vector<DOMNode*> buffer_;  // candidates read ahead for last()
    // "//x" and "//." read as descendant::x and descendant-or-self::node() walks from the
    // context of the descendant-or-self::node() step before this one, which give the same nodes
    // without starting an axis at every node. Not taken when the predicates may depend on
    // positions, when one of the functions they call is rebound, or under a Budget, which
    // counts the visits of the steps as written. A first predicate that is a small constant
    // position or last() is told from the candidate's siblings (see bySiblings_).
    void collapse();
    // The first predicate of a collapsed "//x[N]" or "//x[last()]": N, -1 for last(), else 0.
    int siblingPosition_ = 0;
    bool bySiblings_ = false;  // ... and the walk is taken in the current evaluation
    /// Whether `node`, a candidate of the walk, stands at siblingPosition_ among its siblings
    /// that pass the test.
    bool atSiblingPosition(DOMNode* node);
    /// Whether `predicates` see only their candidate node: none is a number (compared with the
    /// position) and none calls position() or last() at any depth. `calls` gets the keys of the
    /// functions they call, which must not be rebound for this to hold.
    static bool seeOnlyTheirNode(const std::vector<XPath*>& predicates,
                                 std::vector<const XMLCh*>& calls);
    /// An ancestor step read as a boolean, its answers kept along one chain (xpath/internal.h).
    class Chain;
    /// Puts the ancestor and ancestor-or-self steps from the context node that `e` reads as
    /// booleans, and whose predicates see only their candidate, into chains, added to `chains`;
    /// `underBudget`: whether they keep their answers also when a Budget counts visits.
    static void keepChains(XPath*& e, std::vector<XPath*>& chains, bool underBudget);
    std::vector<XPath*> chains_;       // those of the predicates, reset at every evaluation
    Axis* shortcut_;                   // the axis of that walk, or null
    Step* skipped_;                    // the descendant-or-self::node() step it replaces
    std::vector<const XMLCh*> calls_;  // keys of the functions the predicates call
    Axis* active_;                     // the axis of the current evaluation
    // The context nodes of an evaluation come without an iterator of their own where they can:
    // one node when the context is the context node or the root, or the nodes of a context step
    // read through that step's own iterator. Not for filters, which order their nodes first.
    Primitive* primitive_;          // context_ as a Primitive, else null
    Step* inner_;                   // context_ as a Step, else null
    Primitive* shortcutPrimitive_;  // the same for the context of skipped_
    Step* shortcutInner_;
    int axisClass_;  // how axis_ and shortcut_ keep the shape of their context nodes
    int shortcutClass_;
    DOMNode* single_;       // the one context node of the evaluation
    bool singlePending_;    // ... not begun yet
    StepIterator* source_;  // the context step's own iterator, or null
    StepIterator* own_;     // this step's iterator when it serves as the context of another
    TreeAxis* tree_;        // active_ as a TreeAxis, else null
    TreeAxis* axisTree_;    // axis_ as a TreeAxis, else null
    LinearAxis* children_;  // active_ as a child axis, else null
    LinearAxis* axisChildren_;
    int testKind_;        // how the tree and child walks match test_
    bool attributeOnly_;  // attribute::name from the context node, without predicates
    // node() walks whose nodes are only the context nodes of a child or attribute step hand on
    // elements and documents alone, the only nodes with candidates there; not under a Budget,
    // which counts every context node of that step as a visit.
    bool containersOnly_;
    // following and preceding steps without predicates from the nodes of a context step: the
    // nodes from all contexts are those from one of them (see narrow()), unless a Budget counts
    // the visits of each.
    int narrowing_;  // the axis class when the step can be narrowed so, else 0
    std::vector<DOMNode*> contexts_, ordered_;
    /// Reads the context nodes from source_ and leaves the one whose axis holds all the others'
    /// as the single context; gives the shape of the context nodes.
    unsigned int narrow(unsigned int source);
    unsigned int shape_;  // what is known of the nodes of the current evaluation
    DOMNode* start_;      // the one node the current evaluation's path started from, or null
    // A node found placed in document order during the current evaluation (see Primitive); the
    // nested steps and primitives of the predicates, whose ones this forgets when it starts.
    DOMNode* placedKnown_ = nullptr;
    bool nested_ = false;
    std::vector<DOMNode**> placements_;
    void collectPlacements(XPath* e);
    // "(path)[last()]" where the path walks one subtree without predicates: its last node is
    // found walking the subtree backwards from its end, unless a Budget counts the visits.
    bool lastOnly_;
    /// The nodes of context_ for this filter: that last node alone, or all of them.
    Iterator* lastOfPath(DOMNode* node, unsigned int position, const BindingMap& bindings);
};

/// Walks one axis from each node of a context node set in turn.
class AMXML_API Step::Axis : public Allocated {
public:
    enum PrincipalType { ATTRIBUTE = 0, NAMESPACE = 1, ELEMENT = 2 };

    virtual ~Axis();
    /// The axis of that name (child, descendant-or-self, ...), or null.
    static Axis* create(const XMLCh* name);

    PrincipalType principalType() const { return principalType_; }
    /// Starts walking from one context node.
    virtual void begin(DOMNode* contextNode) = 0;
    /// Adopts the context nodes, deleting the previous ones.
    virtual void setSource(XPath::Iterator* contexts);
    /// Begins at the next context node; false when there is none.
    virtual bool advance();
    /// The number of candidates of the current context node when known in advance, else 0.
    virtual unsigned int knownSize();
    virtual bool hasNext() = 0;
    /// The current candidate; moves on.
    virtual DOMNode* next() = 0;
    virtual void print(std::ostream& out) const = 0;

protected:
    explicit Axis(PrincipalType principalType) : principalType_(principalType), source_(nullptr) {}

    PrincipalType principalType_;
    XPath::Iterator* source_;
};

/// self, child, parent, ancestor, ancestor-or-self, following-sibling, preceding-sibling.
class AMXML_API LinearAxis : public Step::Axis {
public:
    enum Kind {
        SELF = 0,
        CHILD = 1,
        PARENT = 2,
        ANCESTOR = 3,
        ANCESTOR_OR_SELF = 4,
        FOLLOWING_SIBLING = 5,
        PRECEDING_SIBLING = 6
    };
    explicit LinearAxis(Kind kind);
    ~LinearAxis() override;
    Kind kind() const { return kind_; }
    void begin(DOMNode* contextNode) override;
    bool hasNext() override { return current_ != nullptr; }
    DOMNode* next() override;
    void print(std::ostream& out) const override;

private:
    friend class StepIterator;
    DOMNode* childFrom(DOMNode* n);
    /// As TreeAxis::find(), for the child axis.
    DOMNode* findChild(Step::Test* test, int testKind, const XPath::Budget* budget);

    Kind kind_;
    DOMNode* current_;
    std::vector<DOMNode*> entered_;  // entity references the child walk is inside of
};

/// descendant, descendant-or-self, following: pre-order walks.
class AMXML_API TreeAxis : public Step::Axis {
public:
    enum Kind { DESCENDANT = 0, DESCENDANT_OR_SELF = 1, FOLLOWING = 2 };
    explicit TreeAxis(Kind kind);
    ~TreeAxis() override;
    Kind kind() const { return kind_; }
    TreeAxis(const TreeAxis&) = delete;
    TreeAxis& operator=(const TreeAxis&) = delete;
    void begin(DOMNode* contextNode) override;
    bool hasNext() override { return current_ != nullptr; }
    DOMNode* next() override;
    void print(std::ostream& out) const override;

private:
    friend class StepIterator;
    /// The next candidate that passes `test`, each candidate counted on `budget` when there is
    /// one; null at the end. One call walks over the candidates that fail, matching the common
    /// tests in place (`testKind` says how), instead of a hasNext(), next() and matches() per
    /// candidate.
    DOMNode* find(Step::Test* test, int testKind, const XPath::Budget* budget);
    /// The candidate after n, of type `type`; sets currentType_.
    DOMNode* walk(DOMNode* n, int type);

    Kind kind_;
    DOMNode* current_;
    int currentType_;   // the node type of current_
    DOMNode* subtree_;  // the subtree being walked: the context node's, or for following the
                        // current one of those after the context node
};

/// preceding: the nodes before the context node in reverse document order, ancestors excluded.
class AMXML_API PrecedingAxis : public Step::Axis {
public:
    PrecedingAxis();
    ~PrecedingAxis() override;
    void begin(DOMNode* contextNode) override;
    bool hasNext() override { return current_ != nullptr; }
    DOMNode* next() override;
    void print(std::ostream& out) const override;

private:
    DOMNode* climb(DOMNode* ancestor);

    DOMNode* current_;
    DOMNode* ancestor_;  // the lowest ancestor-or-self of the context node not yet passed
    DOMNode* ancestorParent_;
};

/// attribute (attributes other than namespace declarations) and namespace (the declarations
/// written on the element itself).
class AMXML_API AttributeAxis : public Step::Axis {
public:
    /// The attribute axis when `attributes`, else the namespace axis.
    explicit AttributeAxis(bool attributes);
    ~AttributeAxis() override;
    void begin(DOMNode* contextNode) override;
    bool hasNext() override { return current_ != nullptr; }
    DOMNode* next() override;
    void print(std::ostream& out) const override;

private:
    void find();

    bool attributes_;
    DOMNode* current_;
    XMLSize_t index_;
    XMLSize_t length_;
    xercesc::DOMNamedNodeMap* map_;
};

/// The predicates of a filter expression see its whole node set, in document order and without
/// duplicates, as the candidates of one context.
class AMXML_API FilterAxis : public Step::Axis {
public:
    FilterAxis();
    ~FilterAxis() override;
    void begin(DOMNode*) override {}
    void setSource(XPath::Iterator* contexts) override;
    bool advance() override;
    unsigned int knownSize() override;
    bool hasNext() override;
    DOMNode* next() override;
    void print(std::ostream& out) const override;

private:
    bool pending_;
    OrderedIterator* ordered_;
};

/// A node test.
class AMXML_API Step::Test : public Allocated {
public:
    virtual ~Test();
    /// Called at every evaluation, before any node is matched.
    virtual void prepare(Axis::PrincipalType principalType, const XPath::BindingMap& bindings);
    virtual bool matches(DOMNode* node) = 0;
    virtual void print(std::ostream& out) const = 0;
};

/// comment(), node(), processing-instruction() with an optional target, text().
class AMXML_API NodeTypeTest : public Step::Test {
public:
    enum Kind { COMMENT = 0, NODE = 1, PROCESSING_INSTRUCTION = 2, TEXT = 3 };
    /// Adopts `literal` (a utalloc'ed target name or null).
    NodeTypeTest(Kind kind, XMLCh* literal);
    NodeTypeTest(const NodeTypeTest&) = delete;
    NodeTypeTest& operator=(const NodeTypeTest&) = delete;
    ~NodeTypeTest() override;
    /// The test of that name, or null (also for a literal with anything but
    /// processing-instruction); adopts `literal` in every case.
    static NodeTypeTest* create(const XMLCh* name, XMLCh* literal);
    /// Whether this is node(), which every node passes.
    bool anyNode() const { return kind_ == NODE; }
    Kind kind() const { return kind_; }
    bool matches(DOMNode* node) override;
    void print(std::ostream& out) const override;

private:
    Kind kind_;
    XMLCh* literal_;
};

/// "*", "prefix:*", "name" or "prefix:name"; the prefix is looked up in the map at every
/// evaluation (Exception 14 "Unbound namespace prefix: %S").
class AMXML_API NameTest : public Step::Test {
public:
    /// Copies the name.
    explicit NameTest(const XMLCh* name);
    NameTest(const NameTest&) = delete;
    NameTest& operator=(const NameTest&) = delete;
    ~NameTest() override;
    void prepare(Step::Axis::PrincipalType principalType,
                 const XPath::BindingMap& bindings) override;
    bool matches(DOMNode* node) override;
    void print(std::ostream& out) const override;

    /// Whether this is "*", which every element passes.
    bool anyElement() const { return wildcard_ && !prefix_; }
    /// matches() for a node the principal type of the axis allows, which is not checked.
    bool matchesName(DOMNode* node);

private:
    bool sameName(const XMLCh* name);
    bool sameNamespace(const XMLCh* uri);

    XMLCh* prefix_;
    XMLCh* localName_;
    bool wildcard_;
    const XMLCh* namespaceURI_;
    Step::Axis::PrincipalType principalType_;
    // Xerces-C pools the names of a document, so a name seen once is mostly met again as the same
    // pointer; these remember the last pointers that matched and failed (reset by prepare).
    const XMLCh* nameHit_;
    const XMLCh* nameMiss_;
    const XMLCh* uriHit_;
    const XMLCh* uriMiss_;
    // Under an XPathFilter, whose map and document stay the same until it resets, the prefix
    // and the pointers are kept from one evaluation to the next until then.
    friend class XPathFilter;
    bool kept_;
    bool prepared_;
};

// ---------------------------------------------------------------------------------------------
// Iterators

/// Replays a vector of nodes, duplicates kept.
class AMXML_API BasicIterator : public XPath::Iterator {
public:
    /// Copies the vector.
    explicit BasicIterator(const std::vector<DOMNode*>& nodes);
    /// One node, without a vector.
    explicit BasicIterator(DOMNode* node);
    BasicIterator(const BasicIterator&) = delete;
    BasicIterator& operator=(const BasicIterator&) = delete;
    ~BasicIterator() override;

    bool hasNext() override { return cursor_ != end_; }
    /// Exception 14 "No next node" at the end.
    DOMNode* next() override;

private:
    std::vector<DOMNode*> nodes_;
    DOMNode* single_;
    DOMNode* const* cursor_;
    DOMNode* const* end_;
};

/// The left stream, then the right one; adopts both (also when this throws). A left stream that
/// is itself a union is taken apart, so that a chain of unions reads as one flat list.
class AMXML_API UnionIterator : public XPath::Iterator {
public:
    UnionIterator(XPath::Iterator* left, XPath::Iterator* right);
    UnionIterator(const UnionIterator&) = delete;
    UnionIterator& operator=(const UnionIterator&) = delete;
    ~UnionIterator() override;

    bool hasNext() override;
    DOMNode* next() override;

private:
    std::vector<XPath::Iterator*> parts_;
    std::size_t cursor_;  // the first part that may have nodes left
};

/// Each node of a stream once, in document order: a node, then its namespace declarations, its
/// other attributes and its children, the content of entity references in their place. Members
/// the order cannot place are dropped: nodes outside the document of the member with the lowest
/// address, entity references themselves, document types and similar invisible nodes, and
/// declarations xmlns="". The cost is proportional to the
/// members and their depth (plus the sibling lists shared by several members), never a walk of
/// the whole document.
class AMXML_API OrderedIterator : public XPath::Iterator {
public:
    /// Borrows `source`, which is read to its end on the first hasNext(), next() or size() and
    /// never touched again.
    explicit OrderedIterator(XPath::Iterator* source);
    OrderedIterator(const OrderedIterator&) = delete;
    OrderedIterator& operator=(const OrderedIterator&) = delete;
    ~OrderedIterator() override;

    bool hasNext() override;
    /// Exception 14 "No next node" when exhausted.
    DOMNode* next() override;
    /// The number of nodes this iterator yields in all.
    unsigned int size();

private:
    void order();

    XPath::Iterator* source_;
    std::vector<DOMNode*> nodes_;
    std::size_t cursor_;
};

// ---------------------------------------------------------------------------------------------
// Conversions

/// Conversions between the value types and string-values of nodes. Strings returned are new,
/// utalloc'ed and freed by the caller; iterators given are read, never deleted.
class AMXML_API XPathUtil {
public:
    /// False for zeros and NaN.
    static bool boolean(double d);
    static bool boolean(const XMLCh* s);
    /// Whether the set is not empty; consumes nothing.
    static bool boolean(XPath::Iterator* it);
    static double number(bool b);
    /// Whitespace, an optional "-", digits, an optional "." and digits, whitespace; NaN for
    /// anything else (exponents, "+", ".5" and "" included).
    static double number(const XMLCh* s);
    /// The number of the string-value of the first node in document order.
    static double number(XPath::Iterator* it);
    static double number(DOMNode* node);
    static XMLCh* string(bool b);
    /// "NaN", "Infinity", "-Infinity", integers without a point, other values in plain decimal
    /// notation with the fewest digits that identify the double.
    static XMLCh* string(double d);
    /// The string-value of the first node in document order; "" for an empty set.
    static XMLCh* string(XPath::Iterator* it);
    /// The string-value; null gives "". Exception 14 "Unhandled node: Type %d" for entity
    /// references, entities, document types, fragments and notations.
    static XMLCh* string(DOMNode* node);
    /// A new iterator over a copy of the vector, duplicates kept.
    static XPath::Iterator* nodeSet(const std::vector<DOMNode*>& nodes);
    /// A new OrderedIterator borrowing `source` (delete source after the first call on it).
    static XPath::Iterator* documentOrder(XPath::Iterator* source);
};

}  // namespace XML
}  // namespace Ambrite

#endif
