#include <ambrite/xml/c14n.h>

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;
using Ambrite::XML::C14n::CanonicalizerParameters;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

const DOMCanonicalizer::Mode kIncl = DOMCanonicalizer::CANONICAL;
const DOMCanonicalizer::Mode kInclC = DOMCanonicalizer::CANONICAL_WITH_COMMENTS;
const DOMCanonicalizer::Mode kExcl = DOMCanonicalizer::EXCLUSIVE;
const DOMCanonicalizer::Mode kExclC = DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS;

// The first element with this local name, in document order.
DOMElement* find(DOMNode* node, const std::string& localName) {
    for (DOMNode* n = node; n; n = n->getNextSibling()) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && widen(localName) == n->getLocalName()) {
            return static_cast<DOMElement*>(n);
        }
        if (DOMElement* e = find(n->getFirstChild(), localName)) return e;
    }
    return nullptr;
}

DOMElement* find(const DocumentPtr& doc, const std::string& name) {
    return find(doc->getDocumentElement(), name);
}

NodeSet::Filter* only(DOMNode* node) {
    NodeHashSet s;
    s.insert(node);
    return new NodeSetFilter(s);
}

std::string canonicalize(DOMNode* root, NodeSet::Filter* filter, DOMCanonicalizer::Mode mode,
                         const CanonicalizerParameters* parameters = nullptr,
                         bool namespaceExpanded = false) {
    NodeSet nodes(root, filter, nullptr, namespaceExpanded);
    BufferSink sink;
    DOMCanonicalizer::canonicalize(&nodes, &sink, mode, parameters);
    return bytes(sink);
}

// The failure of a canonicalization as "id: message", or "" when it succeeds.
std::string failure(DOMNode* root, DOMCanonicalizer::Mode mode,
                    const CanonicalizerParameters* parameters = nullptr) {
    try {
        canonicalize(root, nullptr, mode, parameters);
    } catch (const Exception& e) {
        return std::to_string(e.id()) + ": " + e.what().c_str();
    }
    return "";
}

enum Option { EMIT_NULL_APEX = 1, PREFIX_A = 2, DEFAULT_PREFIX = 4 };

// A subtree of the document (the apex, minus the subtree of `exclude`), or the whole of it.
struct Case {
    const char* input;
    const char* apex;
    const char* exclude;
    unsigned options;
    std::vector<DOMCanonicalizer::Mode> modes;
    const char* expected;
};

const Case kCases[] = {
    {"<r><e/></r>", 0, 0, 0, {kIncl, kExcl}, "<r><e></e></r>"},
    {"<r xmlns:y='http://y'><e b='1' a='2' xmlns:z='http://z' z:c='3' y:d='4'/></r>", 0, 0, 0,
     {kIncl}, "<r xmlns:y=\"http://y\"><e xmlns:z=\"http://z\" a=\"2\" b=\"1\" y:d=\"4\" z:c=\"3\"></e></r>"},
    {"<r xmlns:b='http://1' xmlns='http://d' xmlns:a='http://2'/>", 0, 0, 0, {kIncl},
     "<r xmlns=\"http://d\" xmlns:a=\"http://2\" xmlns:b=\"http://1\"></r>"},
    {"<a xmlns='http://a'><b xmlns=''><c/></b></a>", 0, 0, 0, {kIncl, kExcl},
     "<a xmlns=\"http://a\"><b xmlns=\"\"><c></c></b></a>"},
    {"<a><b xmlns=''/></a>", 0, 0, 0, {kIncl}, "<a><b></b></a>"},
    {"<r xmlns:p='http://p'><p:c xmlns:p='http://p'/><p:d xmlns:p='http://q'/></r>", 0, 0, 0, {kIncl},
     "<r xmlns:p=\"http://p\"><p:c></p:c><p:d xmlns:p=\"http://q\"></p:d></r>"},
    {"<r xmlns:xml='http://www.w3.org/XML/1998/namespace' xml:lang='en'/>", 0, 0, 0, {kIncl},
     "<r xml:lang=\"en\"></r>"},
    {"<r xmlns:u='http://u' xmlns:p='http://p'><p:c/><c xmlns:a='http://a' a:x='1'/></r>", 0, 0, 0,
     {kExcl}, "<r><p:c xmlns:p=\"http://p\"></p:c><c xmlns:a=\"http://a\" a:x=\"1\"></c></r>"},
    {"<r a='&#9;&quot;&lt;>&#10;&#13;&amp;'>&#13;&amp;&lt;&gt;\t\"<![CDATA[<&>]]></r>", 0, 0, 0,
     {kIncl}, "<r a=\"&#x9;&quot;&lt;>&#xA;&#xD;&amp;\">&#xD;&amp;&lt;&gt;\t\"&lt;&amp;&gt;</r>"},
    {"<?pi data?><!--c1--><r><!--in--></r><!--c2--><?end?>", 0, 0, 0, {kInclC, kExclC},
     "<?pi data?>\n<!--c1-->\n<r><!--in--></r>\n<!--c2-->\n<?end?>"},
    {"<?pi data?><!--c1--><r><!--in--></r><!--c2--><?end?>", 0, 0, 0, {kIncl, kExcl},
     "<?pi data?>\n<r></r>\n<?end?>"},
    {"<?pi?><r><?pi   ?></r><!--c-->", 0, 0, 0, {kInclC}, "<?pi?>\n<r><?pi?></r>\n<!--c-->"},
    {"<!DOCTYPE r [<!ENTITY e 'x'>]><r a='\xF0\x9F\x98\x80'>&e;</r>", 0, 0, 0, {kIncl},
     "<r a=\"\xF0\x9F\x98\x80\">x</r>"},
    {"<r xmlns:u='http://u'><!--c--></r>", 0, 0, 0, {static_cast<DOMCanonicalizer::Mode>(7)},
     "<r xmlns:u=\"http://u\"></r>"},
    // Subsets: inclusive apexes carry every declaration in force, exclusive ones what they use.
    {"<r xmlns:a='http://a' xmlns='http://d' xmlns:b='http://b'><m><e b:x='1'><a:f/></e></m></r>",
     "e", 0, 0, {kIncl}, "<e xmlns=\"http://d\" xmlns:a=\"http://a\" xmlns:b=\"http://b\" b:x=\"1\"><a:f></a:f></e>"},
    {"<r xmlns:a='http://a' xmlns='http://d' xmlns:b='http://b'><m><e b:x='1'><a:f/></e></m></r>",
     "e", 0, 0, {kExcl}, "<e xmlns=\"http://d\" xmlns:b=\"http://b\" b:x=\"1\"><a:f xmlns:a=\"http://a\"></a:f></e>"},
    {"<r xmlns:a='http://a' xmlns='http://d' xmlns:b='http://b'><m><e b:x='1'><a:f/></e></m></r>",
     "e", 0, PREFIX_A, {kExcl}, "<e xmlns=\"http://d\" xmlns:a=\"http://a\" xmlns:b=\"http://b\" b:x=\"1\"><a:f></a:f></e>"},
    {"<r xmlns='http://d' xmlns:p='http://p'><p:e/></r>", "e", 0, DEFAULT_PREFIX, {kExcl},
     "<p:e xmlns=\"http://d\" xmlns:p=\"http://p\"></p:e>"},
    {"<r xmlns='http://r'><x xmlns=''><y/></x><z/></r>", "x", 0, 0, {kIncl}, "<x><y></y></x>"},
    {"<r xmlns='http://r'><x xmlns=''><y/></x><z/></r>", "x", 0, EMIT_NULL_APEX, {kIncl, kExcl},
     "<x xmlns=\"\"><y></y></x>"},
    {"<r xmlns='http://r'><x xmlns=''><y/></x><z/></r>", "z", 0, EMIT_NULL_APEX, {kIncl},
     "<z xmlns=\"http://r\"></z>"},
    {"<r><c/></r>", 0, 0, EMIT_NULL_APEX, {kIncl}, "<r xmlns=\"\"><c></c></r>"},
    // xml: attributes in force above an apex, in inclusive mode only.
    {"<r xml:lang='en' xml:space='preserve'><m xml:lang='de'><e b='1' xmlns:n='http://n' n:a='2'/>"
     "<f xml:lang='fr'/></m></r>", "e", 0, 0, {kIncl},
     "<e xmlns:n=\"http://n\" b=\"1\" n:a=\"2\" xml:lang=\"de\" xml:space=\"preserve\"></e>"},
    {"<r xml:lang='en' xml:space='preserve'><m xml:lang='de'><e b='1' xmlns:n='http://n' n:a='2'/>"
     "<f xml:lang='fr'/></m></r>", "e", 0, 0, {kExcl}, "<e xmlns:n=\"http://n\" b=\"1\" n:a=\"2\"></e>"},
    {"<r xml:lang='en' xml:space='preserve'><m xml:lang='de'><e/><f xml:lang='fr'/></m></r>", "m", 0,
     0, {kIncl}, "<m xml:lang=\"de\" xml:space=\"preserve\"><e></e><f xml:lang=\"fr\"></f></m>"},
    // An excluded subtree goes with its attributes, in either order of the conjunction.
    {"<r><s Id='x'><a x='1'><b/>t</a><sig><v/></sig><c/></s></r>", "s", "sig", 0, {kIncl, kExcl},
     "<s Id=\"x\"><a x=\"1\"><b></b>t</a><c></c></s>"},
};

// U+FF21 is one UTF-16 unit; U+10400 is a pair, which sorts below it by unit but above it by
// code point, the order of canonical XML (and of UTF-8 bytes).
#define FF21 "\xEF\xBC\xA1"
#define D10400 "\xF0\x90\x90\x80"

const Case kCodePointCases[] = {
    {"<r " D10400 "='1' " FF21 "='2' b='3'/>", 0, 0, 0, {kIncl, kExclC},
     "<r b=\"3\" " FF21 "=\"2\" " D10400 "=\"1\"></r>"},
    {"<r xmlns:" D10400 "='urn:b' xmlns:" FF21 "='urn:a' " D10400 ":x='1' " FF21 ":x='2'/>", 0, 0, 0,
     {kIncl, kExcl}, "<r xmlns:" FF21 "=\"urn:a\" xmlns:" D10400 "=\"urn:b\" " FF21 ":x=\"2\" " D10400 ":x=\"1\"></r>"},
    {"<r xmlns:p='urn:" D10400 "' xmlns:q='urn:" FF21 "' p:a='1' q:a='2'/>", 0, 0, 0, {kIncl},
     "<r xmlns:p=\"urn:" D10400 "\" xmlns:q=\"urn:" FF21 "\" q:a=\"2\" p:a=\"1\"></r>"},
};

void check(const Case* begin, const Case* end) {
    for (const Case* c = begin; c != end; ++c) {
        SCOPED_TRACE(c->input);
        DocumentPtr doc = parse(c->input);
        CanonicalizerParameters p;
        p.emitNullApexXMLNS(c->options & EMIT_NULL_APEX);
        if (c->options & PREFIX_A) p.unsuppressedNamespacePrefix(u"a");
        if (c->options & DEFAULT_PREFIX) p.unsuppressedNamespacePrefix(nullptr);
        for (DOMCanonicalizer::Mode mode : c->modes) {
            SCOPED_TRACE(mode);
            NodeSet::Filter* f = c->apex ? new NodeTreeFilter(find(doc, c->apex)) : nullptr;
            if (c->exclude) {
                NodeSet::Filter* out = new NotFilter(new NodeTreeFilter(find(doc, c->exclude)));
                // Either order of the conjunction.
                f = !f ? out : mode == kIncl ? new AndFilter(f, out) : new AndFilter(out, f);
            }
            EXPECT_EQ(c->expected, canonicalize(doc.get(), f, mode, &p));
        }
    }
}

}  // namespace

TEST(DOMCanonicalizer, WholeDocumentsAndSubtrees) { check(std::begin(kCases), std::end(kCases)); }

TEST(DOMCanonicalizer, SortsAttributesAndDeclarationsByCodePoint) {
    check(std::begin(kCodePointCases), std::end(kCodePointCases));
}

TEST(DOMCanonicalizer, NodesOutsideTheSetLeaveTheirContentAndDeclarationsInPlace) {
    DocumentPtr doc = parse("<r xmlns:p='http://p'><m xmlns='http://d' z='1'><p:c/>t<e/></m></r>");
    DOMElement* m = find(doc, "m");
    // The element's attribute is still in the set: it is written without a start tag.
    EXPECT_EQ("<r xmlns:p=\"http://p\"> z=\"1\"<p:c xmlns=\"http://d\"></p:c>t<e xmlns=\"http://d\"></e></r>",
              canonicalize(doc.get(), new NotFilter(only(m)), kIncl));
    EXPECT_EQ("<r> z=\"1\"<p:c xmlns:p=\"http://p\"></p:c>t<e xmlns=\"http://d\"></e></r>",
              canonicalize(doc.get(), new NotFilter(only(m)), kExcl));
    EXPECT_EQ(" z=\"1\"", canonicalize(doc.get(), only(m->getAttributeNode(u"z")), kIncl));
    EXPECT_EQ("t", canonicalize(doc.get(), new NodeTypeFilter(DOMNode::TEXT_NODE), kIncl));
    // Namespace-expanded sets write no declaration at all, inherited xml: attributes neither.
    DocumentPtr x = parse("<r xmlns:p='http://p' xmlns='http://d' xml:lang='en'><p:c/><e a='1'/></r>");
    EXPECT_EQ("<r xml:lang=\"en\"><p:c></p:c><e a=\"1\"></e></r>",
              canonicalize(x.get(), nullptr, kIncl, nullptr, true));
    EXPECT_EQ("<e a=\"1\"></e>", canonicalize(x.get(), new NodeTreeFilter(find(x, "e")), kIncl, nullptr, true));
    // An attribute as the root.
    DOMAttr* a = find(x, "e")->getAttributeNode(u"a");
    EXPECT_EQ(" a=\"1\"", canonicalize(a, nullptr, kIncl));
    EXPECT_EQ("", canonicalize(a, new ConstantFilter(false), kIncl));
}

TEST(DOMCanonicalizer, ReplacementsUseTheirOwnContextAndMustNotRecurse) {
    DocumentPtr doc = parse("<r xmlns:p='http://p'><a><x/></a><p:b>t</p:b><c/></r>");
    CanonicalizerParameters p;
    p.replacementNodeSet(find(doc, "a"), new NodeSet(find(doc, "b"), nullptr, nullptr, false));
    p.replacementNodeSet(find(doc, "c"), new NodeSet(find(doc, "b"), nullptr, nullptr, false));
    EXPECT_EQ("<r xmlns:p=\"http://p\"><p:b xmlns:p=\"http://p\">t</p:b><p:b>t</p:b>"
              "<p:b xmlns:p=\"http://p\">t</p:b></r>",
              canonicalize(doc.get(), nullptr, kIncl, &p));
    // A replaced element is replaced even when it lies outside the set.
    EXPECT_EQ("<p:b xmlns:p=\"http://p\">t</p:b>t<p:b xmlns:p=\"http://p\">t</p:b>",
              canonicalize(doc.get(), new NodeTypeFilter(DOMNode::TEXT_NODE), kIncl, &p));

    // A replacement containing what it replaces, directly or through another one, fails; what
    // was written before stays in the sink.
    p.replacementNodeSet(find(doc, "b"), new NodeSet(doc.get(), nullptr, nullptr, false));
    NodeSet all(doc.get(), nullptr, nullptr, false);
    BufferSink sink;
    EXPECT_EQ("13006: Recursive replacement node set", failure(doc.get(), kIncl, &p));
    try {
        DOMCanonicalizer::canonicalize(&all, &sink, kIncl, &p);
    } catch (const Exception&) {
    }
    EXPECT_EQ("<r xmlns:p=\"http://p\"><r xmlns:p=\"http://p\">", bytes(sink));
}

TEST(DOMCanonicalizer, Failures) {
    struct Failure {
        const char* input;
        DOMCanonicalizer::Mode mode;
        const char* expected;
    };
    const Failure kFailures[] = {
        {"<r xmlns='relative'/>", kIncl, "13006: Invalid relative namespace URI: xmlns=\"relative\""},
        {"<p:r xmlns:p='rel'/>", kExcl, "13006: Invalid relative namespace URI: xmlns:p=\"rel\""},
        {"<r xmlns:p='rel'/>", kIncl, "13006: Invalid relative namespace URI: xmlns:p=\"rel\""},
        {"<r><e xmlns='a/b'/></r>", kExcl, "13006: Invalid relative namespace URI: xmlns=\"a/b\""},
        {"<r xmlns:p='rel'/>", kExcl, ""},  // unused, so never bound
        {"<r xmlns=''/>", kIncl, ""},      // no default namespace is not a relative one
    };
    for (const Failure& f : kFailures) {
        SCOPED_TRACE(f.input);
        EXPECT_EQ(f.expected, failure(parse(f.input).get(), f.mode));
    }
    // Ancestors of the root bind in inclusive mode.
    DocumentPtr doc = parse("<!DOCTYPE r [<!ENTITY e 'x'>]><r xmlns:q='rel'><e/></r>");
    EXPECT_EQ("13006: Invalid relative namespace URI: xmlns:q=\"rel\"", failure(find(doc, "e"), kIncl));
    EXPECT_EQ("", failure(find(doc, "e"), kExcl));
    DOMNode* entity = doc->getDoctype()->getEntities()->item(0);
    EXPECT_EQ("13006: Uncanonicalizable node: Type 6", failure(entity, kIncl));
    EXPECT_EQ("", canonicalize(entity, new ConstantFilter(false), kIncl));
}

TEST(DOMCanonicalizer, WritesUtf16ToACharacterSink) {
    DocumentPtr doc = parse("<r a=\"&#x10000;\">\xC3\xA9</r>");
    NodeSet nodes(doc.get(), nullptr, nullptr, false);
    RecordingSink sink;
    DOMCanonicalizer::canonicalize(&nodes, &sink, kIncl, nullptr);
    EXPECT_EQ(u"<r a=\"\U00010000\">\u00e9</r>", sink.text());
    EXPECT_FALSE(sink.closed);
}

// Nested elements that each declare a new prefix once made every element copy its parent's
// scope: 8,000 levels took seconds and 20,000 would have needed some 3 GB.
TEST(DOMCanonicalizer, NestedDeclarationsNeedNoScopeCopies) {
    const int depth = 20000;
    std::string xml, bare;
    for (int i = 0; i < depth; ++i) {
        xml += "<e xmlns:p" + std::to_string(i) + "=\"urn:" + std::to_string(i) + "\">";
        bare += "<e>";
    }
    for (int i = 0; i < depth; ++i) xml += "</e>", bare += "</e>";
    DocumentPtr doc = parse(xml, depthLimits(depth));
    EXPECT_TRUE(xml == canonicalize(doc.get(), nullptr, kIncl));
    EXPECT_TRUE(bare == canonicalize(doc.get(), nullptr, kExcl));
}
