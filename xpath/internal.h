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
}  // namespace XML
}  // namespace Ambrite

#endif
