#include <ambrite/xml/nodeset.h>

#include <memory>

#include "nodeset/internal.h"

namespace Ambrite {
namespace XML {

NodeSet::Filter::~Filter() {}

bool ConstantFilter::accept(DOMNode*) const { return constant_; }

NodeSet::Filter* ConstantFilter::clone() const { return new ConstantFilter(constant_); }

bool NodeTypeFilter::accept(DOMNode* node) const { return node->getNodeType() == nodeType_; }

NodeSet::Filter* NodeTypeFilter::clone() const { return new NodeTypeFilter(nodeType_); }

NodeTreeFilter::NodeTreeFilter(DOMNode* root) : Filter(NODE_TREE_FILTER), roots_(4) {
    roots_.insert(root);
}

NodeTreeFilter::NodeTreeFilter(const NodeHashSet& roots)
    : Filter(NODE_TREE_FILTER), roots_(roots) {}

bool NodeTreeFilter::accept(DOMNode* node) const { return internal::withinAny(node, roots_); }

NodeSet::Filter* NodeTreeFilter::clone() const { return new NodeTreeFilter(roots_); }

NodeSetFilter::NodeSetFilter(const NodeHashSet& set) : Filter(NODE_SET_FILTER), set_(set) {}

bool NodeSetFilter::accept(DOMNode* node) const { return set_.contains(node); }

NodeSet::Filter* NodeSetFilter::clone() const { return new NodeSetFilter(set_); }

// Like the And and Or filters, a Not filter without its operand accepts nothing.
NotFilter::NotFilter(NodeSet::Filter* filter) : Filter(NOT_FILTER), filter_(filter) {}

NotFilter::~NotFilter() { delete filter_; }

bool NotFilter::accept(DOMNode* node) const { return filter_ && !filter_->accept(node); }

NodeSet::Filter* NotFilter::clone() const {
    std::unique_ptr<NodeSet::Filter> operand(filter_ ? filter_->clone() : nullptr);
    return new NotFilter(operand.release());
}

namespace {

// A combination missing one operand keeps neither, so that it behaves the same (accepting
// nothing) whichever operand was absent, and so does its clone.
void dropLoneOperand(NodeSet::Filter*& first, NodeSet::Filter*& second) {
    if (first && second) return;
    delete first;
    delete second;
    first = nullptr;
    second = nullptr;
}

}  // namespace

AndFilter::AndFilter(NodeSet::Filter* first, NodeSet::Filter* second)
    : Filter(AND_FILTER), first_(first), second_(second) {
    dropLoneOperand(first_, second_);
}

AndFilter::~AndFilter() {
    delete first_;
    delete second_;
}

bool AndFilter::accept(DOMNode* node) const {
    return first_ && second_ && first_->accept(node) && second_->accept(node);
}

NodeSet::Filter* AndFilter::clone() const {
    if (!first_ || !second_) return new AndFilter(nullptr, nullptr);
    std::unique_ptr<NodeSet::Filter> first(first_->clone());
    std::unique_ptr<NodeSet::Filter> second(second_->clone());
    return new AndFilter(first.release(), second.release());
}

OrFilter::OrFilter(NodeSet::Filter* first, NodeSet::Filter* second)
    : Filter(OR_FILTER), first_(first), second_(second) {
    dropLoneOperand(first_, second_);
}

OrFilter::~OrFilter() {
    delete first_;
    delete second_;
}

bool OrFilter::accept(DOMNode* node) const {
    return first_ && second_ && (first_->accept(node) || second_->accept(node));
}

NodeSet::Filter* OrFilter::clone() const {
    if (!first_ || !second_) return new OrFilter(nullptr, nullptr);
    std::unique_ptr<NodeSet::Filter> first(first_->clone());
    std::unique_ptr<NodeSet::Filter> second(second_->clone());
    return new OrFilter(first.release(), second.release());
}

}  // namespace XML
}  // namespace Ambrite
