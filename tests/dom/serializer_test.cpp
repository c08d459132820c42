// The serializer's output byte for byte, also swept (each allocation failing in turn): documents,
// nodes, parameters, namespaces, escaping, and XML 1.1 documents, which stay XML 1.1 and write as
// references the characters XML 1.1 takes only so (or reads as line breaks), so that the output
// parses to the same document.
#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const std::string kDecl11 = "<?xml version=\"1.1\" encoding=\"UTF-8\"?>\n";

std::u16string escaped(void (*escape)(const XMLCh*, CharacterSink&), const std::u16string& v) {
    RecordingSink sink;
    escape(v.c_str(), sink);
    return sink.text();
}

}  // namespace

TEST(DOMSerializer, DocumentsByteForByte) {
    const std::pair<std::string, std::string> kCases[] = {
        {"<a><b/><c></c></a>", "<a><b /><c /></a>"},
        {"<!--b--><?p d?><a><!--i--><?q?></a><!--c--><?r x?>",
         "<!--b-->\n<?p d?>\n<a><!--i--><?q?></a>\n<!--c-->\n<?r x?>"},
        {"<a/><!--c-->", "<a />\n<!--c-->"},
        {"<a>&#13;\t\n\"'&amp;&gt;<![CDATA[<&>]]>\xC3\xA9\xF0\x9F\x98\x80</a>",
         "<a>&#xD;\t\n\"'&amp;&gt;&lt;&amp;&gt;\xC3\xA9\xF0\x9F\x98\x80</a>"},
        {"<a b='&#9;&#10;&#13;&quot;&amp;&lt;&gt;&apos;'/>",
         "<a b=\"&#x9;&#xA;&#xD;&quot;&amp;&lt;>'\" />"},
        {"<!DOCTYPE a [<!ENTITY e \"<b>t</b>\">]><a>&e;&amp;</a>",
         "<!DOCTYPE a [<!ENTITY e \"<b>t</b>\">]>\n<a><b>t</b>&amp;</a>"},
        {"<!DOCTYPE a SYSTEM \"s\"><a/>", "<!DOCTYPE a SYSTEM \"s\">\n<a />"},
        {"<!DOCTYPE a PUBLIC \"-//p\" \"s\"><a/>", "<!DOCTYPE a PUBLIC \"-//p\" \"s\">\n<a />"},
        {"<!DOCTYPE a []><a/>", "<!DOCTYPE a []>\n<a />"},
        {"<a xmlns='u' xmlns:p='v'><p:b><c xmlns=''/></p:b></a>",
         "<a xmlns=\"u\" xmlns:p=\"v\"><p:b><c xmlns=\"\" /></p:b></a>"},
        // C1 controls and line separators are ordinary characters in XML 1.0.
        {"<a b='\xC2\x85'>\xC2\x80&#x85;\xE2\x80\xA8</a>",
         "<a b=\"\xC2\x85\">\xC2\x80\xC2\x85\xE2\x80\xA8</a>"},
    };
    for (const auto& [in, out] : kCases) {
        DocumentPtr d = parse(in);
        EXPECT_EQ(kDecl + out + "\n", serialized(d.get())) << in;
        EXPECT_GT(sweep([&] { serialized(d.get()); }), 0u);
    }
}

// Subtrees, document-level nodes and documents, with and without a declaration: parameters
// replace the document's own DOCTYPE, and a document always ends with a line break.
TEST(DOMSerializer, NodesAndParameters) {
    DocumentPtr d = parse("<!--c--><r><a/><b x='1'>t</b><c/></r><!--d-->");
    DocumentPtr empty(DOMUtil::newDocument()), comment(DOMUtil::newDocument());
    comment->appendChild(comment->createComment(u"only"));
    DOMElement* b = static_cast<DOMElement*>(d->getDocumentElement()->getChildNodes()->item(1));
    const DOMSerializer::Parameters plain(false, nullptr, nullptr, nullptr),
        doctype(true, u"s\"q", u"p", u"<!ENTITY e 'v'>"), publicOnly(false, nullptr, u"p", nullptr),
        system(true, u"s", nullptr, u"x");
    const std::string body = "<!--c-->\n<r><a /><b x=\"1\">t</b><c /></r>\n<!--d-->\n";
    const std::tuple<DOMNode*, const DOMSerializer::Parameters*, std::string> kCases[] = {
        {b->getAttributeNode(u"x"), &plain, " x=\"1\""},
        {d->getFirstChild(), &plain, "<!--c-->\n"},
        {d->getLastChild(), &plain, "\n<!--d-->"},
        {d.get(), &plain, body},
        {b, &doctype,
         kDecl + "<!DOCTYPE b PUBLIC \"p\" 's\"q' [<!ENTITY e 'v'>]>\n<b x=\"1\">t</b>\n"},
        {d.get(), &publicOnly, "<!DOCTYPE r>\n" + body},  // a public id alone is not written
        // Without a document element there is nothing to name a DOCTYPE after.
        {empty.get(), &system, kDecl + "\n"},
        {comment.get(), &system, kDecl + "<!--only-->\n\n"},
    };
    for (const auto& [node, parameters, expected] : kCases) {
        EXPECT_EQ(expected, serialized(node, parameters));
        EXPECT_GT(sweep([&, n = node, p = parameters] { serialized(n, p); }), 0u);
    }
}

// Children made through the DOM in no namespace get xmlns="" where a default namespace is in
// force: below an element in one or one declaring it, also through prefixed elements; the
// serialized node itself and what is above it add nothing.
TEST(DOMSerializer, DefaultNamespaceUndeclaration) {
    DocumentPtr d = parse(
        "<top xmlns:p='urn:p'><p:e xmlns='urn:d'><p:h/></p:e>"
        "<f xmlns='urn:d'/><p:g xmlns=''/></top>");
    for (const XMLCh* name : {u"p:e", u"p:h", u"f", u"p:g"}) {
        d->getElementsByTagName(name)->item(0)->appendChild(d->createElement(u"c"));
    }
    DOMNode* f = d->getElementsByTagName(u"f")->item(0);
    DOMSerializer::Parameters plain(false, nullptr, nullptr, nullptr);
    EXPECT_EQ(
        "<top xmlns:p=\"urn:p\"><p:e xmlns=\"urn:d\"><p:h><c xmlns=\"\" /></p:h><c xmlns=\"\" />"
        "</p:e><f xmlns=\"urn:d\"><c xmlns=\"\" /></f><p:g xmlns=\"\"><c /></p:g></top>",
        serialized(d->getDocumentElement(), &plain));
    EXPECT_EQ("<f xmlns=\"urn:d\"><c /></f>", serialized(f, &plain));
    EXPECT_EQ("<c />", serialized(f->getFirstChild(), &plain));
}

// No encoding in the declaration, no close; and a deep tree is written without recursion.
TEST(DOMSerializer, CharacterSinksAndDeepTrees) {
    DocumentPtr small = parse("<a>\xF0\x9F\x98\x80</a>");
    RecordingSink sink;
    DOMSerializer::serialize(small.get(), sink, nullptr);
    EXPECT_EQ(u"<?xml version=\"1.0\"?>\n<a>\U0001F600</a>\n", sink.text());
    EXPECT_FALSE(sink.closed);
    sweep([&] {
        RecordingSink swept;
        DOMSerializer::serialize(small.get(), swept, nullptr);
    });
    DocumentPtr d(DOMUtil::newDocument());
    DOMNode* n = d->createTextNode(u"x");  // built bottom up: appending below costs the depth
    for (int i = 0; i < 200000; ++i) n = d->createElement(u"e")->appendChild(n)->getParentNode();
    d->appendChild(n);
    EXPECT_TRUE(kDecl + repeat("<e>", 200000) + "x" + repeat("</e>", 200000) + "\n" ==
                serialized(d.get()));
}

// Every unit below 0x40 between two letters, and some units above, which are never replaced.
TEST(Escape, ReplacesExactlyTheTableEntries) {
    const std::u16string attrUnits = u"\t\n\r\"&<", textUnits = u"\r&<>";
    const std::u16string attr[] = {u"&#x9;", u"&#xA;", u"&#xD;", u"&quot;", u"&amp;", u"&lt;"};
    const std::u16string text[] = {u"&#xD;", u"&amp;", u"&lt;", u"&gt;"};
    for (char16_t u = 1; u < 0x40; ++u) {
        SCOPED_TRACE(static_cast<int>(u));
        const std::u16string unit(1, u), value = u"a" + unit + u"b";
        const std::size_t a = attrUnits.find(u), t = textUnits.find(u), none = std::u16string::npos;
        EXPECT_EQ(u"a" + (a == none ? unit : attr[a]) + u"b", escaped(escapeAttr, value));
        EXPECT_EQ(u"a" + (t == none ? unit : text[t]) + u"b", escaped(escapeText, value));
    }
    const std::u16string high = u"@\x7F\xE9\x20AC\xD83D\xDE00\xFFFF";
    EXPECT_EQ(high, escaped(escapeAttr, high));
    EXPECT_EQ(high, escaped(escapeText, high));
    RecordingSink none;
    escapeAttr(nullptr, none);
    escapeText(nullptr, none);
    EXPECT_EQ(u"", none.text());
}

// A subtree takes the version of its document.
TEST(DOMSerializerXml11, KeepsTheVersionAndWritesControlsAsReferences) {
    DocumentPtr d11 = parse("<?xml version='1.1'?><r><a>&#x3;</a></r>");
    const DOMSerializer::Parameters bare(false, nullptr, nullptr, nullptr);
    EXPECT_EQ(kDecl11 + "<a>&#x3;</a>\n", serialized(d11->getDocumentElement()->getFirstChild()));
    EXPECT_EQ("<a>&#x3;</a>", serialized(d11->getDocumentElement()->getFirstChild(), &bare));
    const std::pair<std::string, std::string> kCases[] = {
        {"<?xml version='1.1'?><a>&#x1;&#x8;&#xB;&#xC;&#xE;&#x1F;</a>",
         "<a>&#x1;&#x8;&#xB;&#xC;&#xE;&#x1F;</a>"},
        {"<?xml version='1.1'?><a>&#x7F;&#x80;&#x84;&#x85;&#x86;&#x9F;&#xA0;&#x2028;&#x2029;</a>",
         "<a>&#x7F;&#x80;&#x84;&#x85;&#x86;&#x9F;\xC2\xA0&#x2028;\xE2\x80\xA9</a>"},
        // Tab, line feed and carriage return keep the references of XML 1.0.
        {"<?xml version='1.1'?><a b='&#x9;&#xA;&#xD;&#x1;&#x85;'>&#x9;&#xA;&#xD;</a>",
         "<a b=\"&#x9;&#xA;&#xD;&#x1;&#x85;\">\t\n&#xD;</a>"},
        // Long runs, so that eight units are looked at together, and a control at their end.
        {"<?xml version='1.1'?><a b='0123456789abcdef&#x2;'>0123456789abcdef&#x80;xyz</a>",
         "<a b=\"0123456789abcdef&#x2;\">0123456789abcdef&#x80;xyz</a>"},
        // Raw C1 controls are no XML 1.1 characters; references in CDATA sections are text.
        {"<?xml version='1.1'?><a><![CDATA[&#x80;<]]>\xF0\x9F\x98\x80</a>",
         "<a>&amp;#x80;&lt;\xF0\x9F\x98\x80</a>"},
    };
    for (const auto& [in, out] : kCases) {
        SCOPED_TRACE(in);
        DocumentPtr d = parse(in);
        const std::string written = serialized(d.get());
        EXPECT_EQ(kDecl11 + out + "\n", written);
        // The output is XML 1.1 that reads back as the same document.
        DocumentPtr again = parse(written);
        EXPECT_EQ(u16(d->getDocumentElement()->getTextContent()),
                  u16(again->getDocumentElement()->getTextContent()));
        EXPECT_EQ(u16(d->getDocumentElement()->getAttribute(u"b")),
                  u16(again->getDocumentElement()->getAttribute(u"b")));
    }
}
