// Private to the library: subtree tests over node sets and hash sets.
#ifndef AMBRITE_XML_NODESET_INTERNAL_H
#define AMBRITE_XML_NODESET_INTERNAL_H

#include <ambrite/xml/nodeset.h>

#include "dom/internal.h"

namespace Ambrite {
namespace XML {
namespace internal {

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
