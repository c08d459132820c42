#include <ambrite/xml/dom.h>
#include <ambrite/xml/xpath.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>

#include "xpath/internal.h"

namespace Ambrite {
namespace XML {

XPath::Iterator::~Iterator() {}

BasicIterator::BasicIterator(const std::vector<DOMNode*>& nodes)
    : nodes_(nodes), single_(nullptr), cursor_(nodes_.data()), end_(cursor_ + nodes_.size()) {}

BasicIterator::BasicIterator(DOMNode* node)
    : single_(node), cursor_(&single_), end_(&single_ + 1) {}

BasicIterator::~BasicIterator() {}

DOMNode* BasicIterator::next() {
    if (cursor_ == end_) internal::evaluationError("No next node");
    return *cursor_++;
}

// Nested unions would cost a walk down the nesting for every node, which "a | b | c | ..."
// makes quadratic in the number of parts.
UnionIterator::UnionIterator(XPath::Iterator* left, XPath::Iterator* right) : cursor_(0) {
    std::unique_ptr<XPath::Iterator> l(left), r(right);
    if (UnionIterator* chain = dynamic_cast<UnionIterator*>(left)) {
        parts_.swap(chain->parts_);
        cursor_ = chain->cursor_;
        try {
            parts_.push_back(right);
        } catch (...) {
            parts_.swap(chain->parts_);  // the chain deletes them again
            throw;
        }
    } else {
        parts_.reserve(2);
        parts_.push_back(l.release());
        parts_.push_back(right);
    }
    r.release();
}

UnionIterator::~UnionIterator() {
    for (XPath::Iterator* part : parts_) delete part;
}

bool UnionIterator::hasNext() {
    while (cursor_ < parts_.size() && !parts_[cursor_]->hasNext()) ++cursor_;
    return cursor_ < parts_.size();
}

DOMNode* UnionIterator::next() {
    // Past the end, the last part reports the failure.
    return hasNext() ? parts_[cursor_]->next() : parts_.back()->next();
}

OrderedIterator::OrderedIterator(XPath::Iterator* source) : source_(source), cursor_(0) {}

OrderedIterator::~OrderedIterator() {}

// A step known to yield its nodes in document order is read as it comes.
void OrderedIterator::order() {
    if (!source_) return;
    StepIterator* step = dynamic_cast<StepIterator*>(source_);
    const bool ordered = step && step->ordered();
    internal::readAll(source_, nodes_);
    source_ = nullptr;
    if (!ordered) internal::documentOrder(nodes_);
}

bool OrderedIterator::hasNext() {
    order();
    return cursor_ < nodes_.size();
}

DOMNode* OrderedIterator::next() {
    if (!hasNext()) internal::evaluationError("No next node");
    return nodes_[cursor_++];
}

unsigned int OrderedIterator::size() {
    order();
    return static_cast<unsigned int>(nodes_.size());
}

namespace internal {

void readAll(XPath::Iterator* it, std::vector<DOMNode*>& out) {
    while (it->hasNext()) out.push_back(it->next());
}

namespace {

const std::uint32_t NONE = UINT32_MAX;

// Whether the walk in document order from `document` meets n: n is visible, and its ancestors
// up to the document, or up to `known` (a node the walk meets, or null), are elements or entity
// references.
bool reachable(DOMNode* n, DOMNode* document, DOMNode* known = nullptr) {
    if (n == document) return true;
    if (!isVisible(n) || n->getNodeType() == DOMNode::DOCUMENT_NODE) return false;
    if (n->getNodeType() == DOMNode::ATTRIBUTE_NODE &&
        attributeKind(n) == EMPTY_DEFAULT_DECLARATION) {
        return false;
    }
    for (DOMNode* p = domParent(n); p; p = domParent(p)) {
        if (p == document || p == known) return true;
        if (p->getNodeType() != DOMNode::ELEMENT_NODE && !isEntityReference(p)) return false;
    }
    return false;
}

// Entity references are walked through, never yielded.
bool walkedInto(DOMNode* n) { return isContainer(n) || isEntityReference(n); }

// Orders members by the tree their ancestor chains span: each member and each of its
// ancestors is an entry, linked to its parent's entry. Siblings among the entries are put in
// order by one scan of their parent's attribute map or child list, from both ends at once, so
// that siblings near either end are found quickly; a depth-first walk over the entries then
// yields the members in document order.
class Orderer {
public:
    explicit Orderer(std::vector<DOMNode*>& nodes) : nodes_(nodes) {}
    void run(DOMNode* document);

private:
    struct Entry {
        DOMNode* node;
        std::uint32_t firstChild;
        std::uint32_t nextSibling;
        bool member;
    };

    std::uint32_t find(DOMNode* n) const;
    std::uint32_t add(DOMNode* n);
    void grow();
    // Nodes lie in the document's pool largely in document order, so neighbouring members take
    // neighbouring slots; the fold keeps pools far apart from colliding.
    static std::size_t hash(DOMNode* n, std::size_t mask) {
        std::uintptr_t p = reinterpret_cast<std::uintptr_t>(n);
        return static_cast<std::size_t>((p >> 4) ^ (p >> 24)) & mask;
    }
    void orderChildren(std::uint32_t parent);

    std::vector<DOMNode*>& nodes_;
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> slots_;  // entry index + 1, 0 for a free slot
    // Scratch of orderChildren: the child entries in order, and the attribute entries of the two
    // kinds.
    std::vector<std::uint32_t> front_, declarations_, attributes_;
    std::vector<std::uint32_t> stack_;
};

std::uint32_t Orderer::find(DOMNode* n) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash(n, mask);; i = (i + 1) & mask) {
        std::uint32_t s = slots_[i];
        if (s == 0) return NONE;
        if (entries_[s - 1].node == n) return s - 1;
    }
}

std::uint32_t Orderer::add(DOMNode* n) {
    if (2 * (entries_.size() + 1) > slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash(n, mask);
    while (slots_[i]) i = (i + 1) & mask;
    Entry e = {n, NONE, NONE, false};
    entries_.push_back(e);
    slots_[i] = static_cast<std::uint32_t>(entries_.size());
    return static_cast<std::uint32_t>(entries_.size() - 1);
}

void Orderer::grow() {
    slots_.assign(std::max<std::size_t>(16, 2 * slots_.size()), 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        std::size_t i = hash(entries_[k].node, mask);
        while (slots_[i]) i = (i + 1) & mask;
        slots_[i] = static_cast<std::uint32_t>(k + 1);
    }
}

void Orderer::run(DOMNode* document) {
    std::size_t slots = 16;
    while (slots < 4 * nodes_.size()) slots *= 2;
    slots_.assign(slots, 0);
    for (DOMNode* member : nodes_) {
        std::uint32_t child = find(member);
        if (child != NONE) {
            entries_[child].member = true;
            continue;
        }
        child = add(member);
        entries_[child].member = true;
        // Climb until the chain joins one seen before.
        for (DOMNode* p = domParent(member); p; p = domParent(p)) {
            std::uint32_t parent = find(p);
            const bool known = parent != NONE;
            if (!known) parent = add(p);
            entries_[child].nextSibling = entries_[parent].firstChild;
            entries_[parent].firstChild = child;
            if (known) break;
            child = parent;
        }
    }

    nodes_.clear();
    std::uint32_t root = find(document);
    if (root == NONE) return;
    stack_.push_back(root);
    while (!stack_.empty()) {
        std::uint32_t e = stack_.back();
        stack_.pop_back();
        DOMNode* n = entries_[e].node;
        if (entries_[e].member && !isEntityReference(n)) nodes_.push_back(n);
        if (entries_[e].firstChild != NONE && walkedInto(n)) orderChildren(e);
    }
}

// Pushes the visible child entries of `parent` (and entity references, to be walked through) so
// that they pop in document order: namespace declarations, other attributes, then children.
void Orderer::orderChildren(std::uint32_t parent) {
    front_.clear();
    declarations_.clear();
    attributes_.clear();
    std::size_t attributeCount = 0, childCount = 0;
    for (std::uint32_t c = entries_[parent].firstChild; c != NONE; c = entries_[c].nextSibling) {
        if (entries_[c].node->getNodeType() == DOMNode::ATTRIBUTE_NODE) {
            ++attributeCount;
        } else {
            ++childCount;
        }
    }
    DOMNode* node = entries_[parent].node;
    if (attributeCount) {
        xercesc::DOMNamedNodeMap* map = node->getAttributes();
        const XMLSize_t length = map ? map->getLength() : 0;
        for (XMLSize_t i = 0; i < length && attributeCount; ++i) {
            DOMNode* a = map->item(i);
            std::uint32_t e = find(a);
            if (e == NONE) continue;
            --attributeCount;
            switch (attributeKind(a)) {
                case NAMESPACE_DECLARATION:
                    declarations_.push_back(e);
                    break;
                case ORDINARY_ATTRIBUTE:
                    attributes_.push_back(e);
                    break;
                case EMPTY_DEFAULT_DECLARATION:
                    break;
            }
        }
    }
    if (childCount == 1) {
        for (std::uint32_t c = entries_[parent].firstChild; c != NONE;
             c = entries_[c].nextSibling) {
            if (entries_[c].node->getNodeType() != DOMNode::ATTRIBUTE_NODE) front_.push_back(c);
        }
    } else if (childCount > 1) {
        // Forward only: the DOM's backward link costs a type check per call.
        for (DOMNode* c = node->getFirstChild(); c && childCount; c = c->getNextSibling()) {
            std::uint32_t e = find(c);
            if (e == NONE) continue;
            front_.push_back(e);
            --childCount;
        }
    }
    // The stack pops last-pushed first: children from the last, then attributes.
    for (std::size_t i = front_.size(); i-- > 0;) {
        DOMNode* n = entries_[front_[i]].node;
        if (isVisible(n) || isEntityReference(n)) stack_.push_back(front_[i]);
    }
    for (std::size_t i = attributes_.size(); i-- > 0;) stack_.push_back(attributes_[i]);
    for (std::size_t i = declarations_.size(); i-- > 0;) stack_.push_back(declarations_[i]);
}

}  // namespace

bool placed(DOMNode* n) {
    DOMNode* document = DOMUtil::getOwnerDocument(n);
    return document && reachable(n, document);
}

bool placed(DOMNode* n, DOMNode*& known) {
    DOMNode* document = DOMUtil::getOwnerDocument(n);
    if (!document || !reachable(n, document, known)) return false;
    known = isContainer(n) ? n : domParent(n);
    return true;
}

bool distinctNodes(XPath::Iterator* it) {
    StepIterator* step = dynamic_cast<StepIterator*>(it);
    return step && step->distinct();
}

DOMNode* firstInOrder(XPath::Iterator* it) {
    StepIterator* step = dynamic_cast<StepIterator*>(it);
    if (step && step->ordered()) {
        DOMNode* first = step->hasNext() ? step->next() : nullptr;
        while (step->hasNext()) step->next();
        return first;
    }
    std::vector<DOMNode*> nodes;
    readAll(it, nodes);
    documentOrder(nodes);
    return nodes.empty() ? nullptr : nodes[0];
}

void documentOrder(std::vector<DOMNode*>& nodes) {
    if (nodes.empty()) return;
    // The document of the member with the lowest address is the one walked.
    DOMNode* document = DOMUtil::getOwnerDocument(*std::min_element(nodes.begin(), nodes.end()));
    if (std::count(nodes.begin(), nodes.end(), nodes[0]) ==
        static_cast<std::ptrdiff_t>(nodes.size())) {
        if (!document || !reachable(nodes[0], document)) nodes.clear();
        nodes.resize(std::min<std::size_t>(nodes.size(), 1));
        return;
    }
    if (!document) {
        nodes.clear();
        return;
    }
    Orderer(nodes).run(document);
}

}  // namespace internal

}  // namespace XML
}  // namespace Ambrite
