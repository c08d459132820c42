// Parent links and subtree tests shared by the node-set sources.
#ifndef AMBRITE_XML_NODESET_TREE_H
#define AMBRITE_XML_NODESET_TREE_H

#include <ambrite/xml/nodeset.h>

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

namespace Ambrite {
namespace XML {
namespace internal {

/// The owner element of an attribute, otherwise the DOM parent; null at the top.
inline DOMNode* parentOf(DOMNode* n) {
    if (n->getNodeType() == DOMNode::ATTRIBUTE_NODE)
        return static_cast<xercesc::DOMAttr*>(n)->getOwnerElement();
    return n->getParentNode();
}

/// Whether n is apex or lies below it (an attribute through its owner element).
inline bool within(DOMNode* n, const DOMNode* apex) {
    for (; n; n = parentOf(n)) {
        if (n == apex) return true;
    }
    return false;
}

/// Whether n is a member of apexes or lies below one (an attribute through its owner element).
inline bool withinAny(DOMNode* n, const NodeHashSet& apexes) {
    for (; n; n = parentOf(n)) {
        if (apexes.contains(n)) return true;
    }
    return false;
}

/// Calls f on every member in iteration order. The set is only read; begin() merely lacks a
/// const overload.
template <class F>
void forEach(const NodeHashSet& set, F f) {
    NodeHashSet& s = const_cast<NodeHashSet&>(set);
    for (NodeHashSet::iterator it = s.begin(), end = s.end(); it != end; ++it) f(*it);
}

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite

#endif
