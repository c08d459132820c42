#include <ambrite/xml/xpointer.h>

#include <ostream>

#include "xpath/internal.h"
#include "xpointer/internal.h"

namespace Ambrite {
namespace XML {

namespace {

// The key under which id() is bound.
const XMLCh kIdKey[] = u"&id";

}  // namespace

const unsigned long long XPointer::MAX_VISITS;

XPointer::XPointer(XPath* expression) : full_(false) {
    std::unique_ptr<XPath> owned(expression);
    parts_.push_back(expression);
    owned.release();
}

XPointer::XPointer(const std::vector<XPath*>& parts) : parts_(parts), full_(true) {}

XPointer::~XPointer() {
    for (XPath* p : parts_) delete p;
}

XPath::Iterator* XPointer::locationSet(DOMDocument* document, const XPath::BindingMap& bindings) {
    XPath::BindingMap map(bindings);
    XPath::BindingMap::iterator bound = map.find(kIdKey);
    internal::FailedIDFunction id(bound != map.end()
                                      ? static_cast<const XPath::Function*>(bound->value)
                                      : BaseFunction::idFunction());
    map[kIdKey] = &id;
    XPath::Budget budget(MAX_VISITS);
    if (map.find(XPath::Budget::key()) == map.end()) map[XPath::Budget::key()] = &budget;

    if (document) {
        for (XPath* part : parts_) {
            internal::OwnedIterator it(part->nodeSet(document, 1, map));
            if (!it->hasNext()) continue;
            // The iterator may still evaluate predicates, with this map and this id(); its
            // nodes are taken now, while both live.
            std::vector<DOMNode*> nodes;
            internal::readAll(it.get(), nodes);
            return new BasicIterator(nodes);
        }
    }
    if (id.failedID()) {
        throw Exception(16, Format("XPointer evaluated to empty set: Failed to resolve ID `%S'",
                                   id.failedID()));
    }
    throw Exception(16, "XPointer evaluated to empty set");
}

std::ostream& operator<<(std::ostream& out, const XPointer* pointer) {
    for (std::size_t i = 0; i < pointer->parts_.size(); ++i) {
        if (i) out << ' ';
        out << pointer->parts_[i];
    }
    return out;
}

}  // namespace XML
}  // namespace Ambrite
