#include <gtest/gtest.h>

#include <tuple>

#include "binding/vocabulary.h"
#include "support/test_support.h"

using namespace amxml_test;
using namespace vocabulary;

namespace {

const XMLCh P[] = u"urn:p";
const XMLCh* const Any = ElementIterator::Any;
const XMLCh* const Other = ElementIterator::Other;

}  // namespace

TEST(ElementIterator, MatchesElementsByNameAndWildcard) {
    DocumentPtr d = parse("<a xmlns:p='urn:p'><p:b/><c/></a>");
    DecodeContext context;
    ElementIterator it(d->getDocumentElement(), &context);
    // Namespace, local name, whether they match <p:b/> and <c/>.
    const std::tuple<const XMLCh*, const XMLCh*, bool, bool> kCases[] = {
        {Any, Any, 1, 1}, {P, Any, 1, 0},         {nullptr, Any, 0, 1},
        {P, Other, 0, 1}, {nullptr, Other, 1, 0}, {P, u"b", 1, 0},
        {P, u"c", 0, 0},  {nullptr, u"c", 0, 1},  {Any, u"b", 0, 0},
    };
    for (bool onB : {true, false}) {
        for (const auto& [ns, local, b, c] : kCases)
            EXPECT_EQ(onB ? b : c, it.hasNextElement(ns, local));
        if (onB) it.nextElement(P, u"b");
    }
}

// Text, unclaimed nodes and registered elements; factories that stand in for their parent's
// name, a circle of parents, an iterator without a provider, and a registry in which equal names
// replace key and value.
TEST(ElementIterator, CreatesStructuresThroughTheProvider) {
    DocumentPtr d = parse(
        "<a xmlns='urn:example:sig'>t<?p?><u/><Transform Algorithm='x'/>"
        "<DigestValue>AA==</DigestValue><x:A xmlns:x='urn:p'/></a>");
    const QualifiedName base(kDs, u"Base", false), mid(kDs, u"Mid", false), a(P, u"A", false),
        b(P, u"B", false), digest(kDs, u"DigestValue", false);
    const Factory<Value> derived(&mid), middle(&base), ab(&b), ba(&a);
    struct : Algorithm {
    } first, second;
    const std::u16string uri = u"urn:a";
    Vocabulary v;
    v.provider.element(&digest, &derived);
    v.provider.element(&mid, &middle);
    v.provider.element(&a, &ab);
    v.provider.element(&b, &ba);
    v.provider.algorithm(u"urn:a", &first);
    v.provider.algorithm(uri.c_str(), &second);
    EXPECT_EQ(&digest, v.provider.elementMap().find(&digest)->key);
    ASSERT_EQ(1u, v.provider.algorithmMap().size());
    EXPECT_TRUE(v.provider.algorithmMap().begin()->key == uri.c_str() &&
                v.provider.algorithmMap().begin()->value == &second);
    DecodeContext context, bare;
    context.install(&v.provider);
    ElementIterator it(d->getDocumentElement(), &context), without(d->getDocumentElement(), &bare);
    EXPECT_FALSE(without.hasNextStructure(nullptr));
    for (int type : {1, 2, 2, 11})
        EXPECT_EQ(type, std::unique_ptr<XStructure>(it.nextStructure(nullptr))->structureType());
    EXPECT_TRUE(it.hasNextStructure(&base));
    EXPECT_EQ("13053: No next A in a: DigestValue", thrown([&] { it.nextStructure(&a); }));
    it.nextNode();
    EXPECT_FALSE(it.hasNextStructure(&base));
    EXPECT_TRUE(it.hasNextStructure(&b));
    it.nextNode();
    EXPECT_EQ("13053: No next node in a", thrown([&] { it.nextNode(); }));
    EXPECT_EQ("13053: No next structure in a: Null", thrown([&] { it.nextStructure(nullptr); }));
    without.nextNode(), without.nextNode(), without.nextNode();
    EXPECT_EQ("13053: Provider not installed", thrown([&] { without.hasNextStructure(nullptr); }));
}
