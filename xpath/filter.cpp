#include <ambrite/xml/dom.h>
#include <ambrite/xml/xpath.h>

#include <memory>
#include <vector>

#include "foundation/internal.h"
#include "xpath/internal.h"

namespace Ambrite {
namespace XML {

using internal::OwnedIterator;
using internal::OwnedString;

namespace {

// Replays a vector it does not own; the vector must stay unchanged while the iterator is read.
class BorrowedIterator : public XPath::Iterator {
public:
    explicit BorrowedIterator(const std::vector<DOMNode*>& nodes)
        : cursor_(nodes.data()), end_(nodes.data() + nodes.size()) {}
    bool hasNext() override { return cursor_ != end_; }
    DOMNode* next() override {
        if (cursor_ == end_) internal::evaluationError("No next node");
        return *cursor_++;
    }

private:
    DOMNode* const* cursor_;
    DOMNode* const* end_;
};

// Core functions whose value depends on the context even with context-free arguments:
// position() always, lang() through the context node, and those that take the context node when
// called without arguments. last() is bound per predicate level and never core.
bool contextual(const BaseFunction* f, std::size_t arguments) {
    static const XMLCh* const always[] = {u"position", u"lang"};
    static const XMLCh* const withoutArguments[] = {
        u"string", u"string-length", u"number",       u"normalize-space",
        u"name",   u"local-name",    u"namespace-uri"};
    for (const XMLCh* name : always) {
        if (StringUtil::eq(f->name(), name)) return true;
    }
    if (arguments) return false;
    for (const XMLCh* name : withoutArguments) {
        if (StringUtil::eq(f->name(), name)) return true;
    }
    return false;
}

}  // namespace

// A part of the expression that depends on no context: evaluated at its first use, its value
// kept in its own type and in each conversion asked for, until reset. A failed evaluation keeps
// nothing, so that it fails again where the plain evaluation would.
class XPathFilter::Cache : public XPath {
public:
    explicit Cache(XPath* inner) : XPath(NODE_SET), inner_(inner) { reset(); }
    ~Cache() override {
        delete inner_;
        if (string_) utfree(string_);
    }
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    void reset() {
        haveType_ = haveBoolean_ = haveNumber_ = haveString_ = haveNodes_ = false;
        if (string_) utfree(string_);
        string_ = nullptr;
        nodes_.clear();
    }

    Type type(const BindingMap& bindings) const override {
        if (!haveType_) {
            own_ = inner_->type(bindings);
            haveType_ = true;
        }
        return own_;
    }
    bool boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) override {
        if (!haveBoolean_) {
            if (haveNodes_) {
                boolean_ = !nodes_.empty();
            } else {
                boolean_ = inner_->boolean(node, position, bindings);
            }
            haveBoolean_ = true;
        }
        return boolean_;
    }
    double number(DOMNode* node, unsigned int position, const BindingMap& bindings) override {
        if (!haveNumber_) {
            if (type(bindings) == NODE_SET) {
                BorrowedIterator it(nodes(node, position, bindings));
                number_ = XPathUtil::number(&it);
            } else {
                number_ = inner_->number(node, position, bindings);
            }
            haveNumber_ = true;
        }
        return number_;
    }
    XMLCh* string(DOMNode* node, unsigned int position, const BindingMap& bindings) override {
        if (!haveString_) {
            if (type(bindings) == NODE_SET) {
                BorrowedIterator it(nodes(node, position, bindings));
                string_ = XPathUtil::string(&it);
            } else {
                string_ = inner_->string(node, position, bindings);
            }
            haveString_ = true;
        }
        return string_ ? StringUtil::dup(string_) : nullptr;
    }
    Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) override {
        if (type(bindings) != NODE_SET) return inner_->nodeSet(node, position, bindings);
        return new BorrowedIterator(nodes(node, position, bindings));
    }
    void print(std::ostream& out) const override { inner_->print(out); }

private:
    const std::vector<DOMNode*>& nodes(DOMNode* node, unsigned int position,
                                       const BindingMap& bindings) {
        if (!haveNodes_) {
            OwnedIterator it(inner_->nodeSet(node, position, bindings));
            nodes_.clear();
            internal::readAll(it.get(), nodes_);
            haveNodes_ = true;
        }
        return nodes_;
    }

    XPath* inner_;
    mutable Type own_ = NODE_SET;
    mutable bool haveType_ = false;
    bool haveBoolean_ = false, haveNumber_ = false, haveString_ = false, haveNodes_ = false;
    bool boolean_ = false;
    double number_ = 0;
    XMLCh* string_ = nullptr;
    std::vector<DOMNode*> nodes_;
};

XPathFilter::XPathFilter(XPath* expression, const XPath::BindingMap& bindings)
    : expression_(expression), bindings_(bindings), document_(nullptr) {
    std::unique_ptr<XPath> owned(expression);
    hoist(expression_);
    keepNameTests(expression_);
    Step::keepChains(expression_, chains_, true);
    reset();
    owned.release();
}

XPathFilter::~XPathFilter() { delete expression_; }

bool XPathFilter::matches(DOMNode* node) {
    const DOMNode* document = DOMUtil::getOwnerDocument(node);
    if (document != document_) {
        reset();
        document_ = document;
    }
    return expression_->boolean(node, 1, bindings_);
}

void XPathFilter::reset() {
    for (Cache* c : caches_) c->reset();
    for (XPath* c : chains_) static_cast<Step::Chain*>(c)->reset(bindings_);
    // An unbound name keeps null: the call then throws when evaluated, as it would unfiltered.
    for (FunctionCall* f : calls_) f->kept_ = f->bound(bindings_);
    for (NameTest* t : nameTests_) t->prepared_ = false;
}

// The name tests of the steps evaluated per node keep their prefix and the names they met, and
// the function calls the function they resolve to, until reset (those inside caches are
// evaluated once per document anyway).
void XPathFilter::keepNameTests(XPath* e) {
    if (Operator* o = dynamic_cast<Operator*>(e)) {
        if (o->left_) keepNameTests(o->left_);
        keepNameTests(o->right_);
    } else if (FunctionCall* f = dynamic_cast<FunctionCall*>(e)) {
        // last() is bound per predicate level, never in the filter's map.
        if (!StringUtil::eq(f->name_, u"&last")) calls_.push_back(f);
        for (XPath* a : f->arguments_) keepNameTests(a);
    } else if (Step* s = dynamic_cast<Step*>(e)) {
        if (NameTest* t = dynamic_cast<NameTest*>(s->test_)) {
            nameTests_.push_back(t);
            t->kept_ = true;
        }
        keepNameTests(s->context_);
        for (XPath* p : s->predicates_) keepNameTests(p);
    }
}

// Whether `e` depends on neither the context node, position nor size. Constants, the root,
// variables, here() and the core functions of such arguments qualify; a location path does when
// its first step's context does, since its predicates see only the path's own nodes.
bool XPathFilter::invariant(XPath* e) {
    if (Primitive* p = dynamic_cast<Primitive*>(e)) return !p->relative_;
    if (dynamic_cast<VariableReference*>(e)) return true;
    if (Operator* o = dynamic_cast<Operator*>(e)) {
        return (!o->left_ || invariant(o->left_)) && invariant(o->right_);
    }
    if (FunctionCall* f = dynamic_cast<FunctionCall*>(e)) {
        if (StringUtil::eq(f->name_, u"&last")) return false;
        const XPath::Function* resolved = f->bound(bindings_);
        if (!resolved) return false;
        if (resolved != f->core_) {
            if (!dynamic_cast<const Here*>(resolved)) return false;
        } else {
            const BaseFunction* core = dynamic_cast<const BaseFunction*>(f->core_);
            if (!core || contextual(core, f->arguments_.size())) return false;
        }
        for (XPath* a : f->arguments_) {
            if (!invariant(a)) return false;
        }
        return true;
    }
    if (Step* s = dynamic_cast<Step*>(e)) return invariant(s->context_);
    if (dynamic_cast<Cache*>(e)) return true;
    return false;
}

// Wraps the largest context-free parts of `e` in caches, in place. Constants and variables are
// left as they are: they cost no more than a cache.
void XPathFilter::hoist(XPath*& e) {
    if (invariant(e)) {
        Primitive* p = dynamic_cast<Primitive*>(e);
        if ((p && p->type(bindings_) != XPath::NODE_SET) || dynamic_cast<VariableReference*>(e) ||
            dynamic_cast<Cache*>(e)) {
            return;
        }
        caches_.reserve(caches_.size() + 1);
        caches_.push_back(new Cache(e));
        e = caches_.back();
        return;
    }
    if (Operator* o = dynamic_cast<Operator*>(e)) {
        if (o->left_) hoist(o->left_);
        hoist(o->right_);
    } else if (FunctionCall* f = dynamic_cast<FunctionCall*>(e)) {
        for (XPath*& a : f->arguments_) hoist(a);
    } else if (Step* s = dynamic_cast<Step*>(e)) {
        hoist(s->context_);
        for (XPath*& p : s->predicates_) hoist(p);
    }
}

}  // namespace XML
}  // namespace Ambrite
