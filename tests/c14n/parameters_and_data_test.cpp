#include "nodeset/trees.h"

using namespace nodeset_test;
using Ambrite::XML::C14n::CanonicalizerParameters;

namespace {

// A node set whose filter reports its destruction.
NodeSet* observed(DOMNode* root, int* destroyed) {
    return new NodeSet(root, new Probe(true, nullptr, destroyed), nullptr, false);
}

// The replacement recorded for a node, null when there is none.
const NodeSet* recorded(const CanonicalizerParameters& p, DOMNode* node) {
    auto it = p.replacementNodeSets().find(node);
    return it == p.replacementNodeSets().end() ? nullptr : it->value;
}

}  // namespace

// A replaced, removed or orphaned node set is destroyed at once; the one in place is kept.
TEST(CanonicalizerParameters, DestroysEveryNodeSetItDropsAtOnce) {
    Small n;
    int first = 0, second = 0, orphan = 0;
    CanonicalizerParameters p;
    p.replacementNodeSet(n.a, observed(n.b, &first));
    p.replacementNodeSet(n.b, observed(n.a, nullptr));
    NodeSet* replacement = observed(n.b, &second);
    p.replacementNodeSet(n.a, replacement);
    p.replacementNodeSet(n.a, replacement);
    p.replacementNodeSet(nullptr, observed(n.a, &orphan));
    EXPECT_EQ(std::make_tuple(1, 0, 1), std::make_tuple(first, second, orphan));
    EXPECT_EQ(replacement, recorded(p, n.a));
    p.replacementNodeSet(n.a, nullptr);
    EXPECT_EQ(1, second);
    EXPECT_EQ(nullptr, recorded(p, n.a));
    EXPECT_EQ(1u, p.replacementNodeSets().size());
}

// Copies, clones and assignments own node sets and prefixes of their own.
TEST(CanonicalizerParameters, CopiesAreIndependent) {
    Small n;
    int sourceSets = 0, assignedSets = 0;
    std::unique_ptr<CanonicalizerParameters> source(new CanonicalizerParameters());
    source->emitNullApexXMLNS(true);
    source->replacementNodeSet(n.a, observed(n.b, &sourceSets));
    XMLCh buffer[] = u"p";
    for (const XMLCh* prefix :
         std::initializer_list<const XMLCh*>{buffer, u"a", nullptr, u"p", nullptr, u""}) {
        source->unsuppressedNamespacePrefix(prefix);
    }
    buffer[0] = u'q';  // the prefix was copied
    std::unique_ptr<CanonicalizerParameters> clone(source->clone());
    CanonicalizerParameters copy(*source), assigned;
    assigned.replacementNodeSet(n.b, observed(n.a, &assignedSets));
    assigned.unsuppressedNamespacePrefix(u"old");
    assigned = *source;
    EXPECT_EQ(1, assignedSets);
    assigned = assigned;
    for (CanonicalizerParameters* p : {source.get(), clone.get(), &copy, &assigned}) {
        EXPECT_TRUE(p->emitNullApexXMLNS());
        EXPECT_EQ(1u, p->replacementNodeSets().size());
        EXPECT_EQ(n.b, recorded(*p, n.a)->root());
        EXPECT_TRUE(p == source.get() || recorded(*source, n.a) != recorded(*p, n.a));
        std::vector<std::u16string> prefixes;
        for (const XMLCh* s : p->unsuppressedNamespacePrefixes()) prefixes.push_back(u16(s));
        EXPECT_EQ((std::vector<std::u16string>{u"<null>", u"", u"a", u"p"}), prefixes);
    }
    source.reset();
    EXPECT_EQ(1, sourceSets);
    EXPECT_TRUE(recorded(*clone, n.a)->contains(n.b1));
    EXPECT_EQ(u"p", u16(*clone->unsuppressedNamespacePrefixes().find(u"p")));
    clone.reset();
    EXPECT_EQ(2, sourceSets);
}

// Octet data parses into a node set whose document lives until the last node set taken from it
// goes. That it copies its bytes through to sinks:
// AllocationFailure.ParametersSubsetsAndTransformData.
TEST(NodeSetData, NodeSetsShareTheDocumentUntilTheLastOneGoes) {
    std::unique_ptr<NodeSet> first, second;
    {
        OctetData octetData("<r b='2' a='1'><e>t</e></r>");
        NodeSetData data(octetData.nodeSet());
        EXPECT_EQ(1, octetData.sources);
        first.reset(data.nodeSet());
        second.reset(data.nodeSet());
        EXPECT_EQ(DOMNode::DOCUMENT_NODE, first->root()->getNodeType());
        EXPECT_NE(first->filter(), second->filter());
        ASSERT_NE(nullptr, first->refCount());
        EXPECT_EQ(first->refCount(), second->refCount());
        EXPECT_EQ(3u, static_cast<unsigned int>(*first->refCount()));
        EXPECT_FALSE(first->namespaceExpanded());
    }
    first.reset();
    // The data and one node set are gone; the document lives on for the other.
    NodeSetData survivor(second.release());
    BufferSink sink;
    survivor.octetStream(&sink);
    EXPECT_EQ("<r a=\"1\" b=\"2\"><e>t</e></r>", bytes(sink));
}
