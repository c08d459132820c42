#include <ambrite/xml/xpointer.h>

#include <ostream>

#include "foundation/internal.h"
#include "xpath/internal.h"
#include "xpointer/internal.h"

namespace Ambrite {
namespace XML {
namespace internal {

XPointerWrapper::XPointerWrapper(XPath* expression) : XPath(NODE_SET), expression_(expression) {}

XPointerWrapper::~XPointerWrapper() { delete expression_; }

XPath::Iterator* XPointerWrapper::nodeSet(DOMNode* node, unsigned int position,
                                          const BindingMap& bindings) {
    return expression_->nodeSet(node, position, bindings);
}

void XPointerWrapper::print(std::ostream& out) const { out << "xpointer(" << expression_ << ')'; }

NamespaceDeclaration::NamespaceDeclaration(const XMLCh* prefix, const XMLCh* uri)
    : XPath(NODE_SET), XPath::Namespace(uri), prefix_(StringUtil::dup(prefix)) {}

NamespaceDeclaration::~NamespaceDeclaration() { utfree(prefix_); }

XPath::Iterator* NamespaceDeclaration::nodeSet(DOMNode*, unsigned int, const BindingMap& bindings) {
    // Only XPointer::locationSet evaluates a declaration, always with its own copy of the map.
    std::unique_ptr<Iterator> empty(new EmptyIterator);
    const_cast<BindingMap&>(bindings)[prefix_] = static_cast<const XPath::Namespace*>(this);
    return empty.release();
}

void NamespaceDeclaration::print(std::ostream& out) const {
    out << "xmlns(" << Format("%S", prefix_) << '=' << Format("%S", namespaceURI()) << ')';
}

FailedIDFunction::FailedIDFunction(const XPath::Function* wrapped)
    : Function(XPath::NODE_SET), wrapped_(wrapped), failedID_(nullptr) {}

FailedIDFunction::~FailedIDFunction() {
    if (failedID_) utfree(failedID_);
}

XPath::Iterator* FailedIDFunction::nodeSet(const std::vector<XPath*>& args, DOMNode* node,
                                           unsigned int position,
                                           const XPath::BindingMap& bindings) const {
    OwnedIterator found(wrapped_->nodeSet(args, node, position, bindings));
    // A replacement id() may take no arguments; there is then nothing to name.
    if (!failedID_ && !args.empty() && !found->hasNext() &&
        args[0]->type(bindings) != XPath::NODE_SET) {
        failedID_ = args[0]->string(node, position, bindings);
    }
    return found.release();
}

EmptyIterator::~EmptyIterator() {}

DOMNode* EmptyIterator::next() { throw Exception(16, "No next node"); }

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite
