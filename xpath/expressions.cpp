#include <ambrite/xml/dom.h>
#include <ambrite/xml/xpath.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <ostream>
#include <string_view>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>

#include "foundation/internal.h"
#include "xpath/internal.h"

namespace Ambrite {
namespace XML {

using internal::OwnedIterator;
using internal::OwnedString;

// ---------------------------------------------------------------------------------------------
// The base conversions

XPath::~XPath() {}

XPath::Type XPath::type(const BindingMap&) const { return type_; }

bool XPath::boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    switch (type(bindings)) {
        case NUMBER:
            return XPathUtil::boolean(number(node, position, bindings));
        case STRING: {
            OwnedString s(string(node, position, bindings));
            return s && XPathUtil::boolean(s.get());
        }
        case NODE_SET: {
            OwnedIterator it(nodeSet(node, position, bindings));
            return XPathUtil::boolean(it.get());
        }
        case BOOLEAN:
            break;
    }
    internal::evaluationError("Not implemented");
}

double XPath::number(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    switch (type(bindings)) {
        case BOOLEAN:
            return XPathUtil::number(boolean(node, position, bindings));
        case STRING: {
            OwnedString s(string(node, position, bindings));
            return XPathUtil::number(s ? s.get() : u"");
        }
        case NODE_SET: {
            OwnedIterator it(nodeSet(node, position, bindings));
            return XPathUtil::number(it.get());
        }
        case NUMBER:
            break;
    }
    internal::evaluationError("Not implemented");
}

XMLCh* XPath::string(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    switch (type(bindings)) {
        case BOOLEAN:
            return XPathUtil::string(boolean(node, position, bindings));
        case NUMBER:
            return XPathUtil::string(number(node, position, bindings));
        case NODE_SET: {
            OwnedIterator it(nodeSet(node, position, bindings));
            return XPathUtil::string(it.get());
        }
        case STRING:
            break;
    }
    internal::evaluationError("Not implemented");
}

XPath::Iterator* XPath::nodeSet(DOMNode*, unsigned int, const BindingMap& bindings) {
    switch (type(bindings)) {
        case BOOLEAN:
            internal::evaluationError("Boolean cannot be converted to node set");
        case NUMBER:
            internal::evaluationError("Number cannot be converted to node set");
        case STRING:
            internal::evaluationError("String cannot be converted to node set");
        case NODE_SET:
            break;
    }
    internal::evaluationError("Not implemented");
}

std::ostream& operator<<(std::ostream& out, const XPath* expression) {
    expression->print(out);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Bindings

XPath::Binding::~Binding() {}

XPath::Variable::Variable(bool value)
    : type_(BOOLEAN), boolean_(value), number_(0), string_(nullptr) {}

XPath::Variable::Variable(double value)
    : type_(NUMBER), boolean_(false), number_(value), string_(nullptr) {}

XPath::Variable::Variable(const XMLCh* value)
    : type_(STRING), boolean_(false), number_(0), string_(StringUtil::dup(value)) {}

XPath::Variable::Variable(const std::vector<DOMNode*>& nodes)
    : type_(NODE_SET), boolean_(false), number_(0), string_(nullptr), nodes_(nodes) {}

XPath::Variable::Variable(XPath::Type type)
    : type_(type), boolean_(false), number_(0), string_(nullptr) {}

XPath::Variable::Variable(const Variable& other)
    : Binding(other),
      type_(other.type_),
      boolean_(other.boolean_),
      number_(other.number_),
      string_(StringUtil::dup(other.string_)),
      nodes_(other.nodes_) {}

XPath::Variable& XPath::Variable::operator=(const Variable& other) {
    if (this != &other) {
        XMLCh* copy = StringUtil::dup(other.string_);
        if (string_) utfree(string_);
        string_ = copy;
        type_ = other.type_;
        boolean_ = other.boolean_;
        number_ = other.number_;
        nodes_ = other.nodes_;
    }
    return *this;
}

XPath::Variable::~Variable() {
    if (string_) utfree(string_);
}

bool XPath::Variable::boolean() const { return boolean_; }

double XPath::Variable::number() const { return number_; }

XMLCh* XPath::Variable::string() const { return StringUtil::dup(string_); }

XPath::Iterator* XPath::Variable::nodeSet() const { return new BasicIterator(nodes_); }

XPath::Function::~Function() {}

bool XPath::Function::boolean(const std::vector<XPath*>&, DOMNode*, unsigned int,
                              const BindingMap&) const {
    internal::evaluationError("Not a boolean");
}

double XPath::Function::number(const std::vector<XPath*>&, DOMNode*, unsigned int,
                               const BindingMap&) const {
    internal::evaluationError("Not a number");
}

XMLCh* XPath::Function::string(const std::vector<XPath*>&, DOMNode*, unsigned int,
                               const BindingMap&) const {
    internal::evaluationError("Not a string");
}

XPath::Iterator* XPath::Function::nodeSet(const std::vector<XPath*>&, DOMNode*, unsigned int,
                                          const BindingMap&) const {
    internal::evaluationError("Not a node set");
}

XPath::Namespace::Namespace(const XMLCh* uri) : uri_(StringUtil::dup(uri)) {}

XPath::Namespace::Namespace(const Namespace& other)
    : Binding(other), uri_(StringUtil::dup(other.uri_)) {}

XPath::Namespace& XPath::Namespace::operator=(const Namespace& other) {
    if (this != &other) {
        XMLCh* copy = StringUtil::dup(other.uri_);
        if (uri_) utfree(uri_);
        uri_ = copy;
    }
    return *this;
}

XPath::Namespace::~Namespace() {
    if (uri_) utfree(uri_);
}

namespace {

const XMLCh kHereKey[] = u"&here";

// Binds `key` unless a nearer declaration did already.
void bindPrefix(XPath::BindingMap& bindings, const XMLCh* key, const XMLCh* uri) {
    if (bindings.find(key) != bindings.end()) return;
    std::unique_ptr<XPath::Namespace> ns(new XPath::Namespace(uri));
    bindings[key] = ns.get();
    ns.release();
}

}  // namespace

void XPath::init(BindingMap& bindings, DOMNode* here, DOMNode* namespaceContext) {
    for (BindingMap::iterator it = bindings.begin(), end = bindings.end(); it != end; ++it) {
        delete it->value;
    }
    bindings.clear();
    if (here) {
        std::unique_ptr<Here> function(new Here(here));
        bindings[kHereKey] = static_cast<const Function*>(function.get());
        function.release();
    }
    for (DOMNode* n = namespaceContext; n; n = n->getParentNode()) {
        if (n->getNodeType() != DOMNode::ELEMENT_NODE) continue;
        xercesc::DOMNamedNodeMap* attributes = n->getAttributes();
        const XMLSize_t count = attributes ? attributes->getLength() : 0;
        for (XMLSize_t i = 0; i < count; ++i) {
            DOMNode* a = attributes->item(i);
            const XMLCh* prefix = a->getPrefix();
            if (!prefix) continue;
            if (StringUtil::eq(prefix, u"xmlns")) {
                bindPrefix(bindings, a->getLocalName(), internal::attributeValue(a));
            } else {
                bindPrefix(bindings, prefix, a->getNamespaceURI());
            }
        }
        if (const XMLCh* prefix = n->getPrefix())
            bindPrefix(bindings, prefix, n->getNamespaceURI());
    }
}

// ---------------------------------------------------------------------------------------------
// Here

Here::Here(DOMNode* node) : Function(XPath::NODE_SET), node_(node), taken_(false) {}

Here::~Here() {}

XPath::Iterator* Here::nodeSet(const std::vector<XPath*>&, DOMNode*, unsigned int,
                               const XPath::BindingMap&) const {
    return static_cast<XPath::Iterator*>(new Here(node_));
}

DOMNode* Here::next() {
    if (taken_) internal::evaluationError("No next node");
    taken_ = true;
    return node_;
}

// ---------------------------------------------------------------------------------------------
// Primitive

Primitive::Primitive(bool value)
    : XPath(BOOLEAN), boolean_(value), number_(0), string_(nullptr), relative_(false) {}

Primitive::Primitive(double value)
    : XPath(NUMBER), boolean_(false), number_(value), string_(nullptr), relative_(false) {}

Primitive::Primitive(const XMLCh* value)
    : XPath(STRING),
      boolean_(false),
      number_(0),
      string_(StringUtil::dup(value)),
      relative_(false) {}

Primitive::Primitive(Node node)
    : XPath(NODE_SET), boolean_(false), number_(0), string_(nullptr), relative_(node == CONTEXT) {}

Primitive::~Primitive() {
    if (string_) utfree(string_);
}

bool Primitive::boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    if (type(bindings) == BOOLEAN) return boolean_;
    return XPath::boolean(node, position, bindings);
}

double Primitive::number(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    if (type(bindings) == NUMBER) return number_;
    if (type(bindings) == NODE_SET) {
        DOMNode* n = relative_ ? node : DOMUtil::getOwnerDocument(node);
        if (!nested_) placedKnown_ = nullptr;
        return XPathUtil::number(n && internal::placed(n, placedKnown_) ? n : nullptr);
    }
    return XPath::number(node, position, bindings);
}

XMLCh* Primitive::string(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    if (type(bindings) == STRING) return StringUtil::dup(string_);
    if (type(bindings) == NODE_SET) {
        // The one node, if document order places it, without an iterator.
        DOMNode* n = relative_ ? node : DOMUtil::getOwnerDocument(node);
        if (!nested_) placedKnown_ = nullptr;
        return XPathUtil::string(n && internal::placed(n, placedKnown_) ? n : nullptr);
    }
    return XPath::string(node, position, bindings);
}

XPath::Iterator* Primitive::nodeSet(DOMNode* node, unsigned int position,
                                    const BindingMap& bindings) {
    if (type(bindings) != NODE_SET) return XPath::nodeSet(node, position, bindings);
    return new BasicIterator(relative_ ? node
                                       : static_cast<DOMNode*>(DOMUtil::getOwnerDocument(node)));
}

void Primitive::print(std::ostream& out) const {
    static const BindingMap noBindings;
    switch (type(noBindings)) {
        case BOOLEAN:
            out << (boolean_ ? "true" : "false");
            break;
        case NUMBER:
            out << number_;
            break;
        case STRING:
            out << '"' << Format("%S", string_) << '"';
            break;
        case NODE_SET:
            out << (relative_ ? "<relative>" : "<root>");
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Operator

namespace {

XPath::Type typeOf(Operator::Kind kind) {
    if (kind <= Operator::MOD) return XPath::NUMBER;
    if (kind == Operator::UNION) return XPath::NODE_SET;
    return XPath::BOOLEAN;
}

bool isComparison(Operator::Kind kind) {
    return kind >= Operator::EQUAL && kind <= Operator::GREATER_EQUAL;
}

// The comparison values of one side: a single boolean, numbers, or strings laid end to end in
// one buffer.
struct Values {
    enum Tag { BOOLEAN, NUMBER, STRING } tag;
    bool boolean;
    std::vector<double> numbers;
    std::u16string text;
    std::vector<std::size_t> ends;  // string i is text[ends[i-1], ends[i])

    std::size_t size() const {
        return tag == BOOLEAN ? 1 : tag == NUMBER ? numbers.size() : ends.size();
    }
    std::u16string_view at(std::size_t i) const {
        std::size_t begin = i ? ends[i - 1] : 0;
        return std::u16string_view(text.data() + begin, ends[i] - begin);
    }
    void clear() {
        numbers.clear();
        text.clear();
        ends.clear();
    }
    void add(const XMLCh* s) {
        if (s) text += s;
        ends.push_back(text.size());
    }
    void addNumberOf(DOMNode* n) {
        const std::size_t mark = text.size();
        internal::appendStringValue(n, text);
        numbers.push_back(internal::parseNumber(text.data() + mark, text.size() - mark));
        text.resize(mark);
    }
};

}  // namespace

struct Operator::Scratch : public Allocated {
    Values left, right;
    // What the two sides are, as last seen: a step is read on the stack, a literal in place.
    const XPath* sides[2] = {nullptr, nullptr};
    Step* steps[2] = {nullptr, nullptr};
    const Primitive* literals[2] = {nullptr, nullptr};
    void know(std::size_t i, XPath* side) {
        if (sides[i] == side) return;
        sides[i] = side;
        steps[i] = dynamic_cast<Step*>(side);
        literals[i] = dynamic_cast<const Primitive*>(side);
    }
};

Operator::Operator(XPath* left, Kind kind, XPath* right)
    : XPath(typeOf(kind)), left_(left), kind_(kind), right_(right), scratch_(nullptr) {
    std::unique_ptr<XPath> l(left), r(right);
    assert(left && right && kind != NO_OPERATOR);
    if (isComparison(kind)) scratch_ = new Scratch;
    l.release();
    r.release();
}

Operator::Operator(Kind kind, XPath* operand)
    : XPath(NUMBER), left_(nullptr), kind_(kind), right_(operand), scratch_(nullptr) {
    assert(operand && (kind == PLUS || kind == MINUS));
}

Operator::~Operator() {
    delete left_;
    delete right_;
    delete scratch_;
}

double Operator::number(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    if (kind_ > MOD) return XPath::number(node, position, bindings);
    const double l = left_ ? left_->number(node, position, bindings) : 0.0;
    const double r = right_->number(node, position, bindings);
    // Negation, not 0 - x, which would turn -(0) into positive zero: 1 div -0 is -Infinity.
    if (!left_) return kind_ == MINUS ? -r : r;
    switch (kind_) {
        case PLUS:
            return l + r;
        case MINUS:
            return l - r;
        case MULTIPLY:
            return l * r;
        case DIV:
            return l / r;
        case MOD:
        default:
            return std::fmod(l, r);
    }
}

bool Operator::boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    switch (kind_) {
        case OR:
            return left_->boolean(node, position, bindings) ||
                   right_->boolean(node, position, bindings);
        case AND:
            return left_->boolean(node, position, bindings) &&
                   right_->boolean(node, position, bindings);
        default:
            if (isComparison(kind_)) return compare(node, position, bindings);
            return XPath::boolean(node, position, bindings);
    }
}

XPath::Iterator* Operator::nodeSet(DOMNode* node, unsigned int position,
                                   const BindingMap& bindings) {
    if (kind_ != UNION) return XPath::nodeSet(node, position, bindings);
    OwnedIterator l(left_->nodeSet(node, position, bindings));
    OwnedIterator r(right_->nodeSet(node, position, bindings));
    XPath::Iterator* both = new UnionIterator(l.get(), r.get());
    l.release();
    r.release();
    return both;
}

namespace {

// Fills `values` for one side of a comparison, by the side's own type and the other side's.
// `step` is the side as a step, if it is one; `literal` points to the text of a string literal
// side, which is read in place.
void collect(XPath* side, XPath::Type own, XPath::Type other, bool ordering, DOMNode* node,
             unsigned int position, const XPath::BindingMap& bindings, Values& values, Step* step,
             const XMLCh* const* literal) {
    values.clear();
    if (own == XPath::NODE_SET && other != XPath::BOOLEAN) {
        internal::NodeStream nodes(side, step, node, position, bindings);
        XPath::Iterator* it = nodes.get();
        values.tag = ordering || other == XPath::NUMBER ? Values::NUMBER : Values::STRING;
        while (it->hasNext()) {
            DOMNode* n = it->next();
            if (values.tag == Values::NUMBER) {
                values.addNumberOf(n);
            } else {
                internal::appendStringValue(n, values.text);
                values.ends.push_back(values.text.size());
            }
        }
    } else if (!ordering && (own == XPath::BOOLEAN || other == XPath::BOOLEAN)) {
        values.tag = Values::BOOLEAN;
        values.boolean = side->boolean(node, position, bindings);
    } else if (ordering || own == XPath::NUMBER || other == XPath::NUMBER) {
        values.tag = Values::NUMBER;
        // A node set facing a boolean in an ordering counts as its boolean.
        values.numbers.push_back(own == XPath::NODE_SET
                                     ? XPathUtil::number(side->boolean(node, position, bindings))
                                     : side->number(node, position, bindings));
    } else {
        values.tag = Values::STRING;
        if (literal) {
            values.add(*literal);
            return;
        }
        OwnedString s(side->string(node, position, bindings));
        values.add(s.get());
    }
}

// Whether the string-value of some node of `side` equals (or, with `equal` false, differs from)
// `text`. Every node is read, as collecting them would; once decided, only those whose
// string-value would fail are looked at.
bool someNodeEquals(XPath* side, Step* step, DOMNode* node, unsigned int position,
                    const XPath::BindingMap& bindings, const XMLCh* text, bool equal,
                    std::u16string& buffer) {
    internal::NodeStream nodes(side, step, node, position, bindings);
    XPath::Iterator* it = nodes.get();
    bool found = false;
    while (it->hasNext()) {
        DOMNode* n = it->next();
        const XMLCh* value;
        switch (n->getNodeType()) {
            case DOMNode::ATTRIBUTE_NODE:
                value = internal::attributeValue(n);
                break;
            case DOMNode::TEXT_NODE:
            case DOMNode::CDATA_SECTION_NODE:
            case DOMNode::PROCESSING_INSTRUCTION_NODE:
            case DOMNode::COMMENT_NODE:
                value = n->getNodeValue();
                if (!value) value = u"";
                break;
            default:
                if (found && internal::isVisible(n)) continue;
                buffer.clear();
                internal::appendStringValue(n, buffer);
                value = buffer.c_str();
                break;
        }
        if (!found) found = StringUtil::eq(value, text) == equal;
    }
    return found;
}

// Whether some string of l equals (or, with `equal` false, differs from) some string of r. Long
// lists are matched against the sorted right side instead of pair by pair.
bool someStringPair(const Values& l, const Values& r, bool equal, std::vector<std::size_t>& order) {
    if (l.size() * r.size() <= 64) {
        for (std::size_t i = 0; i < l.size(); ++i) {
            for (std::size_t j = 0; j < r.size(); ++j) {
                if ((l.at(i) == r.at(j)) == equal) return true;
            }
        }
        return false;
    }
    if (!equal) {
        // Some pair differs unless both sides hold one and the same string throughout.
        for (std::size_t j = 1; j < r.size(); ++j) {
            if (r.at(j) != r.at(0)) return true;
        }
        for (std::size_t i = 0; i < l.size(); ++i) {
            if (l.at(i) != r.at(0)) return true;
        }
        return false;
    }
    order.resize(r.size());
    for (std::size_t j = 0; j < r.size(); ++j) order[j] = j;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return r.at(a) < r.at(b); });
    for (std::size_t i = 0; i < l.size(); ++i) {
        auto found =
            std::lower_bound(order.begin(), order.end(), l.at(i),
                             [&](std::size_t j, std::u16string_view s) { return r.at(j) < s; });
        if (found != order.end() && r.at(*found) == l.at(i)) return true;
    }
    return false;
}

// Whether some number of l stands in `kind` to some number of r: the extremes decide, NaN
// never compares.
bool someNumberPair(const std::vector<double>& l, const std::vector<double>& r,
                    Operator::Kind kind) {
    const double inf = INFINITY;
    double lMin = inf, lMax = -inf, rMin = inf, rMax = -inf;
    bool lAny = false, rAny = false;
    for (double d : l) {
        if (std::isnan(d)) continue;
        lAny = true;
        lMin = std::min(lMin, d);
        lMax = std::max(lMax, d);
    }
    for (double d : r) {
        if (std::isnan(d)) continue;
        rAny = true;
        rMin = std::min(rMin, d);
        rMax = std::max(rMax, d);
    }
    if (!lAny || !rAny) return kind == Operator::NOT_EQUAL && !l.empty() && !r.empty();
    switch (kind) {
        case Operator::LESS:
            return lMin < rMax;
        case Operator::GREATER:
            return lMax > rMin;
        case Operator::LESS_EQUAL:
            return lMin <= rMax;
        case Operator::GREATER_EQUAL:
            return lMax >= rMin;
        default:
            break;
    }
    for (double a : l) {
        for (double b : r) {
            if ((a == b) == (kind == Operator::EQUAL)) return true;
        }
    }
    return false;
}

}  // namespace

// Both sides are collected in full, left first, as the comparison rules define them; then some
// pair must compare true.
bool Operator::compare(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    // The buffers are lent out for the call; a nested evaluation of this same operator (through
    // a binding) works on buffers of its own.
    struct Lease {
        Operator& owner;
        Scratch* scratch;
        explicit Lease(Operator& o) : owner(o), scratch(o.scratch_) { o.scratch_ = nullptr; }
        ~Lease() {
            if (owner.scratch_) {
                delete scratch;
            } else {
                owner.scratch_ = scratch;
            }
        }
    } lease(*this);
    if (!lease.scratch) lease.scratch = new Scratch;
    Values& l = lease.scratch->left;
    Values& r = lease.scratch->right;

    Scratch& scratch = *lease.scratch;
    scratch.know(0, left_);
    scratch.know(1, right_);
    const Type lt = left_->type(bindings), rt = right_->type(bindings);
    const bool ordering = kind_ >= LESS;
    const Primitive* ll = lt == STRING ? scratch.literals[0] : nullptr;
    const Primitive* rl = rt == STRING ? scratch.literals[1] : nullptr;
    if (!ordering && (lt == NODE_SET || rt == NODE_SET) && (ll || rl)) {
        // A node set against a literal: each string-value is compared in place.
        const bool leftSet = lt == NODE_SET;
        const XMLCh* text = leftSet ? rl->string_ : ll->string_;
        if (Step* step = scratch.steps[leftSet ? 0 : 1]) {
            const int found =
                step->someAttributeEquals(node, bindings, text ? text : u"", kind_ == EQUAL);
            if (found >= 0) return found == 1;
        }
        return someNodeEquals(leftSet ? left_ : right_, scratch.steps[leftSet ? 0 : 1], node,
                              position, bindings, text ? text : u"", kind_ == EQUAL, l.text);
    }
    collect(left_, lt, rt, ordering, node, position, bindings, l, scratch.steps[0],
            ll ? &ll->string_ : nullptr);
    collect(right_, rt, lt, ordering, node, position, bindings, r, scratch.steps[1],
            rl ? &rl->string_ : nullptr);
    if (l.size() == 0 || r.size() == 0) return false;
    const bool equal = kind_ == EQUAL;
    switch (l.tag) {
        case Values::BOOLEAN:
            return (l.boolean == r.boolean) == equal;
        case Values::NUMBER:
            return someNumberPair(l.numbers, r.numbers, kind_);
        case Values::STRING: {
            std::vector<std::size_t> order;
            return someStringPair(l, r, equal, order);
        }
    }
    return false;
}

namespace {
const char* const kOperatorTexts[] = {" + ", " - ",  " * ", " div ", " mod ", " or ", " and ",
                                      " = ", " != ", " < ", " > ",   " <= ",  " >= ", " | "};
}  // namespace

void Operator::print(std::ostream& out) const {
    if (!left_) {
        out << (kind_ == MINUS ? "-" : "+") << right_;
        return;
    }
    out << '(' << left_ << kOperatorTexts[kind_] << right_ << ')';
}

// ---------------------------------------------------------------------------------------------
// VariableReference

namespace {

// "$" + name or "&" + name.
XMLCh* key(XMLCh sigil, const XMLCh* name) {
    const std::size_t n = internal::length(name);
    XMLCh* k = internal::dupString(name, n + 1);
    std::copy_backward(name, name + n, k + n + 1);
    k[0] = sigil;
    return k;
}

}  // namespace

VariableReference::VariableReference(const XMLCh* name) : XPath(NODE_SET), name_(key(u'$', name)) {}

VariableReference::~VariableReference() { utfree(name_); }

const XPath::Variable* VariableReference::resolve(const BindingMap& bindings) const {
    BindingMap::iterator it = bindings.find(name_);
    if (it == bindings.end()) throw Exception(14, Format("Unbound variable: %S", name_ + 1));
    return static_cast<const Variable*>(it->value);
}

XPath::Type VariableReference::type(const BindingMap& bindings) const {
    return resolve(bindings)->type();
}

bool VariableReference::boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    const Variable* v = resolve(bindings);
    if (v->type() == BOOLEAN) return v->boolean();
    return XPath::boolean(node, position, bindings);
}

double VariableReference::number(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    const Variable* v = resolve(bindings);
    if (v->type() == NUMBER) return v->number();
    return XPath::number(node, position, bindings);
}

XMLCh* VariableReference::string(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    const Variable* v = resolve(bindings);
    if (v->type() == STRING) return v->string();
    return XPath::string(node, position, bindings);
}

XPath::Iterator* VariableReference::nodeSet(DOMNode* node, unsigned int position,
                                            const BindingMap& bindings) {
    const Variable* v = resolve(bindings);
    if (v->type() == NODE_SET) return v->nodeSet();
    return XPath::nodeSet(node, position, bindings);
}

void VariableReference::print(std::ostream& out) const { out << Format("%S", name_); }

// ---------------------------------------------------------------------------------------------
// FunctionCall

FunctionCall::FunctionCall(const XMLCh* name, const std::vector<XPath*>& arguments)
    : XPath(NODE_SET), name_(nullptr), core_(BaseFunction::lookup(name)), kept_(nullptr) {
    struct Adopted {
        const std::vector<XPath*>* arguments;
        ~Adopted() {
            if (arguments) {
                for (XPath* a : *arguments) delete a;
            }
        }
    } adopted = {&arguments};
    name_ = key(u'&', name);
    arguments_ = arguments;
    adopted.arguments = nullptr;
}

FunctionCall::~FunctionCall() {
    for (XPath* a : arguments_) delete a;
    utfree(name_);
}

// Bindings come first, so that a caller can replace any core function.
const XPath::Function* FunctionCall::bound(const BindingMap& bindings) const {
    if (!bindings.empty()) {
        BindingMap::iterator it = bindings.find(name_);
        if (it != bindings.end()) return static_cast<const Function*>(it->value);
    }
    return core_;
}

const XPath::Function* FunctionCall::resolve(const BindingMap& bindings) const {
    if (kept_) return kept_;
    const Function* f = bound(bindings);
    if (!f) throw Exception(14, Format("Unbound function: %S", name_ + 1));
    return f;
}

XPath::Type FunctionCall::type(const BindingMap& bindings) const {
    return resolve(bindings)->type();
}

bool FunctionCall::boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    const Function* f = resolve(bindings);
    if (f->type() == BOOLEAN) return f->boolean(arguments_, node, position, bindings);
    return XPath::boolean(node, position, bindings);
}

double FunctionCall::number(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    const Function* f = resolve(bindings);
    if (f->type() == NUMBER) return f->number(arguments_, node, position, bindings);
    return XPath::number(node, position, bindings);
}

XMLCh* FunctionCall::string(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    const Function* f = resolve(bindings);
    if (f->type() == STRING) return f->string(arguments_, node, position, bindings);
    return XPath::string(node, position, bindings);
}

XPath::Iterator* FunctionCall::nodeSet(DOMNode* node, unsigned int position,
                                       const BindingMap& bindings) {
    const Function* f = resolve(bindings);
    if (f->type() == NODE_SET) return f->nodeSet(arguments_, node, position, bindings);
    return XPath::nodeSet(node, position, bindings);
}

void FunctionCall::print(std::ostream& out) const {
    out << Format("%S", name_ + 1) << '(';
    for (std::size_t i = 0; i < arguments_.size(); ++i) {
        if (i) out << ", ";
        out << arguments_[i];
    }
    out << ')';
}

}  // namespace XML
}  // namespace Ambrite
