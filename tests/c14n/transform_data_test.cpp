#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

std::string octets(Data& data) {
    BufferSink sink;
    data.octetStream(&sink);
    return bytes(sink);
}

}  // namespace

// Octet data copies its bytes through to sinks and parses into a node set whose document lives
// until the last node set taken from it goes.
TEST(NodeSetData, NodeSetsShareTheDocumentUntilTheLastOneGoes) {
    std::unique_ptr<NodeSet> first, second;
    {
        OctetData octetData("<r b='2' a='1'><e>t</e></r>");
        EXPECT_EQ("<r b='2' a='1'><e>t</e></r>", octets(octetData));
        NodeSetData data(octetData.nodeSet());
        EXPECT_EQ(2, octetData.sources);
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
    EXPECT_EQ("<r a=\"1\" b=\"2\"><e>t</e></r>", octets(survivor));
}
