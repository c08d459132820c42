#include <ambrite/xml/nodeset.h>

#include <xercesc/dom/DOMDocument.hpp>

#include <memory>

#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>

namespace Ambrite {
namespace XML {

namespace {

// Storage for a node set taken before its constructor runs, so that a failed allocation leaves
// what would have been adopted with the caller, and a failed construction frees the storage.
class NodeSetStorage {
public:
    NodeSetStorage() : p_(NodeSet::operator new(sizeof(NodeSet))) {}
    ~NodeSetStorage() {
        if (p_) NodeSet::operator delete(p_);
    }
    NodeSetStorage(const NodeSetStorage&) = delete;
    NodeSetStorage& operator=(const NodeSetStorage&) = delete;
    /// The constructor adopts the filter and takes a share of the count, also when it throws.
    NodeSet* construct(DOMNode* root, NodeSet::Filter* filter, RefCount* count) {
        NodeSet* nodeSet = ::new (p_) NodeSet(root, filter, count, false);
        p_ = nullptr;
        return nodeSet;
    }

private:
    void* p_;
};

}  // namespace

Data::~Data() {}

NodeSet* Data::nodeSet() {
    std::unique_ptr<OctetSource> source(octetStream());
    DOMDocument* document = DOMUtil::parse(source.get());
    DocumentRefCount* count;
    try {
        count = new DocumentRefCount(document, 0);
    } catch (...) {
        DocumentRelease()(document);
        throw;
    }
    // Until the node set holds its share, the count (and with it the document) is freed here.
    NodeSet* nodeSet;
    try {
        NodeSetStorage storage;
        nodeSet = storage.construct(document, nullptr, count);
    } catch (...) {
        if (*count == 0) delete count;
        throw;
    }
    return nodeSet;
}

void Data::octetStream(OctetSink* sink) {
    if (type() == NODE_SET_DATA) {
        std::unique_ptr<NodeSet> nodes(nodeSet());
        C14n::DOMCanonicalizer::canonicalize(nodes.get(), sink, C14n::DOMCanonicalizer::CANONICAL,
                                             nullptr);
        return;
    }
    std::unique_ptr<OctetSource> source(octetStream());
    IO::io(source.get(), sink, 4096);
}

OctetSource* Data::octetStream() {
    std::unique_ptr<OctetSinkSource> pipe(new OctetSinkSource(4096));
    octetStream(static_cast<OctetSink*>(pipe.get()));
    return pipe.release();
}

NodeSetData::NodeSetData(NodeSet* nodeSet) : Data(NODE_SET_DATA), nodeSet_(nodeSet) {}

NodeSetData::~NodeSetData() { delete nodeSet_; }

NodeSet* NodeSetData::nodeSet() {
    std::unique_ptr<NodeSet::Filter> filter(nodeSet_->filter()->clone());
    NodeSetStorage storage;
    return storage.construct(nodeSet_->root(), filter.release(), nodeSet_->refCount());
}

}  // namespace XML
}  // namespace Ambrite
