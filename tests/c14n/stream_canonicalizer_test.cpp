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

// Both paths in all four modes, over the subset subsetOf(spec) when one is given, which must give
// the same bytes or the same failure (the streaming path may have written more before it);
// gives one mode's outcome on the DOM path (inclusive without comments by default).
std::string agree(const std::string& xml, const std::string& spec = "",
                  const CanonicalizerParameters* parameters = nullptr, int shown = 0) {
    const std::unique_ptr<DocumentSubset> subset = subsetOf(spec);
    const DocumentSubset* s = spec.empty() ? nullptr : subset.get();
    std::string result;
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const std::string dom = c14nOutcome(xml, true, mode, s, parameters);
        EXPECT_EQ(failureOf(dom), failureOf(c14nOutcome(xml, false, mode, s, parameters)));
        if (mode == shown) result = dom;
    }
    return result;
}

}  // namespace

TEST(StreamCanonicalizer, ParametersAsTheDomPath) {
    const std::string xml =
        "<r xmlns='urn:r' xmlns:a='urn:a' xmlns:b='urn:b'><s a:x='1'><t/></s><u xmlns=''/></r>";
    CanonicalizerParameters parameters;
    parameters.emitNullApexXMLNS(true);
    parameters.unsuppressedNamespacePrefix(nullptr);
    parameters.unsuppressedNamespacePrefix(u"b");
    EXPECT_EQ("<u xmlns=\"\" xmlns:b=\"urn:b\"></u>", agree(xml, "/1/2", &parameters, 2));
    EXPECT_EQ(
        "<r xmlns=\"urn:r\" xmlns:b=\"urn:b\"><s xmlns:a=\"urn:a\" a:x=\"1\"><t></t></s>"
        "<u xmlns=\"\"></u></r>",
        agree(xml, "", &parameters, 2));
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
    const struct {
        const char* subset;
        int mode;  // whose output on the DOM path is expected
        std::string expected;
    } kCases[] = {
        {"#x", 0,
         "<s xmlns=\"urn:r\" xmlns:p=\"urn:p\" Id=\"x\" xml:lang=\"en\" p:a=\"1\"><t>1</t>"
         "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:v></ds:v>"
         "</ds:Signature><u><?p?></u></s>"},
        {"#x -/1/2/1 -/1/2/3", 0,
         "<s xmlns=\"urn:r\" xmlns:p=\"urn:p\" Id=\"x\" xml:lang=\"en\" p:a=\"1\">"
         "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:v></ds:v>"
         "</ds:Signature></s>"},
        {"/1 sig", 1,
         "<r xmlns=\"urn:r\" xmlns:p=\"urn:p\" xml:lang=\"en\"><h></h><s Id=\"x\" p:a=\"1\">"
         "<t>1</t><u><!--c--><?p?></u></s><v></v><w></w><wsu:z xmlns:wsu=\"urn:u\" "
         "wsu:Id=\"y\"></wsu:z></r>"},
        {"@{urn:u}Id #y", 0,
         "<wsu:z xmlns=\"urn:r\" xmlns:p=\"urn:p\" xmlns:wsu=\"urn:u\" xml:lang=\"en\" "
         "wsu:Id=\"y\"><ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">"
         "</ds:Signature></wsu:z>"},
        // The second element of the entity's replacement text.
        {"/1/4", 0, "<w xmlns=\"urn:r\" xmlns:p=\"urn:p\" xml:lang=\"en\"></w>"},
        {"/1/2/1 -/1/2", 0, ""},
        {"-/1", 1, "<?top?>\n\n<!--after-->"},
        {"/1/2/2 sig", 0, ""},
    };
    for (const auto& c : kCases) EXPECT_EQ(c.expected, agree(xml, c.subset, nullptr, c.mode));
}

// The choices fail alike on both paths, before canonicalization fails and after the parse.
TEST(StreamCanonicalizer, ChoicesFailAsOnTheDomPath) {
    const std::string xml =
        "<!DOCTYPE r [<!ATTLIST a i ID #IMPLIED>]>"
        "<r><a i='one' Id='two'/><b Id='one'><c Id='three' ID='three'/></b><d ID='two'/></r>";
    const std::string kFailure = " | failure 13006: ";
    const std::pair<const char*, std::string> kCases[] = {
        {"/1/9", kFailure + "No element at child sequence /1/9"},
        {"-/1/9", kFailure + "No element at child sequence /1/9"},
        {"-#one", "<r><b Id=\"one\"><c ID=\"three\" Id=\"three\"></c></b><d ID=\"two\"></d></r>"},
        {"#two", kFailure + "No element with ID two"},  // the DTD types only i; Id once named
        {"@Id #three", "<c ID=\"three\" Id=\"three\"></c>"},
        {"@Id -#one", kFailure + "More than one element with ID one"},
        // The duplicate lies inside an excluded subtree: still a failure.
        {"@Id @ID #nowhere -/1/1 -#two", kFailure + "More than one element with ID two"},
    };
    for (const auto& [subset, expected] : kCases) EXPECT_EQ(expected, agree(xml, subset));
    // A duplicate in a document that fails to parse: the parse failure.
    EXPECT_EQ(
        " | failure 9: Fatal DOM error: Line 1, column 121, offset -1: input ended before all "
        "started tags were ended; last tag started is 'r'",
        agree(xml.substr(0, xml.size() - 4), "@Id #one"));
}

// Documents the peer comparison (tests/peer) does not generate, through both paths in all four
// modes. Canonicalization failures (a relative namespace URI) are held back until the input has
// been read, so that a failure of the parse comes first as on the DOM path; the output stops
// where the DOM canonicalizer's stops. The DOM parser makes nodes of the document type and of
// the DTD's attribute defaults of each element that starts, which the DOM refuses for names that
// are not qualified names; the streaming path refuses them alike. Canonical XML is XML 1.0 text:
// of the characters an XML 1.1 document may hold only as references, the C0 controls, which no
// XML 1.0 text holds in any form, fail; DEL and the C1 controls are written as they are.
TEST(StreamCanonicalizer, DocumentsAsTheDomPath) {
    const std::string kNamespaceError =
        " | failure 1014: NAMESPACE_ERR: attempt is made to create or change an object in a way "
        "which is incorrect with respect to namespaces";
    const std::string kNotSupported =
        " | failure 1009: NOT_SUPPORTED_ERR: implementation does not support the requested type "
        "of object or operation";
    const std::string kRelative = " | failure 13006: Invalid relative namespace URI: ";
    const std::string kControl = " | failure 13006: Uncanonicalizable character: U+00";
    const std::string relative = "<r><a xmlns='rel'/><b xmlns:p='urn:p'/></r>";
    const std::string k11 = "<?xml version='1.1'?>";
    const struct {
        std::string xml;
        int mode;  // whose output on the DOM path is expected
        std::string expected;
    } kCases[] = {
        // Encodings and XML 1.1 line ends that hide nothing.
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a>+ADw-\xE9</a>", 0, "<a>+ADw-\xC3\xA9</a>"},
        {"<?xml version='1.0' encoding='IMAP-mailbox-name'?><a>x</a>", 0, "<a>x</a>"},
        {"<?xml version='1.0' encoding='Shift_JIS'?><a>\x93\xFA</a>\r\n", 0, "<a>\xE6\x97\xA5</a>"},
        {k11 + "<a/>\xC2\x85", 0, "<a></a>"},
        {"<!DOCTYPE r [<!ATTLIST r xmlns:xml CDATA 'http://www.w3.org/XML/1998/namespace'>]><r/>",
         0, "<r></r>"},
        {"<!DOCTYPE r [<!ATTLIST e a CDATA 'v'>]><r>" + repeat("<e>x</e>", 100000) + "</r>", 0,
         "<r>" + repeat("<e a=\"v\">x</e>", 100000) + "</r>"},
        {k11 + "<a>&#x1;</a>", 0, "<a>" + kControl + "01"},
        {k11 + "<a>0123456789abcdef0123&#x1F;</a>", 0, "<a>" + kControl + "1F"},
        {k11 + "<a b='x&#xB;'/>", 0, "<a b=\"" + kControl + "0B"},
        {k11 + "<a><b>&#x8;</b></a>", 0, "<a><b>" + kControl + "08"},
        {k11 + "<a b='&#x9;&#xA;&#xD;'>&#x9;&#xA;&#xD;</a>", 0,
         "<a b=\"&#x9;&#xA;&#xD;\">\t\n&#xD;</a>"},
        {k11 + "<a b='&#x7F;&#x85;'>&#x7F;&#x80;&#x85;&#x9F;&#x2028;</a>", 0,
         "<a b=\"\x7F\xC2\x85\">\x7F\xC2\x80\xC2\x85\xC2\x9F\xE2\x80\xA8</a>"},
        {"<a b='\xC2\x85'>\xC2\x80\x7F&#x9F;</a>", 0, "<a b=\"\xC2\x85\">\xC2\x80\x7F\xC2\x9F</a>"},
        {relative, 0, "<r><a" + kRelative + "xmlns=\"rel\""},
        {"<r xmlns:p='rel'/>", 0, "<r" + kRelative + "xmlns:p=\"rel\""},
        {"<p:r xmlns:p='rel'/>", 2, "<p:r" + kRelative + "xmlns:p=\"rel\""},
        {"<r><e xmlns='a/b'/></r>", 2, "<r><e" + kRelative + "xmlns=\"a/b\""},
        {"<r xmlns:p='rel'/>", 2, "<r></r>"},  // unused, so never bound
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
        // A version the scanner reads as 1.0 and the DOM does not take (as it takes no 1.5).
        {"<?xml version='1.\x11'?><!DOCTYPE r [<!ATTLIST q xmlns:p CDATA ''>]>"
         "<r xmlns:p='urn:p'><q/></r>",
         0, kNotSupported},
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
        EXPECT_EQ(c.expected, agree(c.xml, "", nullptr, c.mode));
    }
    EXPECT_EQ(c14nOutcome(relative, true, 1), c14nOutcome(relative, false, 1));
    // Only what is written counts: a control in a subtree left out is no failure.
    EXPECT_EQ("<r><b>t</b></r>", agree(k11 + "<r><a>&#x1;</a><b>t</b></r>", "-/1/1"));
    // Outside the apex, the scopes of elements are still computed: before it, after it, and
    // on excluded elements themselves (not inside them).
    EXPECT_EQ(kRelative + "xmlns=\"rel\"", agree(relative, "/1/2"));
    EXPECT_EQ("<r>" + kRelative + "xmlns=\"rel\"", agree(relative, "-/1/1"));
    EXPECT_EQ("<r><b xmlns:p=\"urn:p\"></b></r>",
              agree("<r><a><i xmlns='rel'/></a><b xmlns:p='urn:p'/></r>", "-/1/1"));
    // Exclusive mode binds only what it writes: the relative name outside the apex is unused.
    EXPECT_EQ("<b></b>", agree(relative, "/1/2", nullptr, 2));
}

// Deep down, the parsers hand the scanner the bindings names resolved to, to shorten its later
// lookups: an element that rebinds its own prefix or the default namespace must not hand that
// binding on to its siblings. Exclusive mode writes the namespace each name resolved to.
TEST(StreamCanonicalizer, DeepScopesAsTheDomPath) {
    const std::string xml = "<r xmlns='urn:d' xmlns:p='urn:out' xmlns:q='urn:q'>" +
                            repeat("<w>", 40) +
                            "<p:a xmlns:p='urn:in'><p:b q:x='1'/></p:a><p:c q:y='2'>"
                            "<e xmlns='urn:e'><f/></e><g/></p:c><p:h/>" +
                            repeat("</w>", 40) + "</r>";
    EXPECT_EQ(
        "<r xmlns=\"urn:d\">" + repeat("<w>", 40) +
            "<p:a xmlns:p=\"urn:in\"><p:b xmlns:q=\"urn:q\" q:x=\"1\"></p:b></p:a>"
            "<p:c xmlns:p=\"urn:out\" xmlns:q=\"urn:q\" q:y=\"2\"><e xmlns=\"urn:e\"><f></f></e>"
            "<g></g></p:c><p:h xmlns:p=\"urn:out\"></p:h>" +
            repeat("</w>", 40) + "</r>",
        agree(xml, "", nullptr, 2));
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
