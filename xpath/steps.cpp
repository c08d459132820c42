#include <ambrite/xml/dom.h>
#include <ambrite/xml/xpath.h>

#include <cmath>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>
#include <xercesc/dom/impl/DOMTextImpl.hpp>

#include "foundation/internal.h"
#include "xpath/internal.h"

namespace Ambrite {
namespace XML {

using internal::isContainer;
using internal::isEntityReference;
using internal::isVisible;
using internal::OwnedIterator;

namespace {

const XMLCh kLastKey[] = u"&last";
const XMLCh kBudgetKey[] = u"#budget";

}  // namespace

// ---------------------------------------------------------------------------------------------
// The XPath view of the tree

namespace internal {

namespace {

// The links of elements and texts, nearly every node a walk passes, are read from the
// implementation objects the parser made rather than through a virtual call each; the few
// other nodes are asked.
DOMNode* firstChildOf(DOMNode* n, int type) {
    switch (type) {
        case DOMNode::ELEMENT_NODE:
            return static_cast<xercesc::DOMElementImpl*>(n)->fParent.fFirstChild;
        case DOMNode::DOCUMENT_NODE:
        case DOMNode::ENTITY_REFERENCE_NODE:
            return n->getFirstChild();
        default:
            return nullptr;
    }
}

DOMNode* nextSiblingOf(DOMNode* n, int type) {
    switch (type) {
        case DOMNode::ELEMENT_NODE:
            return static_cast<xercesc::DOMElementImpl*>(n)->fChild.nextSibling;
        case DOMNode::TEXT_NODE:
            return static_cast<xercesc::DOMTextImpl*>(n)->fChild.nextSibling;
        default:
            return n->getNextSibling();
    }
}

// Xerces-C finds a node's previous sibling and a parent's last child through a dynamic_cast
// each. For elements and texts the links are read directly: the previous link of a first child
// points to the last child, and a flag marks the first child.
DOMNode* previousOf(DOMNode* n) {
    switch (n->getNodeType()) {
        case DOMNode::ELEMENT_NODE: {
            const xercesc::DOMElementImpl* e = static_cast<xercesc::DOMElementImpl*>(n);
            return e->fNode.isFirstChild() ? nullptr : e->fChild.previousSibling;
        }
        case DOMNode::TEXT_NODE: {
            const xercesc::DOMTextImpl* t = static_cast<xercesc::DOMTextImpl*>(n);
            return t->fNode.isFirstChild() ? nullptr : t->fChild.previousSibling;
        }
        default:
            return n->getPreviousSibling();
    }
}

DOMNode* lastOf(DOMNode* n) {
    if (n->getNodeType() != DOMNode::ELEMENT_NODE) return n->getLastChild();
    DOMNode* first = static_cast<xercesc::DOMElementImpl*>(n)->fParent.fFirstChild;
    if (!first) return nullptr;
    switch (first->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
            return static_cast<xercesc::DOMElementImpl*>(first)->fChild.previousSibling;
        case DOMNode::TEXT_NODE:
            return static_cast<xercesc::DOMTextImpl*>(first)->fChild.previousSibling;
        default:
            return n->getLastChild();
    }
}

// The first node of the view at or after s among its siblings: entity references are entered,
// invisible nodes skipped, and after the last child of an entity reference the run goes on after
// the reference. Runs climb out of references with domParent(), without a dynamic_cast.
DOMNode* forward(DOMNode* s) {
    for (;;) {
        if (isEntityReference(s)) {
            if (DOMNode* child = s->getFirstChild()) {
                s = child;
                continue;
            }
        } else if (isVisible(s)) {
            return s;
        }
        DOMNode* next;
        while (!(next = s->getNextSibling())) {
            s = domParent(s);
            if (!s || !isEntityReference(s)) return nullptr;
        }
        s = next;
    }
}

DOMNode* backward(DOMNode* s) {
    for (;;) {
        if (isEntityReference(s)) {
            if (DOMNode* child = s->getLastChild()) {
                s = child;
                continue;
            }
        } else if (isVisible(s)) {
            return s;
        }
        DOMNode* previous;
        while (!(previous = previousOf(s))) {
            s = domParent(s);
            if (!s || !isEntityReference(s)) return nullptr;
        }
        s = previous;
    }
}

}  // namespace

DOMNode* firstChild(DOMNode* n) {
    if (!isContainer(n)) return nullptr;
    DOMNode* child = n->getFirstChild();
    return child ? forward(child) : nullptr;
}

DOMNode* lastChild(DOMNode* n) {
    if (!isContainer(n)) return nullptr;
    DOMNode* child = lastOf(n);
    return child ? backward(child) : nullptr;
}

DOMNode* nextSibling(DOMNode* n) {
    if (n->getNodeType() == DOMNode::ATTRIBUTE_NODE) return nullptr;
    DOMNode* next;
    while (!(next = n->getNextSibling())) {
        n = domParent(n);
        if (!n || !isEntityReference(n)) return nullptr;
    }
    return forward(next);
}

DOMNode* previousSibling(DOMNode* n) {
    if (n->getNodeType() == DOMNode::ATTRIBUTE_NODE) return nullptr;
    DOMNode* previous;
    while (!(previous = previousOf(n))) {
        n = domParent(n);
        if (!n || !isEntityReference(n)) return nullptr;
    }
    return backward(previous);
}

// Xerces-C finds the parent of a node through a dynamic_cast to its implementation; elements
// and texts, nearly every node a climb starts from or passes, have their owner at hand in the
// implementation object the parser made, which is read directly.
DOMNode* domParent(DOMNode* n) {
    switch (n->getNodeType()) {
        case DOMNode::ELEMENT_NODE: {
            const xercesc::DOMNodeImpl& impl = static_cast<xercesc::DOMElementImpl*>(n)->fNode;
            return impl.isOwned() ? impl.fOwnerNode : nullptr;
        }
        case DOMNode::TEXT_NODE: {
            const xercesc::DOMNodeImpl& impl = static_cast<xercesc::DOMTextImpl*>(n)->fNode;
            return impl.isOwned() ? impl.fOwnerNode : nullptr;
        }
        default:
            return DOMUtil::getParentNode(n);
    }
}

DOMNode* parent(DOMNode* n) {
    DOMNode* p = domParent(n);
    while (p && isEntityReference(p)) p = domParent(p);
    return p;
}

}  // namespace internal

// ---------------------------------------------------------------------------------------------
// Budget

XPath::Budget::~Budget() {}

const XMLCh* XPath::Budget::key() { return kBudgetKey; }

void XPath::Budget::exceeded() const {
    throw Exception(14, Format("Evaluation limit exceeded: more than %s node visits",
                               std::to_string(max_).c_str()));
}

// ---------------------------------------------------------------------------------------------
// Axes

namespace {

// How the tree and child walks match a test: every node, texts and CDATA sections, every
// element, elements by name, or through the test itself; or node() when only elements and
// documents matter (see Step::containersOnly_).
enum TestKind { ANY_NODE, ANY_TEXT, ANY_ELEMENT, NAMED_ELEMENT, OTHER_TEST, CONTAINER };

int testKind(Step::Test* test) {
    if (const NodeTypeTest* type = dynamic_cast<const NodeTypeTest*>(test)) {
        if (type->anyNode()) return ANY_NODE;
        if (type->kind() == NodeTypeTest::TEXT) return ANY_TEXT;
    } else if (const NameTest* name = dynamic_cast<const NameTest*>(test)) {
        return name->anyElement() ? ANY_ELEMENT : NAMED_ELEMENT;
    }
    return OTHER_TEST;
}

// Whether n, of node type `type`, passes `test` of that kind on an axis of elements.
inline bool passes(Step::Test* test, int kind, DOMNode* n, int type) {
    switch (kind) {
        case ANY_NODE:
            return true;
        case ANY_TEXT:
            return type == DOMNode::TEXT_NODE || type == DOMNode::CDATA_SECTION_NODE;
        case ANY_ELEMENT:
            return type == DOMNode::ELEMENT_NODE;
        case NAMED_ELEMENT:
            return type == DOMNode::ELEMENT_NODE && static_cast<NameTest*>(test)->matchesName(n);
        default:  // kept out of the switch, which then stays a few compares
            if (kind == CONTAINER) {
                return type == DOMNode::ELEMENT_NODE || type == DOMNode::DOCUMENT_NODE;
            }
            return test->matches(n);
    }
}

}  // namespace

Step::Axis::~Axis() { delete source_; }

Step::Axis* Step::Axis::create(const XMLCh* name) {
    static const struct {
        const XMLCh* name;
        int kind;  // LinearAxis kinds, 10 + TreeAxis kinds, 20 preceding, 21 attribute, 22
                   // namespace
    } kAxes[] = {{u"ancestor", LinearAxis::ANCESTOR},
                 {u"ancestor-or-self", LinearAxis::ANCESTOR_OR_SELF},
                 {u"attribute", 21},
                 {u"child", LinearAxis::CHILD},
                 {u"descendant", 10 + TreeAxis::DESCENDANT},
                 {u"descendant-or-self", 10 + TreeAxis::DESCENDANT_OR_SELF},
                 {u"following", 10 + TreeAxis::FOLLOWING},
                 {u"following-sibling", LinearAxis::FOLLOWING_SIBLING},
                 {u"namespace", 22},
                 {u"parent", LinearAxis::PARENT},
                 {u"preceding", 20},
                 {u"preceding-sibling", LinearAxis::PRECEDING_SIBLING},
                 {u"self", LinearAxis::SELF}};
    for (const auto& a : kAxes) {
        if (!StringUtil::eq(a.name, name)) continue;
        if (a.kind < 10) return new LinearAxis(static_cast<LinearAxis::Kind>(a.kind));
        if (a.kind < 20) return new TreeAxis(static_cast<TreeAxis::Kind>(a.kind - 10));
        if (a.kind == 20) return new PrecedingAxis;
        return new AttributeAxis(a.kind == 21);
    }
    return nullptr;
}

void Step::Axis::setSource(XPath::Iterator* contexts) {
    delete source_;
    source_ = contexts;
}

bool Step::Axis::advance() {
    if (!source_ || !source_->hasNext()) return false;
    begin(source_->next());
    return true;
}

unsigned int Step::Axis::knownSize() { return 0; }

namespace {
const char* const kLinearNames[] = {"self",
                                    "child",
                                    "parent",
                                    "ancestor",
                                    "ancestor-or-self",
                                    "following-sibling",
                                    "preceding-sibling"};
const char* const kTreeNames[] = {"descendant", "descendant-or-self", "following"};
}  // namespace

LinearAxis::LinearAxis(Kind kind) : Axis(ELEMENT), kind_(kind), current_(nullptr) {}

LinearAxis::~LinearAxis() {}

// Children are walked with the entity references entered kept at hand, so that the end of a
// run needs no parent link.
DOMNode* LinearAxis::childFrom(DOMNode* s) {
    for (;;) {
        while (!s && !entered_.empty()) {
            s = entered_.back()->getNextSibling();
            entered_.pop_back();
        }
        if (!s || isVisible(s)) return s;
        if (isEntityReference(s) && s->getFirstChild()) {
            entered_.push_back(s);
            s = s->getFirstChild();
        } else {
            s = s->getNextSibling();
        }
    }
}

void LinearAxis::begin(DOMNode* contextNode) {
    switch (kind_) {
        case SELF:
        case ANCESTOR_OR_SELF:
            current_ = contextNode;
            break;
        case CHILD:
            entered_.clear();
            current_ = childFrom(isContainer(contextNode) ? contextNode->getFirstChild() : nullptr);
            break;
        case PARENT:
        case ANCESTOR:
            current_ = internal::parent(contextNode);
            break;
        case FOLLOWING_SIBLING:
            current_ = internal::nextSibling(contextNode);
            break;
        case PRECEDING_SIBLING:
            current_ = internal::previousSibling(contextNode);
            break;
    }
}

DOMNode* LinearAxis::next() {
    DOMNode* n = current_;
    switch (kind_) {
        case SELF:
        case PARENT:
            current_ = nullptr;
            break;
        case CHILD:
            current_ = childFrom(n->getNextSibling());
            break;
        case ANCESTOR:
        case ANCESTOR_OR_SELF:
            current_ = internal::parent(n);
            break;
        case FOLLOWING_SIBLING:
            current_ = internal::nextSibling(n);
            break;
        case PRECEDING_SIBLING:
            current_ = internal::previousSibling(n);
            break;
    }
    return n;
}

DOMNode* LinearAxis::findChild(Step::Test* test, int testKind, const XPath::Budget* budget) {
    while (DOMNode* n = current_) {
        const int type = n->getNodeType();
        DOMNode* next = internal::nextSiblingOf(n, type);
        if (next) __builtin_prefetch(reinterpret_cast<const char*>(next) + 64);  // see walk()
        current_ = childFrom(next);
        if (budget) budget->visit();
        if (passes(test, testKind, n, type)) return n;
    }
    return nullptr;
}

void LinearAxis::print(std::ostream& out) const { out << kLinearNames[kind_]; }

TreeAxis::TreeAxis(Kind kind)
    : Axis(ELEMENT), kind_(kind), current_(nullptr), currentType_(0), subtree_(nullptr) {}

TreeAxis::~TreeAxis() {}

namespace {

// The first node after n's subtree: the next sibling of n or of its nearest ancestor that has
// one. An attribute's first climb is to its element, whose content is thus passed over.
DOMNode* after(DOMNode* n) {
    for (; n; n = internal::parent(n)) {
        if (DOMNode* s = internal::nextSibling(n)) return s;
    }
    return nullptr;
}

}  // namespace

void TreeAxis::begin(DOMNode* contextNode) {
    subtree_ = kind_ == FOLLOWING ? after(contextNode) : contextNode;
    if (!subtree_) {
        current_ = nullptr;
        return;
    }
    const int type = subtree_->getNodeType();
    if (kind_ == DESCENDANT) {
        current_ = walk(subtree_, type);
    } else {
        current_ = subtree_;
        currentType_ = type;
    }
}

// Pre-order from n, the node last produced or the root of the subtree, which is entered if it
// is an element or a document. Entity references inside are passed through: the next visible
// node, or null past the end of the walk.
DOMNode* TreeAxis::walk(DOMNode* n, int type) {
    DOMNode* child =
        type == DOMNode::ENTITY_REFERENCE_NODE ? nullptr : internal::firstChildOf(n, type);
    for (;;) {
        if (child) {
            // The walk comes back to n's next sibling after the child's subtree, mostly a few
            // nodes later: fetching its object (two cache lines) now overlaps that miss with
            // those of the subtree, where a walk of the DOM otherwise waits for one node at a
            // time.
            if (DOMNode* s = internal::nextSiblingOf(n, type)) {
                __builtin_prefetch(s);
                __builtin_prefetch(reinterpret_cast<const char*>(s) + 64);
            }
            __builtin_prefetch(reinterpret_cast<const char*>(child) + 64);
            n = child;
        } else {
            // Up to the first node with a next sibling, short of leaving the subtree.
            for (;;) {
                if (n == subtree_) {
                    if (kind_ != FOLLOWING) return nullptr;
                    subtree_ = after(subtree_);
                    if (subtree_) currentType_ = subtree_->getNodeType();
                    return subtree_;
                }
                if (DOMNode* next = internal::nextSiblingOf(n, type)) {
                    __builtin_prefetch(reinterpret_cast<const char*>(next) + 64);
                    n = next;
                    break;
                }
                n = internal::domParent(n);
                if (!n) return nullptr;
                type = n->getNodeType();
            }
        }
        type = n->getNodeType();
        switch (type) {
            case DOMNode::ELEMENT_NODE:
            case DOMNode::TEXT_NODE:
            case DOMNode::CDATA_SECTION_NODE:
            case DOMNode::PROCESSING_INSTRUCTION_NODE:
            case DOMNode::COMMENT_NODE:
                currentType_ = type;
                return n;
            case DOMNode::ENTITY_REFERENCE_NODE:
                child = n->getFirstChild();
                break;
            default:
                child = nullptr;  // a document type or another node the view leaves out
                break;
        }
    }
}

DOMNode* TreeAxis::next() {
    DOMNode* n = current_;
    current_ = walk(n, currentType_);
    return n;
}

DOMNode* TreeAxis::find(Step::Test* test, int testKind, const XPath::Budget* budget) {
    while (DOMNode* n = current_) {
        const int type = currentType_;
        current_ = walk(n, type);
        if (budget) budget->visit();
        if (passes(test, testKind, n, type)) return n;
    }
    return nullptr;
}

void TreeAxis::print(std::ostream& out) const { out << kTreeNames[kind_]; }

PrecedingAxis::PrecedingAxis()
    : Axis(ELEMENT), current_(nullptr), ancestor_(nullptr), ancestorParent_(nullptr) {}

PrecedingAxis::~PrecedingAxis() {}

namespace {

DOMNode* deepestLast(DOMNode* n) {
    while (DOMNode* child = internal::lastChild(n)) n = child;
    return n;
}

}  // namespace

// From a, an ancestor-or-self of the context node, up to the first with a previous sibling: the
// walk goes on at that sibling's deepest last descendant.
DOMNode* PrecedingAxis::climb(DOMNode* a) {
    while (a) {
        DOMNode* parent = internal::parent(a);
        if (DOMNode* previous = internal::previousSibling(a)) {
            ancestor_ = a;
            ancestorParent_ = parent;
            return deepestLast(previous);
        }
        a = parent;
    }
    return nullptr;
}

void PrecedingAxis::begin(DOMNode* contextNode) { current_ = climb(contextNode); }

DOMNode* PrecedingAxis::next() {
    DOMNode* n = current_;
    if (DOMNode* previous = internal::previousSibling(n)) {
        current_ = deepestLast(previous);
    } else {
        // The parent precedes n, unless it is an ancestor of the context node.
        DOMNode* parent = internal::parent(n);
        current_ = parent == ancestorParent_ ? climb(parent) : parent;
    }
    return n;
}

void PrecedingAxis::print(std::ostream& out) const { out << "preceding"; }

AttributeAxis::AttributeAxis(bool attributes)
    : Axis(attributes ? ATTRIBUTE : NAMESPACE),
      attributes_(attributes),
      current_(nullptr),
      index_(0),
      length_(0),
      map_(nullptr) {}

AttributeAxis::~AttributeAxis() {}

void AttributeAxis::begin(DOMNode* contextNode) {
    map_ = contextNode->getNodeType() == DOMNode::ELEMENT_NODE ? contextNode->getAttributes()
                                                               : nullptr;
    length_ = map_ ? map_->getLength() : 0;
    index_ = 0;
    find();
}

void AttributeAxis::find() {
    const internal::AttributeKind wanted =
        attributes_ ? internal::ORDINARY_ATTRIBUTE : internal::NAMESPACE_DECLARATION;
    for (; index_ < length_; ++index_) {
        DOMNode* a = map_->item(index_);
        if (internal::attributeKind(a) == wanted) {
            current_ = a;
            return;
        }
    }
    current_ = nullptr;
}

DOMNode* AttributeAxis::next() {
    DOMNode* n = current_;
    ++index_;
    find();
    return n;
}

void AttributeAxis::print(std::ostream& out) const {
    out << (attributes_ ? "attribute" : "namespace");
}

FilterAxis::FilterAxis() : Axis(ELEMENT), pending_(false), ordered_(nullptr) {}

FilterAxis::~FilterAxis() { delete ordered_; }

void FilterAxis::setSource(XPath::Iterator* contexts) {
    OwnedIterator source(contexts);
    pending_ = false;
    delete ordered_;
    ordered_ = nullptr;
    ordered_ = new OrderedIterator(contexts);
    ordered_->size();  // reads the source to its end
    pending_ = true;
}

bool FilterAxis::advance() {
    const bool pending = pending_;
    pending_ = false;
    return pending;
}

unsigned int FilterAxis::knownSize() { return ordered_->size(); }

bool FilterAxis::hasNext() { return ordered_ && ordered_->hasNext(); }

DOMNode* FilterAxis::next() { return ordered_->next(); }

void FilterAxis::print(std::ostream& out) const { out << "<filter>"; }

// ---------------------------------------------------------------------------------------------
// Node tests

Step::Test::~Test() {}

void Step::Test::prepare(Axis::PrincipalType, const XPath::BindingMap&) {}

NodeTypeTest::NodeTypeTest(Kind kind, XMLCh* literal) : kind_(kind), literal_(literal) {}

NodeTypeTest::~NodeTypeTest() {
    if (literal_) utfree(literal_);
}

NodeTypeTest* NodeTypeTest::create(const XMLCh* name, XMLCh* literal) {
    internal::OwnedString adopted(literal);
    Kind kind;
    if (StringUtil::eq(name, u"processing-instruction")) {
        kind = PROCESSING_INSTRUCTION;
    } else if (literal) {
        return nullptr;
    } else if (StringUtil::eq(name, u"comment")) {
        kind = COMMENT;
    } else if (StringUtil::eq(name, u"node")) {
        kind = NODE;
    } else if (StringUtil::eq(name, u"text")) {
        kind = TEXT;
    } else {
        return nullptr;
    }
    NodeTypeTest* test = new NodeTypeTest(kind, adopted.get());
    adopted.release();
    return test;
}

bool NodeTypeTest::matches(DOMNode* node) {
    switch (kind_) {
        case COMMENT:
            return node->getNodeType() == DOMNode::COMMENT_NODE;
        case NODE:
            return true;
        case PROCESSING_INSTRUCTION:
            return node->getNodeType() == DOMNode::PROCESSING_INSTRUCTION_NODE &&
                   (!literal_ || StringUtil::eq(node->getNodeName(), literal_));
        case TEXT:
            return node->getNodeType() == DOMNode::TEXT_NODE ||
                   node->getNodeType() == DOMNode::CDATA_SECTION_NODE;
    }
    return false;
}

void NodeTypeTest::print(std::ostream& out) const {
    static const char* const kNames[] = {"comment()", "node()", "processing-instruction(",
                                         "text()"};
    out << kNames[kind_];
    if (kind_ != PROCESSING_INSTRUCTION) return;
    if (literal_) out << '"' << Format("%S", literal_) << '"';
    out << ')';
}

NameTest::NameTest(const XMLCh* name)
    : prefix_(nullptr),
      localName_(nullptr),
      wildcard_(false),
      namespaceURI_(nullptr),
      principalType_(Step::Axis::ELEMENT),
      nameHit_(nullptr),
      nameMiss_(nullptr),
      uriHit_(nullptr),
      uriMiss_(nullptr),
      kept_(false),
      prepared_(false) {
    const XMLCh* colon = StringUtil::find(name, u':');
    internal::OwnedString prefix(colon ? internal::dupString(name, colon - name) : nullptr);
    localName_ = StringUtil::dup(colon ? colon + 1 : name);
    prefix_ = prefix.release();
    wildcard_ = StringUtil::eq(localName_, u"*");
}

NameTest::~NameTest() {
    if (prefix_) utfree(prefix_);
    utfree(localName_);
}

void NameTest::prepare(Step::Axis::PrincipalType principalType, const XPath::BindingMap& bindings) {
    if (prepared_ && principalType == principalType_) return;
    prepared_ = false;
    principalType_ = principalType;
    nameHit_ = nameMiss_ = uriHit_ = uriMiss_ = nullptr;
    namespaceURI_ = nullptr;
    if (!prefix_) {
        prepared_ = kept_;
        return;
    }
    XPath::BindingMap::iterator it = bindings.find(prefix_);
    if (it == bindings.end()) {
        throw Exception(14, Format("Unbound namespace prefix: %S", prefix_));
    }
    namespaceURI_ = static_cast<const XPath::Namespace*>(it->value)->namespaceURI();
    prepared_ = kept_;
}

// Pooled names make most comparisons one of pointers.
bool NameTest::sameName(const XMLCh* name) {
    if (name == nameHit_) return true;
    if (name == nameMiss_) return false;
    // Names met in turn mostly differ in their first unit.
    if (name[0] != localName_[0]) return false;
    if (!StringUtil::eq(name, localName_)) {
        nameMiss_ = name;
        return false;
    }
    nameHit_ = name;
    return true;
}

bool NameTest::sameNamespace(const XMLCh* uri) {
    if (uri == namespaceURI_) return true;
    if (!uri || !namespaceURI_) return false;
    if (uri == uriHit_) return true;
    if (uri == uriMiss_) return false;
    if (!StringUtil::eq(uri, namespaceURI_)) {
        uriMiss_ = uri;
        return false;
    }
    uriHit_ = uri;
    return true;
}

bool NameTest::matches(DOMNode* node) {
    switch (principalType_) {
        case Step::Axis::NAMESPACE: {
            if (prefix_) return false;
            if (wildcard_) return true;
            const XMLCh* name = node->getNodeName();
            return StringUtil::ncmp(name, u"xmlns:", 6) == 0 &&
                   StringUtil::eq(name + 6, localName_);
        }
        case Step::Axis::ELEMENT:
            if (node->getNodeType() != DOMNode::ELEMENT_NODE) return false;
            break;
        case Step::Axis::ATTRIBUTE:
            break;
    }
    return matchesName(node);
}

// The local name first: it tells most nodes apart.
bool NameTest::matchesName(DOMNode* node) {
    if (wildcard_) return !prefix_ || sameNamespace(node->getNamespaceURI());
    // Nodes made without namespace support have no local name: their name stands for it.
    const XMLCh* local = node->getLocalName();
    return sameName(local ? local : node->getNodeName()) && sameNamespace(node->getNamespaceURI());
}

void NameTest::print(std::ostream& out) const {
    if (prefix_) out << Format("%S", prefix_) << ':';
    out << Format("%S", localName_);
}

// ---------------------------------------------------------------------------------------------
// Step

namespace {
const XPath::BindingMap& noBindings() {
    static const XPath::BindingMap map;
    return map;
}
}  // namespace

namespace {

// What is known of the nodes of one evaluation of a step, from the shape of the path: each comes
// once; they come in document order (and once); none is an ancestor of another; there is at
// most one; document order places every one of them.
enum Shape { DISTINCT = 1, ORDERED = 2, DISJOINT = 4, SINGLE = 8, PLACED = 16 };

// How an axis keeps what is known of its context nodes.
enum AxisClass {
    SAME,
    CHILDREN,
    PARENT,
    LATER_SIBLINGS,
    REVERSE,
    SUBTREE,
    AFTER,
    ATTRIBUTES,
    FILTER
};

int axisClass(const Step::Axis* axis) {
    if (const LinearAxis* l = dynamic_cast<const LinearAxis*>(axis)) {
        switch (l->kind()) {
            case LinearAxis::SELF:
                return SAME;
            case LinearAxis::CHILD:
                return CHILDREN;
            case LinearAxis::PARENT:
                return PARENT;
            case LinearAxis::FOLLOWING_SIBLING:
                return LATER_SIBLINGS;
            default:
                return REVERSE;
        }
    }
    if (const TreeAxis* t = dynamic_cast<const TreeAxis*>(axis)) {
        return t->kind() == TreeAxis::FOLLOWING ? AFTER : SUBTREE;
    }
    if (dynamic_cast<const AttributeAxis*>(axis)) return ATTRIBUTES;
    if (dynamic_cast<const FilterAxis*>(axis)) return FILTER;
    return REVERSE;  // nothing known
}

// The shape of the candidates of an axis of that class from context nodes of shape `source`.
// Each of one node's axes yields distinct nodes, the forward ones in document order; children
// and attributes of distinct nodes are distinct, and those of nodes in document order none of
// which contains another come in document order too; so do the subtrees of such nodes. Nodes
// reached from nodes that document order places are placed as well.
unsigned int shapeAfter(int axisClass, unsigned int source) {
    const unsigned int D = DISTINCT, O = ORDERED, J = DISJOINT, S = SINGLE, P = source & PLACED;
    const bool single = source & S, lined = (source & O) && (source & J);
    switch (axisClass) {
        case SAME:
            return source;
        case CHILDREN:
            if (single || lined) return D | O | J | P;
            if (source & D) return D | (source & J) | P;
            return P;
        case PARENT:
            return single ? D | O | J | S | P : P;
        case LATER_SIBLINGS:
            return single ? D | O | J | P : P;
        case SUBTREE:
            return single || lined ? D | O | P : P;
        case AFTER:
            return single ? D | O | P : P;
        case ATTRIBUTES:
            if (single || (source & O)) return D | O | J | P;
            return source & D ? D | J | P : P;
        case FILTER:
            return D | O | PLACED;
        default:
            return single ? D | P : P;
    }
}

}  // namespace

Step::Step(XPath* context, Axis* axis, Test* test, const std::vector<XPath*>& predicates)
    : XPath(NODE_SET),
      context_(context),
      axis_(axis),
      test_(test),
      shortcut_(nullptr),
      skipped_(nullptr),
      active_(axis),
      primitive_(nullptr),
      inner_(nullptr),
      shortcutPrimitive_(nullptr),
      shortcutInner_(nullptr),
      axisClass_(REVERSE),
      shortcutClass_(REVERSE),
      single_(nullptr),
      singlePending_(false),
      source_(nullptr),
      own_(nullptr),
      tree_(nullptr),
      axisTree_(dynamic_cast<TreeAxis*>(axis)),
      children_(nullptr),
      axisChildren_(nullptr),
      testKind_(testKind(test)),
      attributeOnly_(false),
      containersOnly_(false),
      narrowing_(0),
      shape_(0),
      start_(nullptr),
      lastOnly_(false) {
    struct Adopted {
        Step* step;
        const std::vector<XPath*>* predicates;
        ~Adopted() {
            if (!step) return;
            delete step->shortcut_;
            for (StepIterator::State* s : step->states_) delete s;
            for (XPath* p : *predicates) delete p;
            delete step->axis_;
            delete step->context_;
            delete step->test_;
        }
    } adopted = {this, &predicates};
    states_.reserve(predicates.size());
    constants_.reserve(predicates.size());
    for (std::size_t i = 0; i < predicates.size(); ++i) {
        states_.push_back(nullptr);
        states_.back() = new StepIterator::State(i);
        // A number constant selects one position, found without evaluating it per node.
        Primitive* p = dynamic_cast<Primitive*>(predicates[i]);
        constants_.push_back(p && p->type(noBindings()) == NUMBER
                                 ? p->number(nullptr, 1, noBindings())
                                 : std::numeric_limits<double>::quiet_NaN());
    }
    predicates_ = predicates;
    adopted.predicates = &predicates_;  // which chains may replace (see the end)
    collapse();
    axisClass_ = axisClass(axis_);
    if (axisClass_ != FILTER) {
        primitive_ = dynamic_cast<Primitive*>(context_);
        inner_ = dynamic_cast<Step*>(context_);
    }
    LinearAxis* linear = dynamic_cast<LinearAxis*>(axis_);
    if (linear && linear->kind() == LinearAxis::CHILD) axisChildren_ = linear;
    const AttributeAxis* attributes = dynamic_cast<const AttributeAxis*>(axis_);
    attributeOnly_ = attributes && attributes->principalType() == Axis::ATTRIBUTE &&
                     dynamic_cast<NameTest*>(test_) && predicates_.empty() && primitive_ &&
                     primitive_->relative_ && primitive_->type(noBindings()) == NODE_SET;
    // Only elements and documents have children and attributes.
    if (inner_ && inner_->predicates_.empty() && inner_->axisTree_ &&
        inner_->testKind_ == ANY_NODE && (axisChildren_ || attributes)) {
        inner_->containersOnly_ = true;
    }
    if (predicates_.empty() && inner_) {
        if (axisClass_ == AFTER) narrowing_ = AFTER;
        if (dynamic_cast<PrecedingAxis*>(axis_)) narrowing_ = REVERSE;
    }
    if (axisClass_ == FILTER && predicates_.size() == 1) {
        const FunctionCall* f = dynamic_cast<FunctionCall*>(predicates_[0]);
        const Step* path = dynamic_cast<Step*>(context_);
        lastOnly_ = f && f->arguments_.empty() && StringUtil::eq(f->name_, kLastKey) && path &&
                    path->predicates_.empty();
    }
    if (shortcut_) {
        shortcutClass_ = axisClass(shortcut_);
        shortcutPrimitive_ = dynamic_cast<Primitive*>(skipped_->context_);
        shortcutInner_ = dynamic_cast<Step*>(skipped_->context_);
    }
    // Last, once the predicates have been looked at as they were written. A Budget counts
    // the visits of the steps as written.
    for (XPath*& p : predicates_) keepChains(p, chains_, false);
    for (XPath* p : predicates_) collectPlacements(p);
    adopted.step = nullptr;
}

namespace {

// Whether predicate `p` is true or false by itself, never a number compared with the position:
// a boolean operator, a comparison, a union, a path, or a core function of another type than
// number (rebinding is checked at evaluation).
bool positionFree(const XPath* p) {
    if (const Operator* o = dynamic_cast<const Operator*>(p)) return o->kind() >= Operator::OR;
    if (dynamic_cast<const Step*>(p)) return true;
    return false;
}

}  // namespace

bool Step::seeOnlyTheirNode(const std::vector<XPath*>& predicates,
                            std::vector<const XMLCh*>& calls) {
    calls.clear();
    std::vector<const XPath*> pending;
    for (const XPath* p : predicates) {
        const FunctionCall* f = dynamic_cast<const FunctionCall*>(p);
        if (!positionFree(p) && !(f && f->core_ && f->core_->type() != NUMBER) &&
            !dynamic_cast<const Chain*>(p)) {
            return false;
        }
        pending.push_back(p);
    }
    while (!pending.empty()) {
        const XPath* e = pending.back();
        pending.pop_back();
        if (const Operator* o = dynamic_cast<const Operator*>(e)) {
            if (o->left_) pending.push_back(o->left_);
            pending.push_back(o->right_);
        } else if (const FunctionCall* f = dynamic_cast<const FunctionCall*>(e)) {
            if (StringUtil::eq(f->name_, u"&position") || StringUtil::eq(f->name_, kLastKey)) {
                return false;
            }
            calls.push_back(f->name_);
            for (const XPath* a : f->arguments_) pending.push_back(a);
        } else if (const Step* s = dynamic_cast<const Step*>(e)) {
            pending.push_back(s->context_);
            for (const XPath* p : s->predicates_) pending.push_back(p);
        } else if (const Chain* c = dynamic_cast<const Chain*>(e)) {
            pending.push_back(c->step_);
        } else if (!dynamic_cast<const Primitive*>(e) &&
                   !dynamic_cast<const VariableReference*>(e)) {
            return false;  // an expression of unknown make
        }
    }
    return true;
}

// Only the operands of "and" and "or", the argument of not() and boolean() and the whole are
// read as booleans; elsewhere (comparisons, counts, ...) the step is read on the stack as it is.
void Step::keepChains(XPath*& e, std::vector<XPath*>& chains, bool underBudget) {
    if (Operator* o = dynamic_cast<Operator*>(e)) {
        if (o->kind() == Operator::OR || o->kind() == Operator::AND) {
            keepChains(o->left_, chains, underBudget);
            keepChains(o->right_, chains, underBudget);
        }
        return;
    }
    if (FunctionCall* f = dynamic_cast<FunctionCall*>(e)) {
        if (f->arguments_.size() == 1 &&
            (StringUtil::eq(f->name_, u"&not") || StringUtil::eq(f->name_, u"&boolean"))) {
            keepChains(f->arguments_[0], chains, underBudget);
        }
        return;
    }
    Step* s = dynamic_cast<Step*>(e);
    if (!s) return;
    const Primitive* context = dynamic_cast<const Primitive*>(s->context_);
    const LinearAxis* axis = dynamic_cast<const LinearAxis*>(s->axis_);
    if (!context || !context->relative_ || !axis ||
        (axis->kind() != LinearAxis::ANCESTOR && axis->kind() != LinearAxis::ANCESTOR_OR_SELF)) {
        return;
    }
    std::vector<const XMLCh*> calls;
    if (!seeOnlyTheirNode(s->predicates_, calls)) return;
    chains.reserve(chains.size() + 1);
    chains.push_back(
        new Chain(s, axis->kind() == LinearAxis::ANCESTOR_OR_SELF, calls, underBudget));
    e = chains.back();
}

// The steps and primitives that `e` evaluates with this step's candidates as their context, at
// any depth short of their own predicates: their placed nodes are kept from one candidate to
// the next and forgotten when this step starts, while the document stays the same.
void Step::collectPlacements(XPath* e) {
    if (Operator* o = dynamic_cast<Operator*>(e)) {
        if (o->left_) collectPlacements(o->left_);
        collectPlacements(o->right_);
    } else if (FunctionCall* f = dynamic_cast<FunctionCall*>(e)) {
        for (XPath* a : f->arguments_) collectPlacements(a);
    } else if (Chain* c = dynamic_cast<Chain*>(e)) {
        collectPlacements(c->step_);
    } else if (Step* s = dynamic_cast<Step*>(e)) {
        s->nested_ = true;
        placements_.push_back(&s->placedKnown_);
        collectPlacements(s->context_);
    } else if (Primitive* p = dynamic_cast<Primitive*>(e)) {
        p->nested_ = true;
        placements_.push_back(&p->placedKnown_);
    }
}

void Step::collapse() {
    Step* inner = dynamic_cast<Step*>(context_);
    if (!inner || !inner->predicates_.empty()) return;
    const TreeAxis* walk = dynamic_cast<const TreeAxis*>(inner->axis_);
    const NodeTypeTest* any = dynamic_cast<const NodeTypeTest*>(inner->test_);
    if (!walk || walk->kind() != TreeAxis::DESCENDANT_OR_SELF || !any || !any->anyNode()) return;
    const LinearAxis* own = dynamic_cast<const LinearAxis*>(axis_);
    if (!own) return;
    if (own->kind() == LinearAxis::SELF) {
        const NodeTypeTest* self = dynamic_cast<const NodeTypeTest*>(test_);
        if (!self || !self->anyNode() || !predicates_.empty()) return;
    } else if (own->kind() != LinearAxis::CHILD) {
        return;
    }
    // A candidate of the walk stands at position N among the nodes of its parent's child step
    // when N - 1 of its previous siblings pass the test, last when none of the next ones does;
    // the siblings read back are at most N times the nodes, so N stays small.
    int siblingPosition = 0;
    if (own->kind() == LinearAxis::CHILD && !predicates_.empty()) {
        const double n = constants_[0];
        const FunctionCall* f = dynamic_cast<const FunctionCall*>(predicates_[0]);
        if (n >= 1 && n <= 16 && n == std::floor(n)) siblingPosition = static_cast<int>(n);
        if (f && f->arguments_.empty() && StringUtil::eq(f->name_, kLastKey)) siblingPosition = -1;
    }
    // Else position() and last() rule the walk out; the functions the predicates call must not
    // be rebound when it is taken.
    std::vector<const XMLCh*> calls;
    const std::vector<XPath*> rest(predicates_.begin() + (siblingPosition ? 1 : 0),
                                   predicates_.end());
    if (!seeOnlyTheirNode(rest, calls)) return;
    siblingPosition_ = siblingPosition;
    calls_.swap(calls);
    shortcut_ = new TreeAxis(own->kind() == LinearAxis::SELF ? TreeAxis::DESCENDANT_OR_SELF
                                                             : TreeAxis::DESCENDANT);
    skipped_ = inner;
}

// The axis goes first: its context iterator may belong to the context step.
Step::~Step() {
    delete own_;
    delete shortcut_;
    delete axis_;
    delete test_;
    delete context_;
    for (XPath* p : predicates_) delete p;
    for (StepIterator::State* s : states_) delete s;
}

// The budget in force: "#budget" sorts before every prefix, variable and function key, so it is
// the first entry when bound.
const XPath::Budget* internal::budgetOf(const XPath::BindingMap& bindings) {
    if (bindings.empty()) return nullptr;
    XPath::BindingMap::iterator first = bindings.begin();
    if (first->key && first->key[0] > kBudgetKey[0]) return nullptr;
    const int order = first->key ? StringUtil::cmp(first->key, kBudgetKey) : -1;
    if (order == 0) return static_cast<const XPath::Budget*>(first->value);
    if (order > 0) return nullptr;
    XPath::BindingMap::iterator it = bindings.find(kBudgetKey);
    return it == bindings.end() ? nullptr : static_cast<const XPath::Budget*>(it->value);
}

const XPath::Budget* Step::start(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    const Budget* budget = internal::budgetOf(bindings);
    if (containersOnly_) testKind_ = budget ? ANY_NODE : CONTAINER;
    bool rebound = false;
    if (!bindings.empty()) {
        for (const XMLCh* call : calls_) rebound = rebound || bindings.find(call) != bindings.end();
    }
    XPath* context = context_;
    Primitive* primitive = primitive_;
    Step* inner = inner_;
    int axisClass = axisClass_;
    active_ = axis_;
    tree_ = axisTree_;
    children_ = axisChildren_;
    if (shortcut_ && !budget && !rebound && context_ == skipped_) {
        active_ = shortcut_;
        tree_ = static_cast<TreeAxis*>(shortcut_);
        children_ = nullptr;
        context = skipped_->context_;
        primitive = shortcutPrimitive_;
        inner = shortcutInner_;
        axisClass = shortcutClass_;
    }
    bySiblings_ = siblingPosition_ && active_ == shortcut_;
    singlePending_ = false;
    source_ = nullptr;
    unsigned int source = 0;
    start_ = nullptr;
    if (primitive && context == primitive && primitive->type(bindings) == NODE_SET) {
        single_ = primitive->relative_ ? node : DOMUtil::getOwnerDocument(node);
        active_->setSource(nullptr);
        singlePending_ = true;
        start_ = single_;
        source = DISTINCT | ORDERED | DISJOINT | SINGLE;
        if (single_ && single_->getNodeType() == DOMNode::DOCUMENT_NODE) source |= PLACED;
    } else if (inner && context == inner) {
        StepIterator* nodes = inner->restart(node, position, bindings);
        active_->setSource(nullptr);
        source_ = nodes;
        source = nodes->shape_;
        start_ = nodes->start_;
        if (narrowing_ && !budget && !(source & SINGLE)) source = narrow(source);
    } else if (lastOnly_ && !budget) {
        active_->setSource(lastOfPath(node, position, bindings));
    } else {
        active_->setSource(context->nodeSet(node, position, bindings));
    }
    shape_ = shapeAfter(axisClass, source);
    if (axisClass == FILTER) start_ = nullptr;
    test_->prepare(active_->principalType(), bindings);
    for (StepIterator::State* s : states_) {
        s->bind(bindings);
        s->typed_ = false;
    }
    for (XPath* c : chains_) static_cast<Chain*>(c)->reset(bindings);
    if (!nested_) placedKnown_ = nullptr;
    for (DOMNode** known : placements_) *known = nullptr;
    buffer_.clear();
    return budget;
}

namespace {

// The last node of root's subtree (root itself too when `orSelf`) in document order that passes
// the test, or null. The walk goes backwards from the subtree's last node: before a node come
// its previous sibling's last descendant or, for a first child, its parent.
DOMNode* lastInSubtree(DOMNode* root, bool orSelf, Step::Test* test, int kind) {
    for (DOMNode* n = deepestLast(root); n != root;) {
        if (passes(test, kind, n, n->getNodeType())) return n;
        DOMNode* previous = internal::previousSibling(n);
        n = previous ? deepestLast(previous) : internal::parent(n);
    }
    return orSelf && passes(test, kind, root, root->getNodeType()) ? root : nullptr;
}

}  // namespace

XPath::Iterator* Step::lastOfPath(DOMNode* node, unsigned int position,
                                  const BindingMap& bindings) {
    Step* path = static_cast<Step*>(context_);
    const Budget* budget = path->start(node, position, bindings);
    TreeAxis* tree = path->tree_;
    if (!path->singlePending_ || !path->single_ || !tree || tree->kind() == TreeAxis::FOLLOWING) {
        return new StepIterator(path, budget);
    }
    DOMNode* last = lastInSubtree(path->single_, tree->kind() == TreeAxis::DESCENDANT_OR_SELF,
                                  path->test_, path->testKind_);
    return last ? new BasicIterator(last) : new BasicIterator(std::vector<DOMNode*>());
}

bool Step::atSiblingPosition(DOMNode* node) {
    if (siblingPosition_ < 0) {
        for (DOMNode* s = internal::nextSibling(node); s; s = internal::nextSibling(s)) {
            if (passes(test_, testKind_, s, s->getNodeType())) return false;
        }
        return true;
    }
    int before = 0;
    for (DOMNode* s = internal::previousSibling(node); s; s = internal::previousSibling(s)) {
        if (passes(test_, testKind_, s, s->getNodeType()) && ++before == siblingPosition_) {
            return false;
        }
    }
    return before == siblingPosition_ - 1;
}

int Step::someAttributeEquals(DOMNode* node, const BindingMap& bindings, const XMLCh* text,
                              bool equal) {
    if (!attributeOnly_ || internal::budgetOf(bindings)) return -1;
    test_->prepare(Axis::ATTRIBUTE, bindings);
    if (node->getNodeType() != DOMNode::ELEMENT_NODE) return 0;
    xercesc::DOMNamedNodeMap* map = node->getAttributes();
    const XMLSize_t length = map ? map->getLength() : 0;
    for (XMLSize_t i = 0; i < length; ++i) {
        DOMNode* a = map->item(i);
        // The name first: it rules out nearly every attribute.
        if (!test_->matches(a) || internal::attributeKind(a) != internal::ORDINARY_ATTRIBUTE) {
            continue;
        }
        if (StringUtil::eq(internal::attributeValue(a), text) == equal) return 1;
    }
    return 0;
}

// The preceding nodes of the last context node in document order hold those of every other: a
// node before an earlier one that is not its ancestor ends before it, so is no ancestor of the
// last one either. The following nodes of the context node whose subtree ends first hold those
// of every other: the first in document order, or the first of its descendants among them,
// and so on down. Attributes, whose axes are taken from their element, nodes of several
// documents and nodes that document order cannot place are read as they are.
unsigned int Step::narrow(unsigned int source) {
    contexts_.clear();
    internal::readAll(source_, contexts_);
    source_ = nullptr;
    DOMNode* document = contexts_.empty() ? nullptr : DOMUtil::getOwnerDocument(contexts_[0]);
    bool plain = true;
    for (DOMNode* n : contexts_) {
        plain = plain && n->getNodeType() != DOMNode::ATTRIBUTE_NODE &&
                DOMUtil::getOwnerDocument(n) == document && internal::placed(n);
    }
    if (!plain) {
        active_->setSource(new BasicIterator(contexts_));
        return source;
    }
    ordered_ = contexts_;
    internal::documentOrder(ordered_);
    if (ordered_.empty()) return source;
    DOMNode* chosen = ordered_.back();
    if (narrowing_ == AFTER) {
        chosen = ordered_[0];
        for (std::size_t i = 1; i < ordered_.size(); ++i) {
            DOMNode* p = internal::parent(ordered_[i]);
            while (p && p != chosen) p = internal::parent(p);
            if (!p) break;
            chosen = ordered_[i];
        }
    }
    single_ = chosen;
    singlePending_ = true;
    return DISTINCT | ORDERED | DISJOINT | SINGLE | PLACED;
}

StepIterator* Step::restart(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    const Budget* budget = start(node, position, bindings);
    if (own_) {
        own_->reset(budget);
    } else {
        own_ = new StepIterator(this, budget);
    }
    return own_;
}

XPath::Iterator* Step::nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    const Budget* budget = start(node, position, bindings);
    return new StepIterator(this, budget);
}

bool Step::boolean(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    internal::NodeStream nodes(this, node, position, bindings);
    return nodes.get()->hasNext();
}

double Step::number(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    internal::NodeStream nodes(this, node, position, bindings);
    return XPathUtil::number(internal::firstInOrder(nodes.get()));
}

XMLCh* Step::string(DOMNode* node, unsigned int position, const BindingMap& bindings) {
    internal::NodeStream nodes(this, node, position, bindings);
    return XPathUtil::string(internal::firstInOrder(nodes.get()));
}

void Step::print(std::ostream& out) const {
    out << context_ << '/';
    axis_->print(out);
    out << "::";
    test_->print(out);
    for (const XPath* p : predicates_) out << '[' << p << ']';
}

// ---------------------------------------------------------------------------------------------
// StepIterator

StepIterator::State::State(std::size_t level)
    : Function(XPath::NUMBER), level_(level), position_(0), owner_(nullptr) {}

StepIterator::State::~State() {}

double StepIterator::State::number(const std::vector<XPath*>& args, DOMNode*, unsigned int,
                                   const XPath::BindingMap&) const {
    if (!args.empty()) throw Exception(14, "Invalid arguments to: last()");
    return owner_->last(level_);
}

void StepIterator::State::bind(const XPath::BindingMap& outer) {
    // The copy holds the same keys and bindings as the outer map, and "&last" bound to this.
    typedef XPath::BindingMap::iterator It;
    It a = outer.begin(), b = bindings_.begin();
    bool same = false;
    // Keys are compared with "&last" only past their first unit, nearly always another.
    const auto isLast = [](const XMLCh* key) {
        return key && key[0] == kLastKey[0] && StringUtil::eq(key, kLastKey);
    };
    for (;;) {
        if (a != outer.end() && isLast(a->key)) ++a;
        if (b != bindings_.end() && isLast(b->key)) {
            if (b->value != this) break;
            same = true;
            ++b;
        }
        if (a == outer.end() || b == bindings_.end()) {
            same = same && a == outer.end() && b == bindings_.end();
            break;
        }
        if (a->key != b->key || a->value != b->value) {
            same = false;
            break;
        }
        ++a;
        ++b;
    }
    if (same) return;
    bindings_.clear();
    try {
        bindings_ = outer;
        bindings_[kLastKey] = this;
    } catch (...) {
        bindings_.clear();
        throw;
    }
}

StepIterator::StepIterator(Step* step, const XPath::Budget* budget) : step_(step) { reset(budget); }

void StepIterator::reset(const XPath::Budget* budget) {
    budget_ = budget;
    looked_ = started_ = exhausted_ = false;
    lookahead_ = nullptr;
    lastLevel_ = 0;
    lastValue_ = 0;
    cursor_ = 0;
    shape_ = step_->shape_;
    start_ = step_->start_;
    for (State* s : step_->states_) s->owner_ = this;
}

// The step's axis, test and states are its own; nothing to release here.
StepIterator::~StepIterator() {}

bool StepIterator::distinct() const { return (shape_ & DISTINCT) != 0; }

bool StepIterator::ordered() const {
    if (!(shape_ & ORDERED)) return false;
    return (shape_ & PLACED) || (start_ && internal::placed(start_, step_->placedKnown_));
}

bool StepIterator::hasNext() {
    if (!looked_) look();
    return lookahead_ != nullptr;
}

DOMNode* StepIterator::next() {
    if (!looked_) look();
    looked_ = false;
    return lookahead_;
}

bool StepIterator::advance() {
    started_ = true;
    Step& step = *step_;
    for (;;) {
        if (step.singlePending_) {
            step.singlePending_ = false;
            step.active_->begin(step.single_);
        } else if (step.source_) {
            if (!step.source_->hasNext()) return false;
            step.active_->begin(step.source_->next());
        } else if (!step.active_->advance()) {
            return false;
        }
        if (budget_) budget_->visit();
        // A context node without candidates (no children, descendants or attributes) is passed
        // over at once.
        if (step.tree_       ? step.tree_->current_ != nullptr
            : step.children_ ? step.children_->current_ != nullptr
                             : step.active_->hasNext()) {
            break;
        }
    }
    for (State* s : step_->states_) s->position_ = 1;
    lastLevel_ = 0;
    lastValue_ = step_->active_->knownSize();
    step_->buffer_.clear();
    cursor_ = 0;
    exhausted_ = false;
    return true;
}

// Without predicates, every candidate of a tree or child walk is a node of the step: they are
// counted as the walk finds them, without a look-ahead per node.
unsigned int StepIterator::count() {
    unsigned int n = 0;
    if (looked_) {
        if (!lookahead_) return 0;  // at the end
        looked_ = false;
        ++n;
    }
    if (!step_->states_.empty() || !(step_->tree_ || step_->children_)) {
        for (; hasNext(); next()) ++n;
        return n;
    }
    if (started_ || advance()) {
        do {
            while (candidate()) ++n;
        } while (advance());
    }
    looked_ = true;  // exhausted
    lookahead_ = nullptr;
    return n;
}

// The next candidate of the current context node: read ahead for last(), or from the axis.
DOMNode* StepIterator::candidate() {
    std::vector<DOMNode*>& buffer = step_->buffer_;
    if (cursor_ < buffer.size()) return buffer[cursor_++];
    if (step_->tree_) return step_->tree_->find(step_->test_, step_->testKind_, budget_);
    if (step_->children_) {
        return step_->children_->findChild(step_->test_, step_->testKind_, budget_);
    }
    Step::Axis* axis = step_->active_;
    Step::Test* test = step_->test_;
    while (axis->hasNext()) {
        DOMNode* n = axis->next();
        if (budget_) budget_->visit();
        if (test->matches(n)) return n;
    }
    return nullptr;
}

// Predicate `level` with the next position of its level.
bool StepIterator::passes(DOMNode* node, std::size_t level) {
    if (level == 0 && step_->bySiblings_) return step_->atSiblingPosition(node);
    State& state = *step_->states_[level];
    const unsigned int p = state.position_++;
    const double constant = step_->constants_[level];
    if (!std::isnan(constant)) return p == constant;
    XPath* predicate = step_->predicates_[level];
    if (!state.typed_) {
        state.type_ = predicate->type(state.bindings_);
        state.typed_ = true;
    }
    if (state.type_ == XPath::NUMBER) {
        return predicate->number(node, p, state.bindings_) == p;
    }
    return predicate->boolean(node, p, state.bindings_);
}

void StepIterator::look() {
    looked_ = true;
    lookahead_ = nullptr;
    const std::size_t levels = step_->states_.size();
    for (;;) {
        // Once the first level still applied is a constant position that has been passed, no
        // further candidate of this context node can pass.
        if (started_ && lastLevel_ < levels) {
            const double constant = step_->constants_[lastLevel_];
            if (step_->states_[lastLevel_]->position_ > constant) exhausted_ = true;
        }
        DOMNode* c = started_ && !exhausted_ ? candidate() : nullptr;
        if (!c) {
            if (!advance()) return;
            continue;
        }
        std::size_t level = lastLevel_;
        while (level < levels && passes(c, level)) ++level;
        if (level == levels) {
            lookahead_ = c;
            return;
        }
    }
}

// last() of predicate `level`: the remaining candidates are read ahead once and filtered level
// by level up to `level`, so that the axis is walked only once per context node.
double StepIterator::last(std::size_t level) {
    std::vector<DOMNode*>& buffer = step_->buffer_;
    while (lastLevel_ < level || lastValue_ == 0) {
        // The remaining candidates: those read ahead, then the axis's (a filter knows its size
        // before reading any).
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(cursor_));
        cursor_ = 0;
        Step::Axis* axis = step_->active_;
        Step::Test* test = step_->test_;
        if (TreeAxis* tree = step_->tree_) {
            while (DOMNode* n = tree->find(test, step_->testKind_, budget_)) buffer.push_back(n);
        }
        if (LinearAxis* children = step_->children_) {
            while (DOMNode* n = children->findChild(test, step_->testKind_, budget_)) {
                buffer.push_back(n);
            }
        }
        while (axis->hasNext()) {
            DOMNode* n = axis->next();
            if (budget_) budget_->visit();
            if (test->matches(n)) buffer.push_back(n);
        }
        if (lastValue_ != 0) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < buffer.size(); ++i) {
                if (passes(buffer[i], lastLevel_)) buffer[kept++] = buffer[i];
            }
            buffer.resize(kept);
            ++lastLevel_;
        }
        lastValue_ =
            static_cast<unsigned int>(buffer.size()) + step_->states_[lastLevel_]->position_ - 1;
    }
    return lastValue_;
}

}  // namespace XML
}  // namespace Ambrite
