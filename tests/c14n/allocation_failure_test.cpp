// Canonicalization, its parameters and transform data with their first, second, third...
// allocation failing: each run ends in success, Exception 18 or the failure the input itself
// causes, and leaves nothing behind.
#include <ambrite/xml/c14n.h>
#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;
using namespace Ambrite::XML::C14n;

namespace {

const char kDocument[] =
    "<?p d?><!--c--><r xmlns='urn:r' xmlns:p='urn:p' xml:lang='en' b='2' a='1&amp;'>"
    "<p:s Id='x'><a p:x='1'>t&#xD;<!--i--></a><sig><v/></sig><c/></p:s><q/></r>";

DOMElement* element(const DocumentPtr& d, const XMLCh* localName) {
    return static_cast<DOMElement*>(d->getElementsByTagNameNS(u"*", localName)->item(0));
}

void canonicalize(const NodeSet& set, int mode, const CanonicalizerParameters* p, bool octets) {
    const DOMCanonicalizer::Mode m = static_cast<DOMCanonicalizer::Mode>(mode);
    BufferSink bytes;
    RecordingSink characters;
    octets ? DOMCanonicalizer::canonicalize(&set, &bytes, m, p)
           : DOMCanonicalizer::canonicalize(&set, &characters, m, p);
}

// Bytes served through the source form only: the default node set parses them.
class OctetData : public Data {
public:
    explicit OctetData(const char* bytes) : Data(OCTET_DATA), bytes_(bytes) {}
    using Data::octetStream;
    OctetSource* octetStream() override {
        std::unique_ptr<Block> b(new Block(bytes_, std::strlen(bytes_), Block::Copy));
        OctetSource* source = new BlockSource(b.get());
        b.release();
        return source;
    }

private:
    const char* bytes_;
};

}  // namespace

// Whole documents, and a subtree minus a subtree with a replacement and prefixes treated
// inclusively, into octets and into characters.
TEST(AllocationFailure, Canonicalize) {
    DocumentPtr d = parse(kDocument);
    const std::unique_ptr<NodeSet::Filter> subset(
        new AndFilter(new NodeTreeFilter(element(d, u"s")),
                      new NotFilter(new NodeTreeFilter(element(d, u"sig")))));
    for (int mode = 0; mode < 4; ++mode) {
        for (bool octets : {false, true}) {
            SCOPED_TRACE(std::to_string(mode) + (octets ? " into octets" : " into characters"));
            EXPECT_GT(sweep([&] {
                          NodeSet whole(d.get(), nullptr, nullptr, false);
                          canonicalize(whole, mode, nullptr, octets);
                      }),
                      0u);
            EXPECT_GT(sweep([&] {
                          CanonicalizerParameters p;
                          p.emitNullApexXMLNS(true);
                          p.unsuppressedNamespacePrefix(u"p");
                          p.unsuppressedNamespacePrefix(nullptr);
                          std::unique_ptr<NodeSet> q(
                              new NodeSet(element(d, u"q"), nullptr, nullptr, false));
                          p.replacementNodeSet(element(d, u"c"), q.release());
                          NodeSet set(d.get(), subset->clone(), nullptr, false);
                          canonicalize(set, mode, &p, octets);
                      }),
                      0u);
        }
    }
    DocumentPtr relative = parse("<r><e xmlns:p='rel'/></r>");
    for (bool octets : {false, true}) {
        EXPECT_EQ("13006: Invalid relative namespace URI: xmlns:p=\"rel\"",
                  sweepFailing(13006, [&] {
                      NodeSet whole(relative.get(), nullptr, nullptr, false);
                      canonicalize(whole, DOMCanonicalizer::CANONICAL, nullptr, octets);
                  }));
    }
}

TEST(AllocationFailure, Parameters) {
    DocumentPtr d = parse(kDocument);
    EXPECT_GT(
        sweep([&] {
            CanonicalizerParameters p, assigned;
            p.unsuppressedNamespacePrefix(u"p");
            std::unique_ptr<NodeSet> q(new NodeSet(element(d, u"q"), nullptr, nullptr, false));
            p.replacementNodeSet(element(d, u"c"), q.release());
            CanonicalizerParameters copy(p);
            assigned = p;
            std::unique_ptr<CanonicalizerParameters>(p.clone());
        }),
        0u);
}

// Node-set data to a node set, to octets in a sink and to a source of octets; octet data to
// octets in a sink.
TEST(AllocationFailure, TransformData) {
    DocumentPtr d = parse(kDocument);
    EXPECT_GT(sweep([&] {
                  NodeSetData data(new NodeSet(d.get(), nullptr, nullptr, false));
                  std::unique_ptr<NodeSet>(data.nodeSet());
                  BufferSink sink;
                  data.octetStream(&sink);
                  std::unique_ptr<OctetSource>(data.octetStream());
                  OctetData("<r b='2' a='1'/>").octetStream(&sink);
              }),
              0u);
}

// Octets parsed into a node set that holds its document.
TEST(AllocationFailure, TransformDataParsed) {
    EXPECT_GT(sweep([] { std::unique_ptr<NodeSet>(OctetData("<r b='2' a='1'/>").nodeSet()); }), 0u);
}
