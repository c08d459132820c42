// What the peer comparison (tests/peer) cannot show: node sets other than subtrees, replacements,
// the parameters libxml2 lacks, exact failures and trees of extreme shape.
// Whole documents and subtrees minus subtrees in the four modes are compared with libxml2 there.
#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;
using Ambrite::XML::C14n::CanonicalizerParameters;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

const DOMCanonicalizer::Mode kIncl = DOMCanonicalizer::CANONICAL;
const DOMCanonicalizer::Mode kExcl = DOMCanonicalizer::EXCLUSIVE;

}  // namespace

// An apex in no namespace gets xmlns="" when asked to (StreamCanonicalizer.ParametersAsTheDomPath
// shows it below a default namespace), an apex in one or the document element neither; a mode
// out of range is inclusive.
TEST(DOMCanonicalizer, SubtreesAndParameters) {
    const char* kNested = "<r xmlns='urn:r'><x xmlns=''><y/></x><z/></r>";
    // clang-format off
    const struct { const char *input, *apex; bool emitNullApex; std::vector<int> modes;
                   const char* expected; } kCases[] = {
        {kNested, "x", false, {kIncl}, "<x><y></y></x>"},
        {kNested, "z", true, {kIncl}, "<z xmlns=\"urn:r\"></z>"},
        {"<r><c/></r>", 0, true, {kIncl}, "<r xmlns=\"\"><c></c></r>"},
        {"<r xmlns:u='urn:u'><!--c--></r>", 0, false, {7, -1}, "<r xmlns:u=\"urn:u\"></r>"},
    };
    // clang-format on
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.input);
        DocumentPtr doc = parse(c.input);
        CanonicalizerParameters p;
        p.emitNullApexXMLNS(c.emitNullApex);
        for (int mode : c.modes) {
            NodeSet::Filter* f = c.apex ? tree(element(doc, widen(c.apex).c_str())) : nullptr;
            EXPECT_EQ(c.expected, canonical(doc.get(), f, mode, &p)) << mode;
        }
    }
}

TEST(DOMCanonicalizer, NodesOutsideTheSetLeaveTheirContentAndDeclarationsInPlace) {
    DocumentPtr doc = parse("<r xmlns:p='urn:p'><m xmlns='urn:d' z='1'><p:c/>t<e/></m></r>");
    DOMElement* m = element(doc, u"m");
    // The element's attribute is still in the set: it is written without a start tag. (Text
    // whose element is left out: ReplacementsUseTheirOwnContextAndMustNotRecurse.)
    EXPECT_EQ(
        "<r xmlns:p=\"urn:p\"> z=\"1\"<p:c xmlns=\"urn:d\"></p:c>t<e xmlns=\"urn:d\"></e></r>",
        canonical(doc.get(), new NotFilter(new NodeSetFilter(hashSet({m}))), kIncl));
    EXPECT_EQ("<r> z=\"1\"<p:c xmlns:p=\"urn:p\"></p:c>t<e xmlns=\"urn:d\"></e></r>",
              canonical(doc.get(), new NotFilter(new NodeSetFilter(hashSet({m}))), kExcl));
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
// (StreamCanonicalizer.DocumentsAsTheDomPath); what only a DOM node set can choose:
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
