#include <ambrite/xml/nodeset.h>

#include <memory>
#include <vector>
#include <xercesc/dom/DOMNamedNodeMap.hpp>

#include "nodeset/internal.h"

namespace Ambrite {
namespace XML {

namespace {

// Replaces the apexes in treeSet by those of the intersection of the forests below treeSet and
// below roots: whichever of two nested apexes lies deeper bounds their common part.
void intersect(NodeHashSet& treeSet, const NodeHashSet& roots) {
    NodeHashSet former(treeSet);
    treeSet.clear();
    internal::forEach(former, [&](DOMNode* t) {
        if (internal::withinAny(t, roots)) treeSet.insert(t);
    });
    internal::forEach(roots, [&](DOMNode* r) {
        if (internal::withinAny(r, former)) treeSet.insert(r);
    });
}

// Adds a clone of f to the residual conjunction, after what is already there.
void conjoin(std::unique_ptr<NodeSet::Filter>& residual, const NodeSet::Filter* f) {
    std::unique_ptr<NodeSet::Filter> copy(f->clone());
    if (!residual)
        residual = std::move(copy);
    else
        residual.reset(new AndFilter(residual.release(), copy.release()));
}

// The tree filter a filter tagged as one really is; null for anything else.
const NodeTreeFilter* asTreeFilter(const NodeSet::Filter* f) {
    return f && f->type() == NodeSet::Filter::NODE_TREE_FILTER
               ? dynamic_cast<const NodeTreeFilter*>(f)
               : nullptr;
}

}  // namespace

struct NodeSetIterator::Walk : Allocated {
    explicit Walk(DOMNode* root) : walker(root) {}
    internal::Walker<> walker;
};

NodeSetIterator::NodeSetIterator(const NodeSet* nodeSet)
    : root_(nodeSet->root()),
      treeSet_(4),
      notTreeSet_(4),
      filter_(nullptr),
      next_(nullptr),
      walk_(nullptr),
      phase_(ENTER),
      attrIndex_(0),
      apex_(nullptr) {
    treeSet_.insert(root_);
    std::unique_ptr<NodeSet::Filter> residual;
    // Only the conjunctions at the top are taken apart; the list grows as they are opened.
    std::vector<const NodeSet::Filter*> work(1, nodeSet->filter());
    for (std::size_t i = 0; i < work.size(); ++i) {
        const NodeSet::Filter* f = work[i];
        bool taken = false;
        switch (f->type()) {
            case NodeSet::Filter::NODE_TREE_FILTER:
                if (const NodeTreeFilter* tree = asTreeFilter(f)) {
                    intersect(treeSet_, tree->roots());
                    taken = true;
                }
                break;
            case NodeSet::Filter::AND_FILTER:
                // One that lost an operand accepts nothing and goes to the residual as it is.
                if (const AndFilter* a = dynamic_cast<const AndFilter*>(f)) {
                    if (a->first() && a->second()) {
                        work.push_back(a->first());
                        work.push_back(a->second());
                        taken = true;
                    }
                }
                break;
            case NodeSet::Filter::NOT_FILTER:
                if (const NotFilter* n = dynamic_cast<const NotFilter*>(f)) {
                    if (const NodeTreeFilter* tree = asTreeFilter(n->filter())) {
                        internal::forEach(tree->roots(),
                                          [this](DOMNode* r) { notTreeSet_.insert(r); });
                        taken = true;
                    }
                }
                break;
            case NodeSet::Filter::CONSTANT_FILTER:
            case NodeSet::Filter::NODE_TYPE_FILTER:
            case NodeSet::Filter::NODE_SET_FILTER:
            case NodeSet::Filter::OR_FILTER:
            case NodeSet::Filter::ATTR_FILTER:
                break;
        }
        if (!taken) conjoin(residual, f);
    }
    if (!residual) residual.reset(new ConstantFilter(true));

    // Apexes inside excluded subtrees select nothing.
    if (notTreeSet_.size()) {
        for (NodeHashSet::iterator it = treeSet_.begin(), end = treeSet_.end(); it != end; ++it) {
            if (internal::withinAny(*it, notTreeSet_)) it.remove();
        }
    }
    if (treeSet_.size()) walk_ = new Walk(root_);
    filter_ = residual.release();
    step();
}

NodeSetIterator::NodeSetIterator(const NodeSetIterator& other)
    : root_(other.root_),
      treeSet_(other.treeSet_),
      notTreeSet_(other.notTreeSet_),
      filter_(nullptr),
      next_(other.next_),
      walk_(nullptr),
      phase_(other.phase_),
      attrIndex_(other.attrIndex_),
      apex_(other.apex_) {
    std::unique_ptr<NodeSet::Filter> filter(other.filter_->clone());
    if (other.walk_) walk_ = new Walk(*other.walk_);
    filter_ = filter.release();
}

NodeSetIterator::~NodeSetIterator() {
    delete walk_;
    delete filter_;
}

DOMNode* NodeSetIterator::next() {
    DOMNode* node = next_;
    if (node) step();
    return node;
}

// Walks the root's subtree in document order, skipping excluded subtrees whole, and stops at
// the next node that lies below a tree-set member and passes the residual.
void NodeSetIterator::step() {
    next_ = nullptr;
    while (walk_) {
        internal::Walker<>& walker = walk_->walker;
        DOMNode* node = walker.node();
        switch (phase_) {
            case ENTER:
                if (notTreeSet_.contains(node)) {
                    phase_ = DONE;
                    break;
                }
                if (!apex_ && treeSet_.contains(node)) apex_ = node;
                phase_ = ATTRIBUTES;
                attrIndex_ = 0;
                if (apex_ && filter_->accept(node)) {
                    next_ = node;
                    return;
                }
                break;
            case ATTRIBUTES:
                if (node->getNodeType() == DOMNode::ELEMENT_NODE) {
                    xercesc::DOMNamedNodeMap* attributes = node->getAttributes();
                    XMLSize_t count = attributes ? attributes->getLength() : 0;
                    while (attrIndex_ < count) {
                        DOMNode* a = attributes->item(attrIndex_++);
                        if (!notTreeSet_.contains(a) && (apex_ || treeSet_.contains(a)) &&
                            filter_->accept(a)) {
                            next_ = a;
                            return;
                        }
                    }
                }
                // An attribute root stands alone: the text nodes holding its value are not
                // walked.
                if (node->getNodeType() != DOMNode::ATTRIBUTE_NODE && walker.descend()) {
                    walker.next();
                    phase_ = ENTER;
                } else {
                    phase_ = DONE;
                }
                break;
            case DONE:
                if (node == apex_) apex_ = nullptr;
                if (!walker.next()) {
                    delete walk_;
                    walk_ = nullptr;
                    break;
                }
                phase_ = walker.entering() ? ENTER : DONE;
                break;
        }
    }
}

}  // namespace XML
}  // namespace Ambrite
