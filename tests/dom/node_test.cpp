#include "dom/dom_internal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

using namespace amxml_test;

namespace {

Exception thrown(DOMElement* element, DOMAttr* attr) {
    try {
        AMXML_Element_setIdAttributeNode(element, attr);
    } catch (const Exception& e) {
        return e;
    }
    return Exception(0, "none");
}

}  // namespace

TEST(DOMUtilRelations, CompareSiblings) {
    DocumentPtr d = parse("<!--c--><r x='1' y='2'><a/>t<b><c/></b></r><?p?>");
    DOMElement* r = d->getDocumentElement();
    DOMNode* a = r->getFirstChild();
    DOMNode* t = a->getNextSibling();
    DOMNode* b = r->getLastChild();
    DOMNode* c = b->getFirstChild();
    EXPECT_EQ(0, DOMUtil::compareSiblings(a, a));
    EXPECT_EQ(-1, DOMUtil::compareSiblings(a, t));
    EXPECT_EQ(-1, DOMUtil::compareSiblings(a, b));
    EXPECT_EQ(1, DOMUtil::compareSiblings(b, a));
    EXPECT_EQ(0, DOMUtil::compareSiblings(b, c));
    EXPECT_EQ(0, DOMUtil::compareSiblings(a, c));
    EXPECT_EQ(-1, DOMUtil::compareSiblings(d->getFirstChild(), r));
    EXPECT_EQ(1, DOMUtil::compareSiblings(d->getLastChild(), r));
    EXPECT_EQ(0, DOMUtil::compareSiblings(r, nullptr));
    // Attributes have no siblings in the DOM.
    EXPECT_EQ(0, DOMUtil::compareSiblings(r->getAttributeNode(u"x"), r->getAttributeNode(u"y")));
}

TEST(DOMUtilRelations, ParentAndOwnerDocument) {
    DocumentPtr d = parse("<r x='1'><a/></r>");
    DOMElement* r = d->getDocumentElement();
    DOMAttr* x = r->getAttributeNode(u"x");
    EXPECT_EQ(r, DOMUtil::getParentNode(x));
    EXPECT_EQ(nullptr, x->getParentNode());
    EXPECT_EQ(r, DOMUtil::getParentNode(r->getFirstChild()));
    EXPECT_EQ(d.get(), DOMUtil::getParentNode(r));
    EXPECT_EQ(nullptr, DOMUtil::getParentNode(d.get()));
    EXPECT_EQ(d.get(), DOMUtil::getOwnerDocument(d.get()));
    EXPECT_EQ(nullptr, d->getOwnerDocument());
    EXPECT_EQ(d.get(), DOMUtil::getOwnerDocument(x));
    EXPECT_EQ(d.get(), DOMUtil::getOwnerDocument(r->getFirstChild()));
}

TEST(DOMUtilRelations, SetIdAttributeNode) {
    DocumentPtr d = parse("<r><a Id='s'/><b Ref='t'/></r>");
    DOMElement* a = static_cast<DOMElement*>(d->getDocumentElement()->getFirstChild());
    DOMElement* b = static_cast<DOMElement*>(a->getNextSibling());
    EXPECT_EQ(nullptr, d->getElementById(u"s"));
    AMXML_Element_setIdAttributeNode(a, a->getAttributeNode(u"Id"));
    EXPECT_EQ(a, d->getElementById(u"s"));
    AMXML_Element_setIdAttributeNode(a, a->getAttributeNode(u"Id"));
    EXPECT_TRUE(a->getAttributeNode(u"Id")->isId());
    // An attribute the element does not have is refused the way the DOM refuses it.
    Exception e = thrown(a, b->getAttributeNode(u"Ref"));
    EXPECT_EQ(1008, e.id());
    EXPECT_EQ(0u, utf8(e.what().str()).find("NOT_FOUND_ERR: "));
}
