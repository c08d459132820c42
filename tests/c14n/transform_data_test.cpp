#include <ambrite/xml/nodeset.h>

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

#include <memory>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

// An octet kind that serves fixed bytes through the source form only.
class BytesData : public Data {
public:
    explicit BytesData(const std::string& bytes) : Data(OCTET_DATA), bytes_(bytes) {}
    using Data::octetStream;
    OctetSource* octetStream() override {
        ++sources;
        return new BlockSource(
            new Block(bytes_.data(), static_cast<unsigned int>(bytes_.size()), Block::Copy));
    }
    int sources = 0;

private:
    std::string bytes_;
};

// A sink that fails on its first write.
class FailingSink : public OctetSink {
public:
    void write(const unsigned char*, unsigned int) override { throw Exception(3, "sink full"); }
    void close() override {}
};

std::string octets(Data& data) {
    BufferSink sink;
    data.octetStream(&sink);
    return bytes(sink);
}

}  // namespace

TEST(NodeSetData, OctetsAreTheInclusiveCanonicalFormWithoutComments) {
    DocumentPtr doc = parse("<!--c--><r xmlns:u=\"http://u\" b=\"2\" a=\"1\"><e/></r>");
    NodeSetData data(new NodeSet(doc.get(), nullptr, nullptr, true));
    EXPECT_EQ(Data::NODE_SET_DATA, data.type());
    // The node set handed out is not namespace-expanded, so the declaration is written.
    EXPECT_EQ("<r xmlns:u=\"http://u\" a=\"1\" b=\"2\"><e></e></r>", octets(data));

    std::unique_ptr<OctetSource> source(data.octetStream());
    unsigned char buffer[100];
    unsigned int n = source->read(buffer, sizeof buffer);
    EXPECT_EQ("<r xmlns:u=\"http://u\" a=\"1\" b=\"2\"><e></e></r>",
              std::string(reinterpret_cast<char*>(buffer), n));
}

TEST(NodeSetData, NodeSetsShareTheDocumentUntilTheLastOneGoes) {
    std::unique_ptr<NodeSet> first, second;
    {
        BytesData octetData("<r><e>t</e></r>");
        std::unique_ptr<NodeSet> parsed(octetData.nodeSet());
        EXPECT_EQ(1, octetData.sources);
        ASSERT_EQ(DOMNode::DOCUMENT_NODE, parsed->root()->getNodeType());
        ASSERT_NE(nullptr, parsed->refCount());
        NodeSetData data(parsed.release());
        first.reset(data.nodeSet());
        second.reset(data.nodeSet());
        EXPECT_NE(first->filter(), second->filter());
        EXPECT_EQ(first->refCount(), second->refCount());
        EXPECT_EQ(3u, static_cast<unsigned int>(*first->refCount()));
        EXPECT_FALSE(first->namespaceExpanded());
    }
    first.reset();
    // The data and one node set are gone; the document lives on for the other.
    NodeSetData survivor(second.release());
    EXPECT_EQ("<r><e>t</e></r>", octets(survivor));
}

TEST(Data, OctetKindsParseIntoANodeSetAndCopyThroughToSinks) {
    BytesData data("<r b='2' a='1'><!--c--></r>");
    EXPECT_EQ("<r b='2' a='1'><!--c--></r>", octets(data));
    std::unique_ptr<NodeSet> nodes(data.nodeSet());
    NodeSetData canonical(nodes.release());
    EXPECT_EQ("<r a=\"1\" b=\"2\"></r>", octets(canonical));
}

TEST(Data, FailuresReleaseWhatWasObtained) {
    BytesData malformed("<r>");
    try {
        delete malformed.nodeSet();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(9, e.id());
    }
    DocumentPtr doc = parse("<r/>");
    NodeSetData data(new NodeSet(doc.get(), nullptr, nullptr, false));
    FailingSink sink;
    EXPECT_THROW(data.octetStream(&sink), Exception);
    BytesData octetData("<r/>");
    EXPECT_THROW(octetData.octetStream(&sink), Exception);
}
