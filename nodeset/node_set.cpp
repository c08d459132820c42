#include <ambrite/xml/nodeset.h>

#include <memory>

#include "nodeset/internal.h"

namespace Ambrite {
namespace XML {

namespace {

void releaseShare(RefCount* refCount) {
    if (refCount && static_cast<unsigned int>(refCount->dec()) == 0) delete refCount;
}

}  // namespace

NodeSet::NodeSet(DOMNode* root, Filter* filter, RefCount* refCount, bool namespaceExpanded)
    : root_(root), filter_(filter), refCount_(refCount), namespaceExpanded_(namespaceExpanded) {
    if (refCount_) refCount_->inc();
    if (!filter_) {
        try {
            filter_ = new ConstantFilter(true);
        } catch (...) {
            // The caller handed over its share: drop it as the destructor would.
            releaseShare(refCount_);
            throw;
        }
    }
}

NodeSet::~NodeSet() {
    delete filter_;
    releaseShare(refCount_);
}

bool NodeSet::contains(DOMNode* node) const {
    return node && internal::within(node, root_) && filter_->accept(node);
}

NodeSet* NodeSet::clone() const {
    std::unique_ptr<Filter> filter(filter_->clone());
    return new NodeSet(root_, filter.release(), refCount_, namespaceExpanded_);
}

}  // namespace XML
}  // namespace Ambrite
