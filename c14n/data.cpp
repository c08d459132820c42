#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>

#include <memory>
#include <xercesc/dom/DOMDocument.hpp>

namespace Ambrite {
namespace XML {

Data::~Data() {}

NodeSet* Data::nodeSet() {
    std::unique_ptr<OctetSource> source(octetStream());
    std::unique_ptr<DOMDocument, DocumentRelease> document(DOMUtil::parse(source.get()));
    // The count starts with a share of its own, so that however the node set's construction
    // fails (before or after it takes its share), the count and the document are freed once,
    // here.
    std::unique_ptr<DocumentRefCount> count(new DocumentRefCount(document.get(), 1));
    document.release();
    NodeSet* nodeSet = new NodeSet(count->document(), nullptr, count.get(), false);
    count.release()->dec();
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
    // The node set's storage is taken before the filter is handed over, so a failed allocation
    // leaves the clone here.
    std::unique_ptr<NodeSet::Filter> filter(nodeSet_->filter()->clone());
    return new NodeSet(nodeSet_->root(), filter.release(), nodeSet_->refCount(), false);
}

}  // namespace XML
}  // namespace Ambrite
