// What the peer comparison (tests/peer) cannot show: node sets other than subtrees, replacements,
// the parameters libxml2 lacks, exact failures, XML 1.1 documents, and trees of extreme shape.
// Whole documents and subtrees minus subtrees in the four modes are compared with libxml2 there.
#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;
using Ambrite::XML::C14n::CanonicalizerParameters;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

const DOMCanonicalizer::Mode kIncl = DOMCanonicalizer::CANONICAL;
const DOMCanonicalizer::Mode kExcl = DOMCanonicalizer::EXCLUSIVE;

NodeSet::Filter* only(DOMNode* node) {
    NodeHashSet s;
    s.insert(node);
    return new NodeSetFilter(s);
}

NodeSet::Filter* tree(DOMNode* node) { return new NodeTreeFilter(node); }

// The canonical form through the octet sink and through a character sink, which must agree, or
// the failure.
std::string bothSinks(DOMDocument* d, NodeSet::Filter* filter = nullptr) {
    NodeSet set(d, filter, nullptr, false);
    BufferSink octets;
    RecordingSink characters;
    const std::string failure =
        thrown([&] { DOMCanonicalizer::canonicalize(&set, &octets, kIncl, nullptr); });
    EXPECT_EQ(failure,
              thrown([&] { DOMCanonicalizer::canonicalize(&set, &characters, kIncl, nullptr); }));
    if (failure != "no exception") return failure;
    EXPECT_EQ(bytes(octets), utf8(characters.text()));
    return bytes(octets);
}

}  // namespace

// An apex in no namespace gets xmlns="" when asked to; a mode out of range is inclusive; an
// excluded subtree goes with its attributes, whichever operand of the conjunction it is.
TEST(DOMCanonicalizer, SubtreesAndParameters) {
    const char* kNested = "<r xmlns='urn:r'><x xmlns=''><y/></x><z/></r>";
    // clang-format off
    const struct { const char *input, *apex, *exclude; bool emitNullApex; std::vector<int> modes;
                   const char* expected; } kCases[] = {
        {kNested, "x", 0, false, {kIncl}, "<x><y></y></x>"},
        {kNested, "x", 0, true, {kIncl, kExcl}, "<x xmlns=\"\"><y></y></x>"},
        {kNested, "z", 0, true, {kIncl}, "<z xmlns=\"urn:r\"></z>"},
        {"<r><c/></r>", 0, 0, true, {kIncl}, "<r xmlns=\"\"><c></c></r>"},
        {"<r xmlns:u='urn:u'><!--c--></r>", 0, 0, false, {7, -1}, "<r xmlns:u=\"urn:u\"></r>"},
        {"<r><s Id='x'><a x='1'><b/>t</a><sig><v/></sig><c/></s></r>", "s", "sig", false,
         {kIncl, kExcl}, "<s Id=\"x\"><a x=\"1\"><b></b>t</a><c></c></s>"},
    };
    // clang-format on
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.input);
        DocumentPtr doc = parse(c.input);
        CanonicalizerParameters p;
        p.emitNullApexXMLNS(c.emitNullApex);
        for (int mode : c.modes) {
            NodeSet::Filter* f = c.apex ? tree(element(doc, widen(c.apex).c_str())) : nullptr;
            if (c.exclude) {
                NodeSet::Filter* out = new NotFilter(tree(element(doc, widen(c.exclude).c_str())));
                f = mode == kIncl ? new AndFilter(f, out) : new AndFilter(out, f);
            }
            EXPECT_EQ(c.expected, canonical(doc.get(), f, mode, &p)) << mode;
        }
    }
}

TEST(DOMCanonicalizer, NodesOutsideTheSetLeaveTheirContentAndDeclarationsInPlace) {
    DocumentPtr doc = parse("<r xmlns:p='urn:p'><m xmlns='urn:d' z='1'><p:c/>t<e/></m></r>");
    DOMElement* m = element(doc, u"m");
    // The element's attribute is still in the set: it is written without a start tag.
    EXPECT_EQ(
        "<r xmlns:p=\"urn:p\"> z=\"1\"<p:c xmlns=\"urn:d\"></p:c>t<e xmlns=\"urn:d\"></e></r>",
        canonical(doc.get(), new NotFilter(only(m)), kIncl));
    EXPECT_EQ("<r> z=\"1\"<p:c xmlns:p=\"urn:p\"></p:c>t<e xmlns=\"urn:d\"></e></r>",
              canonical(doc.get(), new NotFilter(only(m)), kExcl));
    EXPECT_EQ(" z=\"1\"", canonical(doc.get(), only(m->getAttributeNode(u"z")), kIncl));
    EXPECT_EQ("t", canonical(doc.get(), new NodeTypeFilter(DOMNode::TEXT_NODE), kIncl));
    // Namespace-expanded sets write no declaration at all, inherited xml: attributes neither.
    DocumentPtr x = parse("<r xmlns:p='urn:p' xmlns='urn:d' xml:lang='en'><p:c/><e a='1'/></r>");
    EXPECT_EQ("<r xml:lang=\"en\"><p:c></p:c><e a=\"1\"></e></r>",
              canonical(x.get(), nullptr, kIncl, nullptr, true));
    EXPECT_EQ("<e a=\"1\"></e>", canonical(x.get(), tree(element(x, u"e")), kIncl, nullptr, true));
    // An attribute as the root.
    DOMAttr* a = element(x, u"e")->getAttributeNode(u"a");
    EXPECT_EQ(" a=\"1\"", canonical(a, nullptr, kIncl));
    EXPECT_EQ("", canonical(a, new ConstantFilter(false), kIncl));
}

TEST(DOMCanonicalizer, ReplacementsUseTheirOwnContextAndMustNotRecurse) {
    DocumentPtr doc = parse("<r xmlns:p='urn:p'><a><x/></a><p:b>t</p:b><c/></r>");
    DOMNode* b = element(doc, u"b");
    CanonicalizerParameters p;
    p.replacementNodeSet(element(doc, u"a"), new NodeSet(b, nullptr, nullptr, false));
    p.replacementNodeSet(element(doc, u"c"), new NodeSet(b, nullptr, nullptr, false));
    EXPECT_EQ(
        "<r xmlns:p=\"urn:p\"><p:b xmlns:p=\"urn:p\">t</p:b><p:b>t</p:b>"
        "<p:b xmlns:p=\"urn:p\">t</p:b></r>",
        canonical(doc.get(), nullptr, kIncl, &p));
    // A replaced element is replaced even when it lies outside the set.
    EXPECT_EQ("<p:b xmlns:p=\"urn:p\">t</p:b>t<p:b xmlns:p=\"urn:p\">t</p:b>",
              canonical(doc.get(), new NodeTypeFilter(DOMNode::TEXT_NODE), kIncl, &p));
    // A replacement containing what it replaces, directly or through another one, fails; what
    // was written before stays in the sink.
    p.replacementNodeSet(b, new NodeSet(doc.get(), nullptr, nullptr, false));
    NodeSet all(doc.get(), nullptr, nullptr, false);
    BufferSink sink;
    EXPECT_EQ("13006: Recursive replacement node set",
              thrown([&] { DOMCanonicalizer::canonicalize(&all, &sink, kIncl, &p); }));
    EXPECT_EQ("<r xmlns:p=\"urn:p\"><r xmlns:p=\"urn:p\">", bytes(sink));
}

// Relative namespace URIs in whole documents fail alike on both paths
// (StreamCanonicalizer.FailuresComeInTheDomPathsOrder); what only a DOM node set can choose:
TEST(DOMCanonicalizer, Failures) {
    // Ancestors of the root bind in inclusive mode.
    DocumentPtr doc = parse("<!DOCTYPE r [<!ENTITY e 'x'>]><r xmlns:q='rel'><e/></r>");
    DOMNode *e = element(doc, u"e"), *entity = doc->getDoctype()->getEntities()->item(0);
    EXPECT_EQ("13006: Invalid relative namespace URI: xmlns:q=\"rel\"",
              thrown([&] { canonical(e, nullptr, kIncl); }));
    EXPECT_EQ("no exception", thrown([&] { canonical(e, nullptr, kExcl); }));
    EXPECT_EQ("13006: Uncanonicalizable node: Type 6",
              thrown([&] { canonical(entity, nullptr, kIncl); }));
    EXPECT_EQ("", canonical(entity, new ConstantFilter(false), kIncl));
}

// A chain 100,000 elements deep above 100,000 siblings, its top 20,000 each declaring a prefix of
// their own, in every mode, whole and minus its lower half: no recursion, no copies of namespace
// scopes (once every element copied its parent's, and 20,000 levels needed some 3 GB), no
// quadratic walks.
TEST(DOMCanonicalizer, DeepAndWideTrees) {
    const int depth = 100000, width = 100000, declaring = 20000;
    DocumentPtr d(DOMUtil::newDocument());
    std::vector<DOMElement*> chain;
    std::string tags;  // the start tags of the inclusive modes
    for (int i = 0; i < depth; ++i) {
        const std::string n = std::to_string(i);
        chain.push_back(d->createElement(u"e"));
        if (i >= declaring) continue;
        chain.back()->setAttributeNS(u"http://www.w3.org/2000/xmlns/", widen("xmlns:p" + n).c_str(),
                                     widen("urn:" + n).c_str());
        tags += "<e xmlns:p" + n + "=\"urn:" + n + "\">";
    }
    for (int i = 0; i < width; ++i) chain.back()->appendChild(d->createElement(u"c"));
    // Linked bottom up, so that no insertion searches a long ancestor chain.
    for (int i = depth - 1; i > 0; --i) chain[i - 1]->appendChild(chain[i]);
    d->appendChild(chain[0]);
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(mode);
        const std::string top = mode >= kExcl ? repeat("<e>", declaring) : tags;
        EXPECT_TRUE(top + repeat("<e>", depth - declaring) + repeat("<c></c>", width) +
                        repeat("</e>", depth) ==
                    canonical(d.get(), nullptr, mode));
        EXPECT_TRUE(top + repeat("<e>", depth / 2 - declaring) + repeat("</e>", depth / 2) ==
                    canonical(d.get(), new NotFilter(tree(chain[depth / 2])), mode));
    }
}

// Canonical XML is XML 1.0 text. Of the characters an XML 1.1 document may hold only as
// references, the C0 controls, which no XML 1.0 text holds in any form, fail the
// canonicalization; DEL and the C1 controls, which XML 1.0 holds as themselves, are written as
// they are. Only what is written counts: a control in a part left out is no failure.
TEST(DOMCanonicalizer, Xml11ControlsAreRefusedOrWrittenAsThemselves) {
    const std::string kDecl11 = "<?xml version='1.1'?>";
    const std::pair<std::string, std::string> kCases[] = {
        {kDecl11 + "<a>&#x1;</a>", "13006: Uncanonicalizable character: U+0001"},
        {kDecl11 + "<a>0123456789abcdef0123&#x1F;</a>",
         "13006: Uncanonicalizable character: U+001F"},
        {kDecl11 + "<a b='x&#xB;'/>", "13006: Uncanonicalizable character: U+000B"},
        {kDecl11 + "<a><b>&#x8;</b></a>", "13006: Uncanonicalizable character: U+0008"},
        {kDecl11 + "<a b='&#x9;&#xA;&#xD;'>&#x9;&#xA;&#xD;</a>",
         "<a b=\"&#x9;&#xA;&#xD;\">\t\n&#xD;</a>"},
        {kDecl11 + "<a b='&#x7F;&#x85;'>&#x7F;&#x80;&#x85;&#x9F;&#x2028;</a>",
         "<a b=\"\x7F\xC2\x85\">\x7F\xC2\x80\xC2\x85\xC2\x9F\xE2\x80\xA8</a>"},
        {"<a b='\xC2\x85'>\xC2\x80\x7F&#x9F;</a>", "<a b=\"\xC2\x85\">\xC2\x80\x7F\xC2\x9F</a>"},
    };
    for (const auto& [xml, expected] : kCases) {
        SCOPED_TRACE(xml);
        EXPECT_EQ(expected, bothSinks(parse(xml).get()));
    }
    DocumentPtr d = parse(kDecl11 + "<r><a>&#x1;</a><b>t</b></r>");
    EXPECT_EQ("<r><b>t</b></r>", bothSinks(d.get(), new NotFilter(tree(element(d, u"a")))));
}
