// Canonicalization on both paths, its parameters, document subsets and transform data with their
// first, second, third... allocation failing: each run ends in success, Exception 18 or the
// failure the input itself causes, and leaves nothing behind.
#include <ambrite/xml/c14n.h>
#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>

#include "support/stream_doubles.h"

using namespace amxml_test;
using namespace Ambrite::XML::C14n;

namespace {

const char kDocument[] =
    "<?p d?><!--c--><!DOCTYPE r [<!ATTLIST a i ID #IMPLIED>]><r xmlns='urn:r' xmlns:p='urn:p' "
    "xml:lang='en' b='2' a='1&amp;'><p:s Id='x'><a i='y' p:x='1'>t&#xD;<b xmlns='urn:b'/><!--i-->"
    "</a><sig><v/></sig><c/><ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'/></p:s>"
    "<q/></r>";

void canonicalize(DOMNode* root, NodeSet::Filter* filter, int mode,
                  const CanonicalizerParameters* p, bool octets) {
    const NodeSet set(root, filter, nullptr, false);
    const DOMCanonicalizer::Mode m = static_cast<DOMCanonicalizer::Mode>(mode);
    BufferSink bytes;
    RecordingSink characters;
    octets ? DOMCanonicalizer::canonicalize(&set, &bytes, m, p)
           : DOMCanonicalizer::canonicalize(&set, &characters, m, p);
}

std::string stream(const std::string& xml, int mode, const DocumentSubset* subset) {
    BlockSource source(new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
    BufferSink sink;
    StreamCanonicalizer::canonicalize(&source, &sink, DOMCanonicalizer::Mode(mode), nullptr,
                                      subset);
    return bytes(sink);
}

void intoFailingSink(Data&& data) {
    OctetRecorder sink;
    sink.failures = 1;
    data.octetStream(&sink);
}

}  // namespace

// Whole documents, and a subtree minus a subtree with a replacement and prefixes treated
// inclusively, into octets and into characters; streamed whole and as a subset chosen by ID
// minus a child sequence and signatures.
TEST(AllocationFailure, Canonicalize) {
    DocumentPtr d = parse(kDocument);
    const std::unique_ptr<NodeSet::Filter> subset(
        both(tree(element(d, u"s")), notTree(element(d, u"sig"))));
    for (int mode = 0; mode < 4; ++mode) {
        for (bool octets : {false, true}) {
            SCOPED_TRACE(std::to_string(mode) + (octets ? " into octets" : " into characters"));
            EXPECT_GT(sweep([&] { canonicalize(d.get(), nullptr, mode, nullptr, octets); }), 0u);
            EXPECT_GT(sweep([&] {
                          CanonicalizerParameters p;
                          p.emitNullApexXMLNS(true);
                          p.unsuppressedNamespacePrefix(u"p");
                          p.unsuppressedNamespacePrefix(nullptr);
                          std::unique_ptr<NodeSet> q(
                              new NodeSet(element(d, u"q"), nullptr, nullptr, false));
                          p.replacementNodeSet(element(d, u"c"), q.release());
                          canonicalize(d.get(), subset->clone(), mode, &p, octets);
                      }),
                      0u);
        }
        EXPECT_GT(sweep([&] { stream(kDocument, mode, nullptr); }), 0u);
        EXPECT_GT(sweep([&] {
                      const std::string out =
                          stream(kDocument, mode, subsetOf("#y @i sig -/1/1/1/1").get());
                      if (mode == DOMCanonicalizer::CANONICAL) {
                          EXPECT_EQ(
                              "<a xmlns=\"urn:r\" xmlns:p=\"urn:p\" i=\"y\" xml:lang=\"en\" "
                              "p:x=\"1\">t&#xD;</a>",
                              out);
                      }
                  }),
                  0u);
    }
}

// Parameters copied, assigned and cloned; a subset's DOM node set; transform data of both kinds
// to node sets, octets in a sink and a source of octets. The octets of node-set data are the
// inclusive canonical form without comments, declarations included even when the node set
// given is namespace-expanded; octet data copies its bytes through.
TEST(AllocationFailure, ParametersSubsetsAndTransformData) {
    DocumentPtr d = parse(kDocument);
    const std::string inclusive = canonical(d.get(), nullptr, DOMCanonicalizer::CANONICAL);
    const std::function<void()> kOperations[] = {
        [&] {
            CanonicalizerParameters p, assigned;
            p.unsuppressedNamespacePrefix(u"p");
            std::unique_ptr<NodeSet> q(new NodeSet(element(d, u"q"), nullptr, nullptr, false));
            p.replacementNodeSet(element(d, u"c"), q.release());
            CanonicalizerParameters copy(p);
            assigned = p;
            std::unique_ptr<CanonicalizerParameters>(p.clone());
        },
        [&] { std::unique_ptr<NodeSet>(subsetOf("sig")->nodeSet(d.get())); },
        [&] {
            NodeSetData data(new NodeSet(d.get(), nullptr, nullptr, true));
            std::unique_ptr<NodeSet>(data.nodeSet());
            BufferSink sink;
            data.octetStream(&sink);
            std::unique_ptr<OctetSource> source(data.octetStream());
            std::string read;
            unsigned char buffer[64];
            while (unsigned int n = source->read(buffer, sizeof buffer))
                read.append(buffer, buffer + n);
            OctetData("<r b='2' a='1'/>").octetStream(&sink);
            EXPECT_EQ(inclusive + "<r b='2' a='1'/>", bytes(sink));
            EXPECT_EQ(inclusive, read);
        },
        [] { std::unique_ptr<NodeSet>(OctetData("<r b='2' a='1'/>").nodeSet()); },
    };
    for (const auto& operation : kOperations) EXPECT_GT(sweep(operation), 0u);
}

// Operations that fail of themselves fail alike whichever allocation fails first.
TEST(AllocationFailure, FailuresOfTheInput) {
    DocumentPtr d = parse(kDocument), relative = parse("<r><e xmlns:p='rel'/></r>");
    const std::pair<std::string, std::function<void()>> kCases[] = {
        {"13006: Invalid relative namespace URI: xmlns:p=\"rel\"",
         [&] { canonicalize(relative.get(), nullptr, 0, nullptr, false); }},
        {"13006: Invalid relative namespace URI: xmlns:p=\"rel\"",
         [&] { canonicalize(relative.get(), nullptr, 0, nullptr, true); }},
        {"13006: No element with ID nowhere",
         [] { stream(kDocument, DOMCanonicalizer::EXCLUSIVE, subsetOf("#nowhere").get()); }},
        {"3: Sink failed",
         [&] { intoFailingSink(NodeSetData(new NodeSet(d.get(), nullptr, nullptr, false))); }},
        {"3: Sink failed", [] { intoFailingSink(OctetData("<r/>")); }},
        {"9: Fatal DOM error: Line 1, column 4, offset -1: input ended before all started tags "
         "were ended; last tag started is 'r'",
         [] { delete OctetData("<r>").nodeSet(); }},
    };
    for (const auto& [failure, operation] : kCases) {
        EXPECT_EQ(failure, sweepFailing(std::stoi(failure), operation));
    }
}
