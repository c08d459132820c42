// The streaming canonicalizer against the DOM path, its oracle: the same bytes or the same
// failure for every document, mode and subset; then what only streaming has (failures held back
// until the input is read, memory that follows the depth).
#include <gtest/gtest.h>

#include "c14n/internal.h"
#include "support/test_support.h"

using namespace amxml_test;
using C14n::CanonicalizerParameters;
using C14n::DocumentSubset;
using C14n::DOMCanonicalizer;
using C14n::StreamCanonicalizer;

namespace {

const char kDSig[] = "http://www.w3.org/2000/09/xmldsig#";

// Both paths in all four modes, which must give the same bytes or the same failure (the
// streaming path may have written more before it); gives one mode's outcome on the DOM path
// (inclusive without comments by default).
std::string agree(const std::string& xml, const DocumentSubset* subset = nullptr,
                  const CanonicalizerParameters* parameters = nullptr, int shown = 0) {
    std::string result;
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const std::string dom = c14nOutcome(xml, true, mode, subset, parameters);
        EXPECT_EQ(failureOf(dom), failureOf(c14nOutcome(xml, false, mode, subset, parameters)));
        if (mode == shown) result = dom;
    }
    return result;
}

}  // namespace

TEST(StreamCanonicalizer, WholeDocumentsAsTheDomPath) {
    const std::string longText = repeat("x&amp;\xF0\x9F\x98\x80\xC3\xA9", 30000);
    std::string manyAttributes, manyOut;
    for (char c = 'z'; c >= 'a'; --c) manyAttributes += std::string(" ") + c + "='" + c + "'";
    for (char c = 'a'; c <= 'z'; ++c) manyOut += std::string(" ") + c + "=\"" + c + "\"";
    const struct {
        std::string xml, expected;  // inclusive, without comments
    } kCases[] = {
        {"<!DOCTYPE a [<?inside?><!--inside-->]><!--c--><?p?><a/>", "<?p?>\n<a></a>"},
        {"<a xmlns='urn:d' xmlns:p='urn:p' p:x='1' y='2'><b xmlns=''><p:c/></b></a>",
         "<a xmlns=\"urn:d\" xmlns:p=\"urn:p\" y=\"2\" p:x=\"1\"><b xmlns=\"\"><p:c></p:c></b>"
         "</a>"},
        // Entity references expanded in place, DTD defaults, normalized tokens.
        {"<!DOCTYPE r [<!ENTITY e '<b>x</b>'><!ENTITY f '&e;y'>"
         "<!ATTLIST a d CDATA 'def' n NMTOKEN ' t ' xmlns:q CDATA 'urn:q' q:z CDATA 'v'>]>"
         "<r xmlns:q='urn:q'><a n=' u  '>&f;&e;</a></r>",
         "<r xmlns:q=\"urn:q\"><a d=\"def\" n=\"u\" q:z=\"v\"><b>x</b>y<b>x</b></a></r>"},
        {"<a>\xF0\x9F\x98\x80&#x1F600;\xC3\xA9&#xE000;</a>",
         "<a>\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xC3\xA9\xEE\x80\x80</a>"},
        // Text the parser hands over in many pieces, surrogate pairs split between them.
        {"<a>" + longText + "</a>", "<a>" + longText + "</a>"},
        {"<a" + manyAttributes + "/>", "<a" + manyOut + "></a>"},
        {"<a xmlns='urn:a'><b xmlns='urn:b'/><c/><d xmlns=''><e xmlns='urn:a'/></d></a>",
         "<a xmlns=\"urn:a\"><b xmlns=\"urn:b\"></b><c></c><d xmlns=\"\"><e xmlns=\"urn:a\"></e>"
         "</d></a>"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.xml.substr(0, 80));
        EXPECT_EQ(c.expected, agree(c.xml));
    }
}

TEST(StreamCanonicalizer, ParametersAsTheDomPath) {
    const std::string xml =
        "<r xmlns='urn:r' xmlns:a='urn:a' xmlns:b='urn:b'><s a:x='1'><t/></s><u xmlns=''/></r>";
    CanonicalizerParameters parameters;
    parameters.emitNullApexXMLNS(true);
    parameters.unsuppressedNamespacePrefix(nullptr);
    parameters.unsuppressedNamespacePrefix(u"b");
    const unsigned int u[] = {1, 2};
    DocumentSubset apex;
    apex.apex(u, 2);
    EXPECT_EQ("<u xmlns=\"\" xmlns:b=\"urn:b\"></u>", agree(xml, &apex, &parameters, 2));
    EXPECT_EQ(
        "<r xmlns=\"urn:r\" xmlns:b=\"urn:b\"><s xmlns:a=\"urn:a\" a:x=\"1\"><t></t></s>"
        "<u xmlns=\"\"></u></r>",
        agree(xml, nullptr, &parameters, 2));
    CanonicalizerParameters replacing;
    replacing.replacementNodeSet(parse("<x/>").get(), nullptr);
    DocumentPtr other = parse("<y/>");
    replacing.replacementNodeSet(other.get(), new NodeSet(other.get(), nullptr, nullptr, false));
    EXPECT_EQ(" | failure 13006: Replacement node sets need a DOM",
              c14nOutcome(xml, false, 0, nullptr, &replacing));
}

TEST(StreamCanonicalizer, SubsetsAsTheDomPath) {
    const std::string xml = std::string() +
                            "<!DOCTYPE r [<!ATTLIST s Id ID #IMPLIED><!ENTITY e '<v/><w/>'>]>"
                            "<?top?><r xmlns='urn:r' xmlns:p='urn:p' xml:lang='en'><h/>"
                            "<s Id='x' p:a='1'><t>1</t><ds:Signature xmlns:ds='" +
                            kDSig +
                            "'><ds:v/></ds:Signature><u><!--c--><?p?></u></s>&e;"
                            "<wsu:z xmlns:wsu='urn:u' wsu:Id='y'><ds:Signature xmlns:ds='" +
                            kDSig + "'/></wsu:z></r><!--after-->";
    const std::string s =
        "<s xmlns=\"urn:r\" xmlns:p=\"urn:p\" Id=\"x\" xml:lang=\"en\" p:a=\"1\"><t>1</t>"
        "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:v></ds:v>"
        "</ds:Signature><u><?p?></u></s>";
    const unsigned int r[] = {1}, sSteps[] = {1, 2}, t[] = {1, 2, 1}, u[] = {1, 2, 3}, w[] = {1, 4},
                       sig[] = {1, 2, 2};
    DocumentSubset byId, minus, signatures, named, fromEntity, apexExcluded, rootExcluded,
        insideSignature;
    byId.apexId(u"x");
    minus.apexId(u"x");
    minus.exclude(t, 3);
    minus.exclude(u, 3);
    signatures.apex(r, 1);
    signatures.excludeSignatures(true);
    named.idAttribute(u"urn:u", u"Id");
    named.apexId(u"y");
    fromEntity.apex(w, 2);  // the second element of the entity's replacement text
    apexExcluded.apex(t, 3);
    apexExcluded.exclude(sSteps, 2);
    rootExcluded.exclude(r, 1);
    insideSignature.apex(sig, 3);
    insideSignature.excludeSignatures(true);
    EXPECT_EQ(s, agree(xml, &byId));
    EXPECT_EQ(
        "<s xmlns=\"urn:r\" xmlns:p=\"urn:p\" Id=\"x\" xml:lang=\"en\" p:a=\"1\">"
        "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:v></ds:v>"
        "</ds:Signature></s>",
        agree(xml, &minus));
    EXPECT_EQ(
        "<r xmlns=\"urn:r\" xmlns:p=\"urn:p\" xml:lang=\"en\"><h></h><s Id=\"x\" p:a=\"1\">"
        "<t>1</t><u><!--c--><?p?></u></s><v></v><w></w><wsu:z xmlns:wsu=\"urn:u\" "
        "wsu:Id=\"y\"></wsu:z></r>",
        agree(xml, &signatures, nullptr, 1));
    EXPECT_EQ(
        "<wsu:z xmlns=\"urn:r\" xmlns:p=\"urn:p\" xmlns:wsu=\"urn:u\" xml:lang=\"en\" "
        "wsu:Id=\"y\"><ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">"
        "</ds:Signature></wsu:z>",
        agree(xml, &named));
    EXPECT_EQ("<w xmlns=\"urn:r\" xmlns:p=\"urn:p\" xml:lang=\"en\"></w>", agree(xml, &fromEntity));
    EXPECT_EQ("", agree(xml, &apexExcluded));
    EXPECT_EQ("<?top?>\n\n<!--after-->", agree(xml, &rootExcluded, nullptr, 1));
    EXPECT_EQ("", agree(xml, &insideSignature));
}

// The choices fail alike on both paths, before canonicalization fails and after the parse.
TEST(StreamCanonicalizer, ChoicesFailAsOnTheDomPath) {
    const std::string xml =
        "<!DOCTYPE r [<!ATTLIST a i ID #IMPLIED>]>"
        "<r><a i='one' Id='two'/><b Id='one'><c Id='three' ID='three'/></b><d ID='two'/></r>";
    const unsigned int missing[] = {1, 9}, a[] = {1, 1};
    DocumentSubset apexMissing, excludeMissing, noId, excludeOne, untyped, named, twice, duplicate;
    apexMissing.apex(missing, 2);
    excludeMissing.exclude(missing, 2);
    noId.apexId(u"nowhere");
    excludeOne.excludeId(u"one");
    untyped.apexId(u"two");  // the DTD types only i; Id holds IDs only once named
    for (DocumentSubset* s : {&named, &twice, &duplicate}) s->idAttribute(nullptr, u"Id");
    named.apexId(u"three");
    twice.excludeId(u"one");
    duplicate.idAttribute(nullptr, u"ID");
    duplicate.apexId(u"nowhere");
    duplicate.exclude(a, 2);  // the duplicate lies inside an excluded subtree: still a failure
    duplicate.excludeId(u"two");
    const std::string kFailure = " | failure 13006: ";
    const std::pair<const DocumentSubset*, std::string> kCases[] = {
        {&apexMissing, kFailure + "No element at child sequence /1/9"},
        {&excludeMissing, kFailure + "No element at child sequence /1/9"},
        {&noId, kFailure + "No element with ID nowhere"},
        {&excludeOne,
         "<r><b Id=\"one\"><c ID=\"three\" Id=\"three\"></c></b><d ID=\"two\"></d></r>"},
        {&untyped, kFailure + "No element with ID two"},
        {&named, "<c ID=\"three\" Id=\"three\"></c>"},
        {&twice, kFailure + "More than one element with ID one"},
        {&duplicate, kFailure + "More than one element with ID two"},
    };
    for (const auto& [subset, expected] : kCases) EXPECT_EQ(expected, agree(xml, subset));
    // A duplicate in a document that fails to parse: the parse failure.
    DocumentSubset apex;
    apex.idAttribute(nullptr, u"Id");
    apex.apexId(u"one");
    EXPECT_EQ(
        " | failure 9: Fatal DOM error: Line 1, column 121, offset -1: input ended before all "
        "started tags were ended; last tag started is 'r'",
        agree(xml.substr(0, xml.size() - 4), &apex));
}

// Canonicalization failures (a relative namespace URI) are held back until the input has been
// read, so that a failure of the parse comes first as on the DOM path; the output stops where
// the DOM canonicalizer's stops. The DOM parser makes nodes of the document type and of the
// DTD's attribute defaults of each element that starts, which the DOM refuses for names that
// are not qualified names; the streaming path refuses them alike.
TEST(StreamCanonicalizer, FailuresComeInTheDomPathsOrder) {
    const std::string kNamespaceError =
        " | failure 1014: NAMESPACE_ERR: attempt is made to create or change an object in a way "
        "which is incorrect with respect to namespaces";
    const std::string kNotSupported =
        " | failure 1009: NOT_SUPPORTED_ERR: implementation does not support the requested type "
        "of object or operation";
    const std::string kRelative = " | failure 13006: Invalid relative namespace URI: ";
    const std::string relative = "<r><a xmlns='rel'/><b xmlns:p='urn:p'/></r>";
    const struct {
        std::string xml;
        int mode;  // whose output on the DOM path is expected
        std::string expected;
    } kCases[] = {
        {relative, 0, "<r><a" + kRelative + "xmlns=\"rel\""},
        {"<r xmlns:p='rel'/>", 0, "<r" + kRelative + "xmlns:p=\"rel\""},
        {"<p:r xmlns:p='rel'/>", 2, "<p:r" + kRelative + "xmlns:p=\"rel\""},
        {"<r><e xmlns='a/b'/></r>", 2, "<r><e" + kRelative + "xmlns=\"a/b\""},
        {"<r xmlns:p='rel'/>", 2, "<r></r>"},  // unused, so never bound
        {"<r xmlns=''/>", 0, "<r></r>"},       // no default namespace is not relative
        // Of two relative names the DOM meets first the one of the attribute whose qualified
        // name comes first.
        {"<p:a xmlns:p='urnzp' xmlns='urnx'/>", 0, "<p:a" + kRelative + "xmlns=\"urnx\""},
        {"<r><a xmlns='rel'/><b xmlns:p='urn:p'></r>", 0,
         " | failure 9: Fatal DOM error: Line 1, column 41, offset -1: expected end of tag 'b'"},
        // A failure the scanner reports while it handles one of its own exceptions (a first
        // line that cannot be decoded, before the document starts) ends the parse on both paths.
        {std::string("\xFF\xFE\0\0\x02<?pi data?><a/>", 21), 0,
         " | failure 9: Fatal DOM error: Line 0, column 0, offset -1: unable to decode first "
         "line in entity '{null}'"},
        // A version the scanner reads as 1.0 and the DOM does not take.
        {"<?xml version='1.\x11'?><!DOCTYPE r [<!ATTLIST q xmlns:p CDATA ''>]>"
         "<r xmlns:p='urn:p'><q/></r>",
         0, kNotSupported},
        {"<?xml version='1.5'?><r/>", 0, kNotSupported},
        // An external entity is refused as by the DOM parser.
        {"<!DOCTYPE r [<!ENTITY e SYSTEM 'x.ent'>]><r>&e;</r>", 0,
         " | failure 13050: Unable to resolve entity: x.ent"},
        {"<!DOCTYPE r [<!ATTLIST q z: CDATA 'dv'>]><r xmlns:z='urn:z'><q/></r>", 0,
         kNamespaceError},
        {"<!DOCTYPE r [<!ATTLIST r a:b:c CDATA 'dv'>]><r xmlns:a='urn:a'/>", 0, kNamespaceError},
        {"<!DOCTYPE r [<!ATTLIST r :a CDATA #FIXED 'dv'>]><r/>", 0,
         " | failure 9: Fatal DOM error: Line 1, column 53, offset -1: prefix ':a' can not be "
         "resolved to namespace URI"},
        // Tried once per declaration, refused at its first element; neither path refuses
        // defaults no element takes, nor makes a node of one without a default value.
        {"<!DOCTYPE r [<!ATTLIST q z: CDATA 'dv'>]><r xmlns:z='urn:z'><q/><q/></r>", 0,
         kNamespaceError},
        {"<!DOCTYPE r [<!ATTLIST q z: CDATA 'dv'>]><r/>", 0, "<r></r>"},
        {"<!DOCTYPE r [<!ATTLIST r z: CDATA #IMPLIED>]><r/>", 0, "<r></r>"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.xml);
        EXPECT_EQ(c.expected, agree(c.xml, nullptr, nullptr, c.mode));
    }
    EXPECT_EQ(c14nOutcome(relative, true, 1), c14nOutcome(relative, false, 1));
    // Outside the apex, the scopes of elements are still computed: before it, after it, and
    // on excluded elements themselves (not inside them).
    const unsigned int b[] = {1, 2}, a[] = {1, 1};
    DocumentSubset apex, excludedRelative;
    apex.apex(b, 2);
    excludedRelative.exclude(a, 2);
    EXPECT_EQ(kRelative + "xmlns=\"rel\"", agree(relative, &apex));
    EXPECT_EQ("<r>" + kRelative + "xmlns=\"rel\"", agree(relative, &excludedRelative));
    EXPECT_EQ("<r><b xmlns:p=\"urn:p\"></b></r>",
              agree("<r><a><i xmlns='rel'/></a><b xmlns:p='urn:p'/></r>", &excludedRelative));
    // Exclusive mode binds only what it writes: the relative name outside the apex is unused.
    EXPECT_EQ("<b></b>", agree(relative, &apex, nullptr, 2));
}

// The axes of a streaming run copy what they bind from reused buffers and forget names that no
// open element binds, so that neither grows with the document.
TEST(StreamCanonicalizerAxes, MemoryFollowsTheDepth) {
    internal::Axes axes(false, false, false, nullptr, false);
    internal::Axes::Selection all;
    all.kind = internal::Axes::Selection::ALL;
    std::u16string buffer;  // reused for every value, as the parser's buffers are
    std::size_t most = 0;
    for (int i = 0; i < 50000; ++i) {
        const std::u16string prefix = u"p" + widen(std::to_string(i));
        buffer = u"urn:" + widen(std::to_string(i % 7));
        const internal::Axes::Mark outer = axes.mark();
        axes.beginElement();
        axes.addAttribute(nullptr, (u"xmlns:" + prefix).c_str(), prefix.c_str(), u"xmlns",
                          u"http://www.w3.org/2000/xmlns/", buffer.c_str(), false);
        axes.scope(prefix.c_str(), u"urn:e", true, all);
        axes.startTag(true, false);
        ASSERT_EQ(1, axes.end() - axes.begin());
        EXPECT_EQ(u"xmlns:" + prefix, u16(axes.begin()->name));
        EXPECT_EQ(u"urn:e", u16(axes.begin()->value));
        // The child sees its parent's binding, not the buffer's new text.
        buffer = u"urn:changed";
        axes.beginElement();
        axes.scope(prefix.c_str(), u"urn:e", true, all);
        axes.startTag(true, true);
        EXPECT_EQ(0, axes.end() - axes.begin()) << i;
        axes.restore(outer);
        most = std::max(most, axes.names());
    }
    EXPECT_LT(most, 10000u);
}

TEST(StreamCanonicalizer, EveryEntryPointSurvivesFailedAllocations) {
    const std::string xml =
        "<!DOCTYPE r [<!ATTLIST a i ID #IMPLIED>]><r xmlns:p='urn:p' xml:lang='en'>"
        "<a i='x' p:y='1'>t<b xmlns='urn:b'/></a><ds:Signature xmlns:ds='" +
        std::string(kDSig) + "'/></r>";
    sweep([&] {
        DocumentSubset subset;
        subset.apexId(u"x");
        subset.idAttribute(nullptr, u"i");
        subset.excludeSignatures(true);
        const unsigned int b[] = {1, 1, 1};
        subset.exclude(b, 3);
        BlockSource source(
            new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
        BufferSink sink;
        StreamCanonicalizer::canonicalize(&source, &sink, DOMCanonicalizer::CANONICAL, nullptr,
                                          &subset);
        EXPECT_EQ("<a xmlns:p=\"urn:p\" i=\"x\" xml:lang=\"en\" p:y=\"1\">t</a>", bytes(sink));
    });
    DocumentPtr document = parse(xml);
    sweep([&] {
        DocumentSubset subset;
        subset.excludeSignatures(true);
        std::unique_ptr<NodeSet> nodes(subset.nodeSet(document.get()));
    });
    EXPECT_EQ("13006: No element with ID y", sweepFailing(13006, [&] {
                  DocumentSubset subset;
                  subset.apexId(u"y");
                  BlockSource source(
                      new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
                  BufferSink sink;
                  StreamCanonicalizer::canonicalize(&source, &sink, DOMCanonicalizer::EXCLUSIVE,
                                                    nullptr, &subset);
              }));
}
