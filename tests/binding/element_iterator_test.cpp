#include <gtest/gtest.h>

#include "binding/vocabulary.h"

using namespace vocabulary;

namespace {

const XMLCh P[] = u"urn:p";
const XMLCh* const Any = ElementIterator::Any;
const XMLCh* const Other = ElementIterator::Other;

}  // namespace

TEST(ElementIterator, SkipsBlanksAndCommentsAndReadsSimpleContent) {
    DocumentPtr d = parse("<r><a>\n <!--c-->\n</a><a>a<!--c--> <![CDATA[b]]></a><a>x <b/></a></r>");
    DecodeContext context;
    DOMNode* a = d->getDocumentElement()->getFirstChild();
    ElementIterator blank(static_cast<DOMElement*>(a), &context);
    ElementIterator simple(static_cast<DOMElement*>(a->getNextSibling()), &context);
    ElementIterator mixed(static_cast<DOMElement*>(a->getNextSibling()->getNextSibling()),
                          &context);
    EXPECT_FALSE(blank.hasNextNode());
    blank.assertEmpty();
    EXPECT_EQ(u"a b", u16(OwnedString(simple.simpleContent()).get()));
    EXPECT_FALSE(simple.hasNextNode());
    EXPECT_EQ(u"x ", u16(OwnedString(mixed.simpleContent()).get()));
    EXPECT_EQ("Ambrite::XML::Exception 13053: Trailing b in a",
              failure([&] { mixed.assertEmpty(); }));
}

TEST(ElementIterator, MatchesElementsByNameAndWildcard) {
    DocumentPtr d = parse("<a xmlns:p='urn:p'><p:b/><c/></a>");
    DecodeContext context;
    ElementIterator it(d->getDocumentElement(), &context);
    const struct {
        const XMLCh *ns, *local;
        bool onB, onC;
    } kCases[] = {
        {Any, Any, 1, 1}, {P, Any, 1, 0},        {u"urn:q", Any, 0, 0},  {nullptr, Any, 0, 1},
        {P, Other, 0, 1}, {u"q", Other, 1, 1},   {nullptr, Other, 1, 0}, {P, u"b", 1, 0},
        {P, u"c", 0, 0},  {nullptr, u"c", 0, 1}, {Any, u"b", 0, 0},
    };
    for (bool onB : {true, false}) {
        for (const auto& c : kCases)
            EXPECT_EQ(onB ? c.onB : c.onC, it.hasNextElement(c.ns, c.local));
        if (onB) it.nextElement(P, u"b");
    }
    EXPECT_EQ("Ambrite::XML::Exception 13053: No next b in a: c",
              failure([&] { it.nextElement(P, u"b"); }));
}

// Text, unclaimed nodes and registered elements; factories that stand in for their parent's
// name, a circle of parents, and an iterator without a provider.
TEST(ElementIterator, CreatesStructuresThroughTheProvider) {
    DocumentPtr d = parse(
        "<a xmlns='urn:example:sig'>t<?p?><u/><Transform Algorithm='x'/>"
        "<DigestValue>AA==</DigestValue><x:A xmlns:x='urn:p'/></a>");
    const QualifiedName base(kDs, u"Base", false), mid(kDs, u"Mid", false), a(P, u"A", false),
        b(P, u"B", false);
    const Factory<Value> derived(&mid), middle(&base), ab(&b), ba(&a);
    Vocabulary v;
    v.provider.element(&v.names[2], &derived);
    v.provider.element(&mid, &middle);
    v.provider.element(&a, &ab);
    v.provider.element(&b, &ba);
    DecodeContext context, bare;
    context.install(&v.provider);
    ElementIterator it(d->getDocumentElement(), &context), without(d->getDocumentElement(), &bare);
    EXPECT_FALSE(without.hasNextStructure(nullptr));
    for (int type : {1, 2, 2, 11}) {
        EXPECT_EQ(type, std::unique_ptr<XStructure>(it.nextStructure(nullptr))->structureType());
    }
    EXPECT_TRUE(it.hasNextStructure(&base));
    EXPECT_FALSE(it.hasNextStructure(&a));
    EXPECT_EQ("Ambrite::XML::Exception 13053: No next A in a: DigestValue",
              failure([&] { it.nextStructure(&a); }));
    it.nextNode();
    EXPECT_FALSE(it.hasNextStructure(&base));
    EXPECT_TRUE(it.hasNextStructure(&b));
    it.nextNode();
    const std::pair<std::function<void()>, const char*> kCases[] = {
        {[&] { it.nextNode(); }, "No next node in a"},
        {[&] { it.nextStructure(&a); }, "No next A in a: Null"},
        {[&] { it.nextStructure(nullptr); }, "No next structure in a: Null"},
        {[&] { it.attribute(nullptr, u"id", true); }, "No id attribute in a"},
        {[&] {
             without.nextNode(), without.nextNode(), without.nextNode();
             without.hasNextStructure(nullptr);
         },
         "Provider not installed"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(std::string("Ambrite::XML::Exception 13053: ") + c.second, failure(c.first));
    }
}
