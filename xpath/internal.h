// Helpers shared by the XPath sources; not part of the public interface.
#ifndef AMBRITE_XML_XPATH_INTERNAL_H
#define AMBRITE_XML_XPATH_INTERNAL_H

#include <ambrite/xml/xpath.h>

#include <memory>
#include <new>
#include <string>
#include <vector>
#include <xercesc/dom/DOMNode.hpp>

#include "dom/internal.h"

namespace Ambrite {
namespace XML {
namespace internal {

typedef std::unique_ptr<XMLCh, AMXMLDelete> OwnedString;
typedef std::unique_ptr<XPath::Iterator> OwnedIterator;

/// Exception 14 with a fixed message.
[[noreturn]] void evaluationError(const char* message);

/// Elements, attributes, text, CDATA sections, processing instructions, comments and documents.
/// Entity references are transparent: never reached themselves, their children count as children
/// of their parent, as the XPath data model has it. Entities, document types, fragments and
/// notations are skipped by every walk and never entered.
inline bool isVisible(const DOMNode* n) {
    switch (n->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
        case DOMNode::ATTRIBUTE_NODE:
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE:
        case DOMNode::PROCESSING_INSTRUCTION_NODE:
        case DOMNode::COMMENT_NODE:
        case DOMNode::DOCUMENT_NODE:
            return true;
        default:
            return false;
    }
}

inline bool isEntityReference(const DOMNode* n) {
    return n->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE;
}

/// Elements and documents: the nodes whose children XPath sees.
inline bool isContainer(const DOMNode* n) {
    const DOMNode::NodeType type = n->getNodeType();
    return type == DOMNode::ELEMENT_NODE || type == DOMNode::DOCUMENT_NODE;
}

/// The relations of the XPath view of the tree: entity references transparent, invisible nodes
/// skipped. Children only of elements and documents; the parent of an attribute is its element.
DOMNode* firstChild(DOMNode* n);
DOMNode* lastChild(DOMNode* n);
DOMNode* nextSibling(DOMNode* n);
DOMNode* previousSibling(DOMNode* n);
DOMNode* parent(DOMNode* n);
/// The DOM parent (an attribute's owner element), entity references included, as
/// DOMUtil::getParentNode gives it but cheaper.
DOMNode* domParent(DOMNode* n);

/// The Budget bound in `bindings`, or null.
const XPath::Budget* budgetOf(const XPath::BindingMap& bindings);

/// How an attribute stands in document order.
enum AttributeKind { NAMESPACE_DECLARATION, ORDINARY_ATTRIBUTE, EMPTY_DEFAULT_DECLARATION };
AttributeKind attributeKind(DOMNode* attribute);

/// Appends the string-value of `node` (not null) to `out`; Exception 14 "Unhandled node: Type
/// %d" for nodes that have none.
void appendStringValue(DOMNode* node, std::u16string& out);

/// The number of n units at s by the XPath shape (see XPathUtil::number).
double parseNumber(const XMLCh* s, std::size_t n);

/// Room a formatted number needs, terminator included.
const std::size_t kNumberUnits = 400;
/// Writes d as XPathUtil::string(double) does, terminated; gives the length.
std::size_t formatNumber(double d, XMLCh* out);

/// Round half up, exact also where d + 0.5 is not representable.
double roundHalfUp(double d);

/// Appends every node of `it` to `out`.
void readAll(XPath::Iterator* it, std::vector<DOMNode*>& out);

/// Whether document order places n (see OrderedIterator): the walk from its document meets it.
bool placed(DOMNode* n);
/// The same, where `known` is null or a node found placed since the document last changed: the
/// climb from n stops there, so that contexts met one after another in a deep document are not
/// each climbed to the root. Leaves n's nearest element or document (or n) in `known`.
bool placed(DOMNode* n, DOMNode*& known);
/// Whether `it` is a StepIterator known to yield each node once.
bool distinctNodes(XPath::Iterator* it);
/// The first node of `it` in document order, or null; reads `it` to its end.
DOMNode* firstInOrder(XPath::Iterator* it);

/// The nodes of an expression, as its nodeSet() gives them; those of a step are read through a
/// StepIterator on the stack, so that reading them allocates nothing.
class NodeStream {
public:
    NodeStream(XPath* e, DOMNode* node, unsigned int position, const XPath::BindingMap& bindings)
        : NodeStream(e, dynamic_cast<Step*>(e), node, position, bindings) {}
    /// `step` is `e` as a step, or null when it is none.
    NodeStream(XPath* e, Step* step, DOMNode* node, unsigned int position,
               const XPath::BindingMap& bindings)
        : it_(nullptr), onStack_(false) {
        if (step) {
            open(step, node, position, bindings);
        } else {
            it_ = e->nodeSet(node, position, bindings);
        }
    }
    NodeStream(Step* step, DOMNode* node, unsigned int position, const XPath::BindingMap& bindings)
        : it_(nullptr), onStack_(false) {
        open(step, node, position, bindings);
    }
    ~NodeStream() {
        if (onStack_) {
            static_cast<StepIterator*>(it_)->~StepIterator();
        } else {
            delete it_;
        }
    }
    NodeStream(const NodeStream&) = delete;
    NodeStream& operator=(const NodeStream&) = delete;

    XPath::Iterator* get() const { return it_; }

private:
    void open(Step* step, DOMNode* node, unsigned int position, const XPath::BindingMap& bindings) {
        const XPath::Budget* budget = step->start(node, position, bindings);
        it_ = ::new (static_cast<void*>(storage_)) StepIterator(step, budget);
        onStack_ = true;
    }

    XPath::Iterator* it_;
    bool onStack_;
    alignas(StepIterator) unsigned char storage_[sizeof(StepIterator)];
};

/// Rewrites `nodes` as its distinct members in document order, dropping those the order cannot
/// place (see OrderedIterator).
void documentOrder(std::vector<DOMNode*>& nodes);

}  // namespace internal

// An ancestor or ancestor-or-self step from the context node whose predicates see only their
// candidate, read as a boolean. Some node of the chain from n up to the root passes the test and
// the predicates when n does or, failing that, when one of its parent's chain does: the answers
// for the elements met are kept, so a node costs its own test instead of a climb. Nodes come
// mostly in document order, where a node's parent is the latest element kept or one below it,
// so the answers are kept as a stack along one chain, popped as the walk leaves it. Every other
// use of the step is the step's own.
class Step::Chain : public XPath {
public:
    /// `calls`: the functions the predicates call, which must stay unbound in the map;
    /// `underBudget`: whether the answers are kept also when a Budget counts visits (else the
    /// step is read as written then, each of its visits counted).
    Chain(Step* step, bool orSelf, std::vector<const XMLCh*>& calls, bool underBudget)
        : XPath(NODE_SET), step_(step), orSelf_(orSelf), underBudget_(underBudget), on_(true) {
        calls_.swap(calls);
    }
    ~Chain() override { delete step_; }
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    /// Forgets the answers, here and in the chains of the step's own predicates, which this
    /// evaluates without starting the step, and the nodes their steps found placed.
    void reset(const BindingMap& bindings) {
        kept_.clear();
        prepared_ = false;
        on_ = true;
        for (const XMLCh* call : calls_) on_ = on_ && bindings.find(call) == bindings.end();
        for (XPath* c : step_->chains_) static_cast<Chain*>(c)->reset(bindings);
        for (DOMNode** known : step_->placements_) *known = nullptr;
    }

    bool boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) override {
        const XPath::Budget* budget = internal::budgetOf(bindings);
        if (!on_ || (budget && !underBudget_)) return step_->boolean(node, position, bindings);
        DOMNode* parent = internal::parent(node);
        if (orSelf_ && passes(node, bindings, budget)) {
            if (internal::isContainer(node)) {
                bool ignored;
                if (!parent || !find(parent, ignored)) kept_.clear();
                kept_.push_back(Answer{node, true});
            }
            return true;
        }
        const bool value = parent && above(parent, bindings, budget);
        // The chain of an ancestor step's node is only known once one of its children asks.
        if (orSelf_ && internal::isContainer(node)) kept_.push_back(Answer{node, value});
        return value;
    }
    double number(DOMNode* node, unsigned int position, const BindingMap& bindings) override {
        return step_->number(node, position, bindings);
    }
    XMLCh* string(DOMNode* node, unsigned int position, const BindingMap& bindings) override {
        return step_->string(node, position, bindings);
    }
    Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) override {
        return step_->nodeSet(node, position, bindings);
    }
    void print(std::ostream& out) const override { step_->print(out); }

private:
    struct Answer {
        DOMNode* node;
        bool value;
    };

    // Whether n itself passes, counted as the one visit it is.
    bool passes(DOMNode* n, const BindingMap& bindings, const XPath::Budget* budget) {
        if (budget) budget->visit();
        if (!prepared_) {  // the map's prefixes stay until reset
            step_->test_->prepare(step_->axis_->principalType(), bindings);
            prepared_ = true;
        }
        if (!step_->test_->matches(n)) return false;
        for (XPath* p : step_->predicates_) {
            if (!p->boolean(n, 1, bindings)) return false;
        }
        return true;
    }

    // The answer kept for n, dropping those kept above it (the walk has left their subtrees).
    bool find(DOMNode* n, bool& value) {
        for (std::size_t i = kept_.size(); i-- > 0;) {
            if (kept_[i].node == n) {
                value = kept_[i].value;
                kept_.resize(i + 1);
                return true;
            }
        }
        return false;
    }

    // Whether n or one of its ancestors passes; n is an element or a document. The order of the
    // tests is the climb's, so that a failing predicate fails as it would there.
    bool above(DOMNode* n, const BindingMap& bindings, const XPath::Budget* budget) {
        bool value;
        if (find(n, value)) return value;
        DOMNode* up = internal::parent(n);
        bool upValue;
        if (up && find(up, upValue)) {
            value = passes(n, bindings, budget) || upValue;
        } else {
            // Away from the kept chain: the climb as written.
            value = orSelf_ ? step_->boolean(n, 1, bindings)
                            : passes(n, bindings, budget) || step_->boolean(n, 1, bindings);
            kept_.clear();
        }
        kept_.push_back(Answer{n, value});
        return value;
    }

    friend class Step;
    Step* step_;
    bool orSelf_;
    bool underBudget_;
    bool on_;                // no function the predicates call is rebound
    bool prepared_ = false;  // the test has been prepared since the last reset
    std::vector<const XMLCh*> calls_;
    std::vector<Answer> kept_;
};

}  // namespace XML
}  // namespace Ambrite

#endif
