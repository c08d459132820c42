#include <ambrite/xml/c14n.h>

#include <memory>

namespace Ambrite {
namespace XML {

// The replacement map is part of the library's interface.
template class MySet<MyPair<DOMNode*, const NodeSet*>,
                     KeyComparator<MyPair<DOMNode*, const NodeSet*>, BasicComparator<DOMNode*>>>;
template class MyMap<DOMNode*, const NodeSet*, BasicComparator<DOMNode*>>;

namespace C14n {

CanonicalizerParameters::CanonicalizerParameters() : emitNullApexXMLNS_(false) {}

CanonicalizerParameters::CanonicalizerParameters(const CanonicalizerParameters& other)
    : emitNullApexXMLNS_(false) {
    try {
        copyFrom(other);
    } catch (...) {
        clear();
        throw;
    }
}

CanonicalizerParameters& CanonicalizerParameters::operator=(const CanonicalizerParameters& other) {
    if (this != &other) {
        clear();
        copyFrom(other);
    }
    return *this;
}

CanonicalizerParameters::~CanonicalizerParameters() { clear(); }

void CanonicalizerParameters::replacementNodeSet(DOMNode* node, NodeSet* nodeSet) {
    std::unique_ptr<NodeSet> adopted(nodeSet);
    if (!node) return;
    ReplacementMap::iterator it = replacementNodeSets_.find(node);
    if (it != replacementNodeSets_.end()) {
        const NodeSet* previous = it->value;
        // Recording the node set already in place must not destroy it.
        if (previous == nodeSet) {
            adopted.release();
            return;
        }
        if (adopted)
            it->value = adopted.release();
        else
            replacementNodeSets_.erase(it);
        delete previous;
        return;
    }
    if (adopted) {
        replacementNodeSets_[node] = adopted.get();
        adopted.release();
    }
}

void CanonicalizerParameters::unsuppressedNamespacePrefix(const XMLCh* prefix) {
    if (unsuppressedNamespacePrefixes_.find(prefix) != unsuppressedNamespacePrefixes_.end()) {
        return;
    }
    std::unique_ptr<XMLCh, AMXMLDelete> copy(StringUtil::dup(prefix));
    unsuppressedNamespacePrefixes_.insert(copy.get());
    copy.release();
}

CanonicalizerParameters* CanonicalizerParameters::clone() const {
    std::unique_ptr<CanonicalizerParameters> copy(new CanonicalizerParameters());
    copy->copyFrom(*this);
    return copy.release();
}

void CanonicalizerParameters::clear() {
    for (ReplacementMap::iterator it = replacementNodeSets_.begin();
         it != replacementNodeSets_.end(); ++it) {
        delete it->value;
    }
    replacementNodeSets_.clear();
    for (PrefixSet::iterator it = unsuppressedNamespacePrefixes_.begin();
         it != unsuppressedNamespacePrefixes_.end(); ++it) {
        if (*it) utfree(const_cast<XMLCh*>(*it));
    }
    unsuppressedNamespacePrefixes_.clear();
}

void CanonicalizerParameters::copyFrom(const CanonicalizerParameters& other) {
    emitNullApexXMLNS_ = other.emitNullApexXMLNS_;
    for (ReplacementMap::iterator it = other.replacementNodeSets_.begin();
         it != other.replacementNodeSets_.end(); ++it) {
        replacementNodeSet(it->key, it->value->clone());
    }
    for (PrefixSet::iterator it = other.unsuppressedNamespacePrefixes_.begin();
         it != other.unsuppressedNamespacePrefixes_.end(); ++it) {
        unsuppressedNamespacePrefix(*it);
    }
}

}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite
