// Canonicalization, its parameters and transform data with their first, second, third...
// allocation failing: each run ends in success, Exception 18 or the failure the input itself
// causes, and leaves nothing behind.
#include <ambrite/xml/c14n.h>
#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>

#include "support/stream_doubles.h"

using namespace amxml_test;
using namespace Ambrite::XML::C14n;

namespace {

const char kDocument[] =
    "<?p d?><!--c--><r xmlns='urn:r' xmlns:p='urn:p' xml:lang='en' b='2' a='1&amp;'>"
    "<p:s Id='x'><a p:x='1'>t&#xD;<!--i--></a><sig><v/></sig><c/></p:s><q/></r>";

void canonicalize(const NodeSet& set, int mode, const CanonicalizerParameters* p, bool octets) {
    const DOMCanonicalizer::Mode m = static_cast<DOMCanonicalizer::Mode>(mode);
    BufferSink bytes;
    RecordingSink characters;
    octets ? DOMCanonicalizer::canonicalize(&set, &bytes, m, p)
           : DOMCanonicalizer::canonicalize(&set, &characters, m, p);
}

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
// octets in a sink; both into a sink that fails.
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
    for (bool nodes : {false, true}) {
        EXPECT_EQ("3: Sink failed", sweepFailing(3, [&] {
                      NodeSetData data(new NodeSet(d.get(), nullptr, nullptr, false));
                      OctetData octets("<r/>");
                      OctetRecorder sink;
                      sink.failures = 1;
                      nodes ? data.octetStream(&sink) : octets.octetStream(&sink);
                  }));
    }
}

// Octets parsed into a node set that holds its document, or failing to parse.
TEST(AllocationFailure, TransformDataParsed) {
    EXPECT_GT(sweep([] { std::unique_ptr<NodeSet>(OctetData("<r b='2' a='1'/>").nodeSet()); }), 0u);
    EXPECT_EQ(
        "9: Fatal DOM error: Line 1, column 4, offset -1: input ended before all started tags "
        "were ended; last tag started is 'r'",
        sweepFailing(9, [] { delete OctetData("<r>").nodeSet(); }));
}
