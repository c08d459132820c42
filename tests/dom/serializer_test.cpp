#include "support/test_support.h"

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

using namespace amxml_test;

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string serialized(DOMNode* node, const DOMSerializer::Parameters* p = nullptr) {
    BufferSink sink;
    DOMSerializer::serialize(node, sink, p);
    return bytes(sink);
}

DOMElement* child(DOMNode* n, int i) {
    return static_cast<DOMElement*>(n->getChildNodes()->item(static_cast<XMLSize_t>(i)));
}

}  // namespace

TEST(DOMSerializer, DocumentsByteForByte) {
    struct Case {
        const char* input;
        const char* output;  // after the declaration
    };
    const Case kCases[] = {
        {"<a b='x&quot;y'>1&lt;2</a>", "<a b=\"x&quot;y\">1&lt;2</a>\n"},
        {"<a><b/><c></c></a>", "<a><b /><c /></a>\n"},
        {"<!--b--><?p d?><a><!--i--><?q?></a><!--c--><?r x?>",
         "<!--b-->\n<?p d?>\n<a><!--i--><?q?></a>\n<!--c-->\n<?r x?>\n"},
        {"<a/><!--c-->", "<a />\n<!--c-->\n"},
        {"<a>&#13;\t\n\"'&amp;&gt;</a>", "<a>&#xD;\t\n\"'&amp;&gt;</a>\n"},
        {"<a b='&#9;&#10;&#13;&quot;&amp;&lt;&gt;&apos;'/>",
         "<a b=\"&#x9;&#xA;&#xD;&quot;&amp;&lt;>'\" />\n"},
        {"<a><![CDATA[<&>]]></a>", "<a>&lt;&amp;&gt;</a>\n"},
        {"<!DOCTYPE a [<!ENTITY e \"<b>t</b>\">]><a>&e;&amp;</a>",
         "<!DOCTYPE a [<!ENTITY e \"<b>t</b>\">]>\n<a><b>t</b>&amp;</a>\n"},
        {"<!DOCTYPE a SYSTEM 'q\"s'><a/>", "<!DOCTYPE a SYSTEM 'q\"s'>\n<a />\n"},
        {"<!DOCTYPE a SYSTEM \"s\"><a/>", "<!DOCTYPE a SYSTEM \"s\">\n<a />\n"},
        {"<!DOCTYPE a PUBLIC \"-//p\" \"s\"><a/>", "<!DOCTYPE a PUBLIC \"-//p\" \"s\">\n<a />\n"},
        {"<!DOCTYPE a []><a/>", "<!DOCTYPE a []>\n<a />\n"},
        {"<a xmlns='u' xmlns:p='v'><p:b><c xmlns=''/></p:b></a>",
         "<a xmlns=\"u\" xmlns:p=\"v\"><p:b><c xmlns=\"\" /></p:b></a>\n"},
        {"<a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</a>",
         "<a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</a>\n"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(kDecl + c.output, serialized(parse(c.input).get()));
    }
}

TEST(DOMSerializer, SubtreesAndParameters) {
    DocumentPtr d = parse("<!--c--><r><a/><b x='1'>t</b><c/></r><!--d-->");
    DOMElement* b = child(d->getDocumentElement(), 1);
    DOMSerializer::Parameters plain(false, nullptr, nullptr, nullptr);
    EXPECT_EQ("<b x=\"1\">t</b>", serialized(b, &plain));
    EXPECT_EQ(kDecl + "<b x=\"1\">t</b>\n", serialized(b));
    EXPECT_EQ(" x=\"1\"", serialized(b->getAttributeNode(u"x"), &plain));
    EXPECT_EQ("<!--c-->\n", serialized(d->getFirstChild(), &plain));
    EXPECT_EQ("\n<!--d-->", serialized(d->getLastChild(), &plain));
    // A document always ends with a line break.
    EXPECT_EQ("<!--c-->\n<r><a /><b x=\"1\">t</b><c /></r>\n<!--d-->\n",
              serialized(d.get(), &plain));

    DOMSerializer::Parameters doctype(true, u"s\"q", u"p", u"<!ENTITY e 'v'>");
    EXPECT_EQ(kDecl + "<!DOCTYPE b PUBLIC \"p\" 's\"q' [<!ENTITY e 'v'>]>\n<b x=\"1\">t</b>\n",
              serialized(b, &doctype));
    // A public id alone is not written; the parameters replace the document's own DOCTYPE.
    DOMSerializer::Parameters publicOnly(false, nullptr, u"p", nullptr);
    EXPECT_EQ("<!DOCTYPE r>\n<!--c-->\n<r><a /><b x=\"1\">t</b><c /></r>\n<!--d-->\n",
              serialized(d.get(), &publicOnly));
}

TEST(DOMSerializer, DoctypeWithoutDocumentElementIsLeftOut) {
    DocumentPtr d(DOMUtil::newDocument());
    DOMSerializer::Parameters p(true, u"s", nullptr, u"x");
    EXPECT_EQ(kDecl + "\n", serialized(d.get(), &p));
    d->appendChild(d->createComment(u"only"));
    EXPECT_EQ(kDecl + "<!--only-->\n\n", serialized(d.get(), &p));
}

TEST(DOMSerializer, DefaultNamespaceUndeclaration) {
    DocumentPtr d(DOMUtil::newDocument());
    const XMLCh* kXmlnsNS = u"http://www.w3.org/2000/xmlns/";
    DOMElement* top = d->createElement(u"top");
    d->appendChild(top);
    DOMElement* prefixed = d->createElementNS(u"urn:p", u"p:e");
    prefixed->setAttributeNS(kXmlnsNS, u"xmlns", u"urn:d");
    DOMElement* inDefault = d->createElementNS(u"urn:d", u"f");
    DOMElement* undeclared = d->createElementNS(u"urn:p", u"p:g");
    undeclared->setAttributeNS(kXmlnsNS, u"xmlns", u"");
    top->appendChild(prefixed)->appendChild(d->createElement(u"c"));
    top->appendChild(inDefault)->appendChild(d->createElement(u"c"));
    top->appendChild(undeclared)->appendChild(d->createElement(u"c"));
    DOMSerializer::Parameters plain(false, nullptr, nullptr, nullptr);
    EXPECT_EQ(
        "<top><p:e xmlns=\"urn:d\"><c xmlns=\"\" /></p:e><f><c xmlns=\"\" /></f>"
        "<p:g xmlns=\"\"><c /></p:g></top>",
        serialized(top, &plain));
    // The serialized node itself and searches reaching it add nothing.
    EXPECT_EQ("<c />", serialized(prefixed->getFirstChild(), &plain));
    EXPECT_EQ("<f><c /></f>", serialized(inDefault, &plain));
}

TEST(DOMSerializer, CharacterSinkWithoutEncoding) {
    DocumentPtr d = parse("<a>\xF0\x9F\x98\x80</a>");
    RecordingSink sink;
    DOMSerializer::serialize(d.get(), sink, nullptr);
    EXPECT_EQ(u"<?xml version=\"1.0\"?>\n<a>\U0001F600</a>\n", sink.text());
    EXPECT_FALSE(sink.closed);
}

TEST(DOMSerializer, DeepTreesNeedNoRecursion) {
    DocumentPtr d(DOMUtil::newDocument());
    const int depth = 200000;
    // Built from the bottom up: appending below a deep node costs its depth.
    DOMNode* n = d->createTextNode(u"x");
    for (int i = 0; i < depth; ++i) {
        DOMElement* e = d->createElement(u"e");
        e->appendChild(n);
        n = e;
    }
    d->appendChild(n);
    std::string out = serialized(d.get());
    ASSERT_EQ(kDecl.size() + depth * 7 + 2, out.size());
    EXPECT_EQ("<e><e>", out.substr(kDecl.size(), 6));
    EXPECT_EQ("<e>x</e></e>", out.substr(kDecl.size() + depth * 3 - 3, 12));
    EXPECT_EQ("</e>\n", out.substr(out.size() - 5));
}
