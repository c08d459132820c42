// The streaming canonicalizer against the DOM path, its oracle: the same bytes or the same
// failure for every document, mode and subset; and what only streaming has (failures once the
// input is read, memory that follows the depth).
#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;
using C14n::CanonicalizerParameters;
using C14n::DocumentSubset;
using C14n::DOMCanonicalizer;
using C14n::StreamCanonicalizer;

namespace {

// "bytes" or "failure id: message" of each path.
std::string streamed(const std::string& xml, int mode, const DocumentSubset* subset,
                     const CanonicalizerParameters* parameters = nullptr) {
    BlockSource source(new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
    BufferSink sink;
    std::string failure = thrown([&] {
        StreamCanonicalizer::canonicalize(&source, &sink, DOMCanonicalizer::Mode(mode), parameters,
                                          subset);
    });
    return failure == "no exception" ? bytes(sink) : "failure " + failure;
}

std::string viaDom(const std::string& xml, int mode, const DocumentSubset* subset,
                   const CanonicalizerParameters* parameters = nullptr) {
    std::string out;
    std::string failure = thrown([&] {
        DocumentPtr document = parse(xml);
        std::unique_ptr<NodeSet> nodes(subset
                                           ? subset->nodeSet(document.get())
                                           : new NodeSet(document.get(), nullptr, nullptr, false));
        BufferSink sink;
        DOMCanonicalizer::canonicalize(nodes.get(), &sink, DOMCanonicalizer::Mode(mode),
                                       parameters);
        out = bytes(sink);
    });
    return failure == "no exception" ? out : "failure " + failure;
}

// Both paths in all four modes; gives the inclusive output without comments.
std::string agree(const std::string& xml, const DocumentSubset* subset = nullptr,
                  const CanonicalizerParameters* parameters = nullptr) {
    for (int mode = 3; mode >= 0; --mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const std::string dom = viaDom(xml, mode, subset, parameters);
        EXPECT_EQ(dom, streamed(xml, mode, subset, parameters));
        if (mode == 0) return dom;
    }
    return "";
}

}  // namespace

TEST(StreamCanonicalizer, WholeDocumentsAsTheDomPath) {
    const struct {
        const char* xml;
        const char* expected;  // inclusive, without comments
    } kCases[] = {
        {"<?pi x?><!--c--><a/><!--d--><?pi?>", "<?pi x?>\n<a></a>\n<?pi?>"},
        {"<a xmlns='urn:d' xmlns:p='urn:p' p:x='1' y='2'><b xmlns=''><p:c/></b></a>",
         "<a xmlns=\"urn:d\" xmlns:p=\"urn:p\" y=\"2\" p:x=\"1\"><b "
         "xmlns=\"\"><p:c></p:c></b></a>"},
        {"<a xml:lang='en'><b xml:space='preserve'>t&amp;&lt;&gt;&#13;\"</b></a>",
         "<a xml:lang=\"en\"><b xml:space=\"preserve\">t&amp;&lt;&gt;&#xD;\"</b></a>"},
        {"<a b='&#9;&#10;&#13;\"&lt;&gt;'><![CDATA[<x>&]]></a>",
         "<a b=\"&#x9;&#xA;&#xD;&quot;&lt;>\">&lt;x&gt;&amp;</a>"},
        {"<!DOCTYPE a [<!ENTITY e '<b>x</b>'><!ATTLIST a d CDATA 'def' n NMTOKEN ' t '>]>"
         "<a n=' u  '>&e;&e;</a>",
         "<a d=\"def\" n=\"u\"><b>x</b><b>x</b></a>"},
        {"<a>\xF0\x9F\x98\x80&#x1F600;\xC3\xA9</a>",
         "<a>\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xC3\xA9</a>"},
        {"<a xmlns:p='urn:p'><p:b xmlns:p='urn:p'/><b xmlns:p='urn:q'/></a>",
         "<a xmlns:p=\"urn:p\"><p:b></p:b><b xmlns:p=\"urn:q\"></b></a>"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.xml);
        EXPECT_EQ(c.expected, agree(c.xml));
    }
}

TEST(StreamCanonicalizer, SubsetsAsTheDomPath) {
    const std::string xml =
        "<!DOCTYPE r [<!ATTLIST s Id ID #IMPLIED>]>"
        "<r xmlns='urn:r' xmlns:p='urn:p' xml:lang='en'><h/>"
        "<s Id='x' p:a='1'><t>1</t><ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'>"
        "<ds:v/></ds:Signature><u><!--c--><?p?></u></s><w/></r>";
    const unsigned int s[] = {1, 2}, t[] = {1, 2, 1}, u[] = {1, 2, 3};
    DocumentSubset bySequence, byId, minus, signatures;
    bySequence.apex(s, 2);
    byId.apexId(u"x");
    minus.apexId(u"x");
    minus.exclude(t, 3);
    minus.exclude(u, 3);
    signatures.apex(s, 2);
    signatures.excludeSignatures(true);
    const std::string whole =
        "<s xmlns=\"urn:r\" xmlns:p=\"urn:p\" Id=\"x\" xml:lang=\"en\" p:a=\"1\"><t>1</t>"
        "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:v></ds:v>"
        "</ds:Signature><u><?p?></u></s>";
    EXPECT_EQ(whole, agree(xml, &bySequence));
    EXPECT_EQ(whole, agree(xml, &byId));
    EXPECT_EQ(
        "<s xmlns=\"urn:r\" xmlns:p=\"urn:p\" Id=\"x\" xml:lang=\"en\" p:a=\"1\">"
        "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:v></ds:v>"
        "</ds:Signature></s>",
        agree(xml, &minus));
    EXPECT_EQ(
        "<s xmlns=\"urn:r\" xmlns:p=\"urn:p\" Id=\"x\" xml:lang=\"en\" p:a=\"1\"><t>1</t>"
        "<u><?p?></u></s>",
        agree(xml, &signatures));
}
