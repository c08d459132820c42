#include <gtest/gtest.h>

#include "binding/vocabulary.h"

using namespace vocabulary;

namespace {

const XMLCh kP[] = u"urn:p";
const XMLCh* const Any = ElementIterator::Any;
const XMLCh* const Other = ElementIterator::Other;

std::string failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return printed(e);
    }
    return "none";
}

}  // namespace

TEST(ElementIterator, SkipsBlanksAndCommentsAndReadsSimpleContent) {
    DocumentPtr d = parse("<r><a>\n <!--c-->\n</a><a>a<!--c--> <![CDATA[b]]></a><a>x <b/></a></r>");
    DecodeContext context;
    DOMElement* a = static_cast<DOMElement*>(d->getDocumentElement()->getFirstChild());
    ElementIterator blank(a, &context),
        simple(static_cast<DOMElement*>(a->getNextSibling()), &context),
        mixed(static_cast<DOMElement*>(a->getNextSibling()->getNextSibling()), &context);
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
        const XMLCh* ns;
        const XMLCh* local;
        bool onB, onC;
    } kCases[] = {
        {Any, Any, true, true},        {kP, Any, true, false},    {u"urn:q", Any, false, false},
        {nullptr, Any, false, true},   {kP, Other, false, true},  {u"urn:q", Other, true, true},
        {nullptr, Other, true, false}, {kP, u"b", true, false},   {kP, u"c", false, false},
        {nullptr, u"c", false, true},  {Any, u"b", false, false},
    };
    for (bool onB : {true, false}) {
        for (const auto& c : kCases)
            EXPECT_EQ(onB ? c.onB : c.onC, it.hasNextElement(c.ns, c.local));
        if (onB) it.nextElement(kP, u"b");
    }
    EXPECT_EQ("Ambrite::XML::Exception 13053: No next b in a: c",
              failure([&] { it.nextElement(kP, u"b"); }));
}

// Text, unclaimed nodes and registered elements; factories that stand in for their parent
// names, a circle of parents, and an iterator without a provider.
TEST(ElementIterator, CreatesStructuresThroughTheProvider) {
    DocumentPtr d = parse(
        "<a xmlns='urn:example:sig'>t<?p?><u/><Transform Algorithm='x'/>"
        "<DigestValue>AA==</DigestValue><x:A xmlns:x='urn:p'/></a>");
    const QualifiedName base(kDs, u"Base", false), a(kP, u"A", false), b(kP, u"B", false);
    const Factory derived([] { return new Value; }, &base), ab([] { return new Value; }, &b),
        ba([] { return new Value; }, &a);
    Vocabulary v;
    v.provider.element(&v.names[2], &derived);
    v.provider.element(&a, &ab);
    v.provider.element(&b, &ba);
    DecodeContext context, bare;
    context.install(&v.provider);
    ElementIterator it(d->getDocumentElement(), &context), without(d->getDocumentElement(), &bare);
    EXPECT_FALSE(without.hasNextStructure(nullptr));
    for (int type : {1, 2, 2, 11})
        EXPECT_EQ(type, std::unique_ptr<XStructure>(it.nextStructure(nullptr))->structureType());
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
