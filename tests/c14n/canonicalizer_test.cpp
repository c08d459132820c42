#include <ambrite/xml/c14n.h>

#include <gtest/gtest.h>
#include <functional>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;
using Ambrite::XML::C14n::CanonicalizerParameters;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

const DOMCanonicalizer::Mode kIncl = DOMCanonicalizer::CANONICAL;
const DOMCanonicalizer::Mode kInclComments = DOMCanonicalizer::CANONICAL_WITH_COMMENTS;
const DOMCanonicalizer::Mode kExcl = DOMCanonicalizer::EXCLUSIVE;
const DOMCanonicalizer::Mode kExclComments = DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS;

// The first element with this local name, in document order.
DOMElement* find(DOMNode* node, const char* localName) {
    std::u16string name = widen(localName);
    for (DOMNode* n = node; n; n = n->getNextSibling()) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE) {
            const XMLCh* l = n->getLocalName() ? n->getLocalName() : n->getNodeName();
            if (name == l) return static_cast<DOMElement*>(n);
        }
        if (DOMElement* e = find(n->getFirstChild(), localName)) return e;
    }
    return nullptr;
}

DOMElement* find(const DocumentPtr& doc, const char* localName) {
    DOMElement* e = find(doc->getDocumentElement(), localName);
    EXPECT_NE(nullptr, e) << localName;
    return e;
}

std::string canonicalize(DOMNode* root, NodeSet::Filter* filter, DOMCanonicalizer::Mode mode,
                         const CanonicalizerParameters* parameters = nullptr,
                         bool namespaceExpanded = false) {
    NodeSet nodes(root, filter, nullptr, namespaceExpanded);
    BufferSink sink;
    DOMCanonicalizer::canonicalize(&nodes, &sink, mode, parameters);
    return bytes(sink);
}

std::string whole(const std::string& xml, DOMCanonicalizer::Mode mode = kIncl) {
    DocumentPtr doc = parse(xml);
    return canonicalize(doc.get(), nullptr, mode);
}

// The subtree of the named element, as a subset of the whole document.
std::string subtree(const DocumentPtr& doc, const char* apex, DOMCanonicalizer::Mode mode,
                    const CanonicalizerParameters* parameters = nullptr) {
    return canonicalize(doc.get(), new NodeTreeFilter(find(doc, apex)), mode, parameters);
}

int failureId(const std::function<void()>& f, std::string* message) {
    try {
        f();
    } catch (const Exception& e) {
        *message = e.what().c_str();
        return e.id();
    }
    return 0;
}

struct Case {
    const char* name;
    const char* input;
    DOMCanonicalizer::Mode mode;
    const char* expected;
};

}  // namespace

TEST(DOMCanonicalizer, WholeDocuments) {
    const Case cases[] = {
        {"elements are never written as empty tags", "<r><e/></r>", kIncl, "<r><e></e></r>"},
        {"attributes without namespace by local name, then by namespace URI",
         "<r xmlns:y=\"http://y\"><e b=\"1\" a=\"2\" xmlns:z=\"http://z\" z:c=\"3\" y:d=\"4\"/></r>",
         kIncl,
         "<r xmlns:y=\"http://y\"><e xmlns:z=\"http://z\" a=\"2\" b=\"1\" y:d=\"4\" z:c=\"3\"></e></r>"},
        {"default declaration before prefixed ones, prefixed by prefix",
         "<r xmlns:b=\"http://1\" xmlns=\"http://d\" xmlns:a=\"http://2\"/>", kIncl,
         "<r xmlns=\"http://d\" xmlns:a=\"http://2\" xmlns:b=\"http://1\"></r>"},
        {"undeclaring the default namespace below one", "<a xmlns=\"http://a\"><b xmlns=\"\"><c/></b></a>",
         kIncl, "<a xmlns=\"http://a\"><b xmlns=\"\"><c></c></b></a>"},
        {"no empty declaration without a default namespace above", "<a><b xmlns=\"\"/></a>", kIncl,
         "<a><b></b></a>"},
        {"an element in no namespace below a default one", "<a xmlns=\"http://a\"><b xmlns=\"\"/></a>",
         kExcl, "<a xmlns=\"http://a\"><b xmlns=\"\"></b></a>"},
        {"a redeclaration with the same URI is dropped",
         "<r xmlns:p=\"http://p\"><p:c xmlns:p=\"http://p\"/></r>", kIncl,
         "<r xmlns:p=\"http://p\"><p:c></p:c></r>"},
        {"a redeclaration with another URI is kept",
         "<r xmlns:p=\"http://p\"><p:c xmlns:p=\"http://q\"/></r>", kIncl,
         "<r xmlns:p=\"http://p\"><p:c xmlns:p=\"http://q\"></p:c></r>"},
        {"the xml prefix is never declared",
         "<r xmlns:xml=\"http://www.w3.org/XML/1998/namespace\" xml:lang=\"en\"/>", kIncl,
         "<r xml:lang=\"en\"></r>"},
        {"exclusive: unused declarations go", "<r xmlns:u=\"http://u\" xmlns:p=\"http://p\"><p:c/></r>",
         kExcl, "<r><p:c xmlns:p=\"http://p\"></p:c></r>"},
        {"exclusive: attribute prefixes are visibly used",
         "<r xmlns:a=\"http://a\"><c a:x=\"1\"/></r>", kExcl,
         "<r><c xmlns:a=\"http://a\" a:x=\"1\"></c></r>"},
        {"escapes in text and attribute values",
         "<r a=\"&#9;&quot;&lt;>&#10;&#13;&amp;\">&#13;&amp;&lt;&gt;\t\"</r>", kIncl,
         "<r a=\"&#x9;&quot;&lt;>&#xA;&#xD;&amp;\">&#xD;&amp;&lt;&gt;\t\"</r>"},
        {"CDATA is written as text", "<r><![CDATA[<a & b>]]></r>", kIncl, "<r>&lt;a &amp; b&gt;</r>"},
        {"processing instructions and comments at document level, with comments",
         "<?pi data?><!--c1--><r><!--in--></r><!--c2--><?end?>", kInclComments,
         "<?pi data?>\n<!--c1-->\n<r><!--in--></r>\n<!--c2-->\n<?end?>"},
        {"comments dropped with their line feeds",
         "<?pi data?><!--c1--><r><!--in--></r><!--c2--><?end?>", kIncl, "<?pi data?>\n<r></r>\n<?end?>"},
        {"exclusive with comments keeps them", "<!--c1--><r/><!--c2-->", kExclComments,
         "<!--c1-->\n<r></r>\n<!--c2-->"},
        {"a trailing comment after an empty document element", "<r/><!--c-->", kInclComments,
         "<r></r>\n<!--c-->"},
        {"a processing instruction without data has no blank", "<?pi?><r><?pi   ?></r>", kIncl,
         "<?pi?>\n<r><?pi?></r>"},
        {"the document type produces nothing", "<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>", kIncl,
         "<r>x</r>"},
        {"characters above U+FFFF as one four-byte sequence", "<r a=\"\xF0\x9F\x98\x80\">\xF0\x9F\x98\x80</r>",
         kIncl, "<r a=\"\xF0\x9F\x98\x80\">\xF0\x9F\x98\x80</r>"},
        {"an unknown mode behaves as inclusive without comments", "<r xmlns:u=\"http://u\"><!--c--></r>",
         static_cast<DOMCanonicalizer::Mode>(7), "<r xmlns:u=\"http://u\"></r>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, whole(c.input, c.mode));
    }
}

TEST(DOMCanonicalizer, ApexCarriesInclusiveAncestorDeclarationsButOnlyUsedExclusiveOnes) {
    DocumentPtr doc = parse(
        "<r xmlns:a=\"http://a\" xmlns=\"http://d\" xmlns:b=\"http://b\"><m><e b:x=\"1\"><a:f/></e></m></r>");
    EXPECT_EQ("<e xmlns=\"http://d\" xmlns:a=\"http://a\" xmlns:b=\"http://b\" b:x=\"1\"><a:f></a:f></e>",
              subtree(doc, "e", kIncl));
    EXPECT_EQ("<e xmlns=\"http://d\" xmlns:b=\"http://b\" b:x=\"1\"><a:f xmlns:a=\"http://a\"></a:f></e>",
              subtree(doc, "e", kExcl));

    CanonicalizerParameters inclusiveA;
    inclusiveA.unsuppressedNamespacePrefix(u"a");
    EXPECT_EQ("<e xmlns=\"http://d\" xmlns:a=\"http://a\" xmlns:b=\"http://b\" b:x=\"1\"><a:f></a:f></e>",
              subtree(doc, "e", kExcl, &inclusiveA));

    CanonicalizerParameters inclusiveDefaultOnly;
    inclusiveDefaultOnly.unsuppressedNamespacePrefix(nullptr);
    DocumentPtr prefixed = parse("<r xmlns=\"http://d\" xmlns:p=\"http://p\"><p:e/></r>");
    EXPECT_EQ("<p:e xmlns:p=\"http://p\"></p:e>", subtree(prefixed, "e", kExcl));
    EXPECT_EQ("<p:e xmlns=\"http://d\" xmlns:p=\"http://p\"></p:e>",
              subtree(prefixed, "e", kExcl, &inclusiveDefaultOnly));
}

TEST(DOMCanonicalizer, EmptyDefaultDeclarationOnTheApexOnlyWhenAsked) {
    DocumentPtr doc = parse("<r xmlns=\"http://r\"><x xmlns=\"\"><y/></x><z/></r>");
    CanonicalizerParameters emit;
    emit.emitNullApexXMLNS(true);
    EXPECT_EQ("<x><y></y></x>", subtree(doc, "x", kIncl));
    EXPECT_EQ("<x xmlns=\"\"><y></y></x>", subtree(doc, "x", kIncl, &emit));
    EXPECT_EQ("<x xmlns=\"\"><y></y></x>", subtree(doc, "x", kExcl, &emit));
    // An apex in a namespace declares it either way.
    EXPECT_EQ("<z xmlns=\"http://r\"></z>", subtree(doc, "z", kIncl, &emit));
    EXPECT_EQ("<z xmlns=\"http://r\"></z>", subtree(doc, "z", kIncl));
    // Without a default namespace anywhere, the whole document gets xmlns="" on the top element.
    DocumentPtr plain = parse("<r><c/></r>");
    EXPECT_EQ("<r xmlns=\"\"><c></c></r>", canonicalize(plain.get(), nullptr, kIncl, &emit));
}

TEST(DOMCanonicalizer, XmlAttributesAreInheritedByAnApexInInclusiveModeOnly) {
    DocumentPtr doc = parse(
        "<r xml:lang=\"en\" xml:space=\"preserve\"><m xml:lang=\"de\"><e b=\"1\" xmlns:n=\"http://n\" n:a=\"2\"/>"
        "<f xml:lang=\"fr\"/></m></r>");
    EXPECT_EQ("<e xmlns:n=\"http://n\" b=\"1\" n:a=\"2\" xml:lang=\"de\" xml:space=\"preserve\"></e>",
              subtree(doc, "e", kIncl));
    EXPECT_EQ("<e xmlns:n=\"http://n\" b=\"1\" n:a=\"2\"></e>", subtree(doc, "e", kExcl));
    EXPECT_EQ("<f xml:lang=\"fr\" xml:space=\"preserve\"></f>", subtree(doc, "f", kIncl));
    // Inside an output parent nothing is inherited.
    EXPECT_EQ("<m xml:lang=\"de\" xml:space=\"preserve\"><e xmlns:n=\"http://n\" b=\"1\" n:a=\"2\"></e>"
              "<f xml:lang=\"fr\"></f></m>",
              subtree(doc, "m", kIncl));
}

TEST(DOMCanonicalizer, AttributesOfElementsOutsideTheSetAreWrittenAlone) {
    DocumentPtr doc = parse("<r><e b=\"2\" a=\"1\">t</e></r>");
    DOMElement* e = find(doc, "e");
    NodeHashSet members;
    members.insert(e->getAttributeNode(u"a"));
    members.insert(e->getFirstChild());
    EXPECT_EQ(" a=\"1\"t", canonicalize(doc.get(), new NodeSetFilter(members), kIncl));
    // Only the text nodes: no tags at all.
    EXPECT_EQ("t", canonicalize(doc.get(), new NodeTypeFilter(DOMNode::TEXT_NODE), kIncl));
}

TEST(DOMCanonicalizer, ExcludedSubtreesGoWithTheirAttributes) {
    DocumentPtr doc = parse("<r><s Id=\"signed\"><a x=\"1\"><b/>text</a><sig><v>1</v></sig><c/></s></r>");
    NodeSet::Filter* f = new AndFilter(new NodeTreeFilter(find(doc, "s")),
                                       new NotFilter(new NodeTreeFilter(find(doc, "sig"))));
    EXPECT_EQ("<s Id=\"signed\"><a x=\"1\"><b></b>text</a><c></c></s>", canonicalize(doc.get(), f, kIncl));
    NodeSet::Filter* reversed = new AndFilter(new NotFilter(new NodeTreeFilter(find(doc, "a"))),
                                              new NodeTreeFilter(find(doc, "s")));
    EXPECT_EQ("<s Id=\"signed\"><sig><v>1</v></sig><c></c></s>", canonicalize(doc.get(), reversed, kExcl));
    // A residual filter that rejects an element but not its content.
    NodeSet::Filter* noA = new AndFilter(new NodeTreeFilter(find(doc, "s")),
                                         new NotFilter(new NodeSetFilter([&] {
                                             NodeHashSet s;
                                             s.insert(find(doc, "a"));
                                             return s;
                                         }())));
    // Its attribute is still in the set, so it is written without a start tag.
    EXPECT_EQ("<s Id=\"signed\"> x=\"1\"<b></b>text<sig><v>1</v></sig><c></c></s>",
              canonicalize(doc.get(), noA, kIncl));
}

TEST(DOMCanonicalizer, NamespaceDeclarationsSurviveAnElementLeftOut) {
    // The declaring element is not in the set: its children declare what they need themselves.
    DocumentPtr doc = parse("<r xmlns:p=\"http://p\"><m xmlns=\"http://d\"><p:c/><e/></m></r>");
    NodeHashSet m;
    m.insert(find(doc, "m"));
    NodeSet::Filter* withoutM = new NotFilter(new NodeSetFilter(m));
    EXPECT_EQ("<r xmlns:p=\"http://p\"><p:c xmlns=\"http://d\"></p:c><e xmlns=\"http://d\"></e></r>",
              canonicalize(doc.get(), withoutM->clone(), kIncl));
    EXPECT_EQ("<r><p:c xmlns:p=\"http://p\"></p:c><e xmlns=\"http://d\"></e></r>",
              canonicalize(doc.get(), withoutM, kExcl));
}

TEST(DOMCanonicalizer, NamespaceExpandedSetsWriteNoDeclarations) {
    DocumentPtr doc = parse("<r xmlns:p=\"http://p\" xmlns=\"http://d\" xml:lang=\"en\"><p:c/><e a=\"1\"/></r>");
    EXPECT_EQ("<r xml:lang=\"en\"><p:c></p:c><e a=\"1\"></e></r>",
              canonicalize(doc.get(), nullptr, kIncl, nullptr, true));
    EXPECT_EQ("<e a=\"1\"></e>", canonicalize(doc.get(), new NodeTreeFilter(find(doc, "e")), kIncl,
                                              nullptr, true));
}

TEST(DOMCanonicalizer, ReplacementsUseTheirOwnNamespaceContext) {
    DocumentPtr doc = parse("<r xmlns:p=\"http://p\"><a><x/></a><p:b>t</p:b></r>");
    CanonicalizerParameters parameters;
    parameters.replacementNodeSet(find(doc, "a"), new NodeSet(find(doc, "b"), nullptr, nullptr, false));
    EXPECT_EQ("<r xmlns:p=\"http://p\"><p:b xmlns:p=\"http://p\">t</p:b><p:b>t</p:b></r>",
              canonicalize(doc.get(), nullptr, kIncl, &parameters));
    // A replaced element is replaced even when it lies outside the set.
    EXPECT_EQ("<p:b xmlns:p=\"http://p\">t</p:b>t",
              canonicalize(doc.get(), new NodeTypeFilter(DOMNode::TEXT_NODE), kIncl, &parameters));
}

TEST(DOMCanonicalizer, RecursiveReplacementFailsAndKeepsThePartialOutput) {
    DocumentPtr doc = parse("<r><a/><b/></r>");
    CanonicalizerParameters direct;
    direct.replacementNodeSet(find(doc, "a"), new NodeSet(doc.get(), nullptr, nullptr, false));
    NodeSet all(doc.get(), nullptr, nullptr, false);
    BufferSink sink;
    try {
        DOMCanonicalizer::canonicalize(&all, &sink, kIncl, &direct);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(13006, e.id());
        EXPECT_STREQ("Recursive replacement node set", e.what().c_str());
    }
    EXPECT_EQ("<r><r>", bytes(sink));

    // Through two replacements: a stands for b's subtree, b for a's.
    DocumentPtr two = parse("<r><a/><b/></r>");
    CanonicalizerParameters indirect;
    indirect.replacementNodeSet(find(two, "a"), new NodeSet(find(two, "b"), nullptr, nullptr, false));
    indirect.replacementNodeSet(find(two, "b"), new NodeSet(find(two, "a"), nullptr, nullptr, false));
    std::string message;
    EXPECT_EQ(13006, failureId([&] { canonicalize(two.get(), nullptr, kIncl, &indirect); }, &message));
    EXPECT_EQ("Recursive replacement node set", message);

    // The same node set used twice side by side is no recursion.
    DocumentPtr side = parse("<r><a/><b>x</b><c/></r>");
    CanonicalizerParameters twice;
    twice.replacementNodeSet(find(side, "a"), new NodeSet(find(side, "b"), nullptr, nullptr, false));
    twice.replacementNodeSet(find(side, "c"), new NodeSet(find(side, "b"), nullptr, nullptr, false));
    EXPECT_EQ("<r><b>x</b><b>x</b><b>x</b></r>", canonicalize(side.get(), nullptr, kIncl, &twice));
}

TEST(DOMCanonicalizer, AnAttributeAsRoot) {
    DocumentPtr doc = parse("<r xmlns:p=\"http://p\" p:a=\"x&lt;&quot;\"/>");
    DOMAttr* a = doc->getDocumentElement()->getAttributeNodeNS(u"http://p", u"a");
    EXPECT_EQ(" p:a=\"x&lt;&quot;\"", canonicalize(a, nullptr, kIncl));
    EXPECT_EQ("", canonicalize(a, new ConstantFilter(false), kIncl));
}

TEST(DOMCanonicalizer, RelativeNamespaceURIsFail) {
    struct Failure {
        const char* input;
        DOMCanonicalizer::Mode mode;
        const char* message;
    };
    const Failure failures[] = {
        {"<r xmlns=\"relative\"/>", kIncl, "Invalid relative namespace URI: xmlns=\"relative\""},
        {"<p:r xmlns:p=\"rel\"/>", kExcl, "Invalid relative namespace URI: xmlns:p=\"rel\""},
        {"<r xmlns:p=\"rel\"/>", kIncl, "Invalid relative namespace URI: xmlns:p=\"rel\""},
        {"<r><e xmlns=\"a/b\"/></r>", kExcl, "Invalid relative namespace URI: xmlns=\"a/b\""},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.input);
        std::string message;
        EXPECT_EQ(13006, failureId([&] { whole(f.input, f.mode); }, &message));
        EXPECT_EQ(f.message, message);
    }
    // Unused and undeclared in exclusive mode, a relative declaration is never bound.
    EXPECT_EQ("<r></r>", whole("<r xmlns:p=\"rel\"/>", kExcl));
    // An empty default declaration is not relative.
    EXPECT_EQ("<r></r>", whole("<r xmlns=\"\"/>", kIncl));
    // Ancestors of the root are checked too in inclusive mode.
    DocumentPtr doc = parse("<r xmlns:q=\"rel\"><e/></r>");
    std::string message;
    EXPECT_EQ(13006, failureId([&] { canonicalize(find(doc, "e"), nullptr, kIncl); }, &message));
    EXPECT_EQ("<e></e>", canonicalize(find(doc, "e"), nullptr, kExcl));
}

TEST(DOMCanonicalizer, IncludedEntityNodeIsUncanonicalizable) {
    DocumentPtr doc = parse("<!DOCTYPE r [<!ENTITY e \"x\">]><r/>");
    DOMNode* entity = doc->getDoctype()->getEntities()->item(0);
    ASSERT_NE(nullptr, entity);
    std::string message;
    EXPECT_EQ(13006, failureId([&] { canonicalize(entity, nullptr, kIncl); }, &message));
    EXPECT_EQ("Uncanonicalizable node: Type 6", message);
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

TEST(DOMCanonicalizer, DeepDocumentsNeedNoCallDepth) {
    const int depth = 100000;
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<e>";
    for (int i = 0; i < depth; ++i) xml += "</e>";
    DocumentPtr doc = parse(xml);
    std::string expected;
    for (int i = 0; i < depth; ++i) expected += "<e>";
    for (int i = 0; i < depth; ++i) expected += "</e>";
    EXPECT_EQ(expected, canonicalize(doc.get(), nullptr, kIncl));
    EXPECT_EQ(expected, canonicalize(doc.get(), nullptr, kExcl));
}
