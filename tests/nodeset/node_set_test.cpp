#include "nodeset/trees.h"

#include "foundation/internal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace nodeset_test;

namespace {

const char kDoc[] = "<r><s x='1'/><e a='1' b='2'><c d='3'>text<!--k--></c></e></r>";

class ObservedRefCount : public DocumentRefCount {
public:
    ObservedRefCount(xercesc::DOMDocument* d, unsigned int initial, int* destroyed)
        : DocumentRefCount(d, initial), destroyed_(destroyed) {}
    ~ObservedRefCount() override { ++*destroyed_; }

private:
    int* destroyed_;
};

// Fails the one allocation after it is armed; everything else comes from the C heap.
class FailingAllocator : public Allocator {
public:
    void* alloc(unsigned int size) override {
        if (armed) {
            armed = false;
            return nullptr;
        }
        return std::malloc(size ? size : 1);
    }
    void free(void* block) override { std::free(block); }
    bool armed = false;
};

}  // namespace

TEST(NodeSet, WithoutFilterContainsTheWholeSubtree) {
    Doc d = load(kDoc);
    DOMElement* e = el(d.get(), u"e");
    NodeSet set(e, nullptr, nullptr, false);
    ASSERT_EQ(NodeSet::Filter::CONSTANT_FILTER, set.filter()->type());
    EXPECT_TRUE(static_cast<const ConstantFilter*>(set.filter())->constant());
    EXPECT_EQ(nullptr, set.refCount());
    DOMElement* c = el(d.get(), u"c");
    for (DOMNode* in : {(DOMNode*)e, (DOMNode*)at(e, u"a"), (DOMNode*)at(e, u"b"), (DOMNode*)c,
                        (DOMNode*)at(c, u"d"), c->getFirstChild(), c->getLastChild()}) {
        EXPECT_TRUE(set.contains(in)) << utf8(in->getNodeName());
    }
    DOMElement* s = el(d.get(), u"s");
    for (DOMNode* out :
         {(DOMNode*)d.get(), (DOMNode*)el(d.get(), u"r"), (DOMNode*)s, (DOMNode*)at(s, u"x")}) {
        EXPECT_FALSE(set.contains(out)) << utf8(out->getNodeName());
    }
    EXPECT_FALSE(set.contains(nullptr));
}

TEST(NodeSet, AsksTheFilterOnlyInsideTheRoot) {
    Doc d = load(kDoc);
    int calls = 0;
    DOMElement* e = el(d.get(), u"e");
    NodeSet set(e, new Probe(true, &calls, nullptr), nullptr, false);
    EXPECT_FALSE(set.contains(el(d.get(), u"s")));
    EXPECT_FALSE(set.contains(d->getDocumentElement()));
    EXPECT_EQ(0, calls);
    EXPECT_TRUE(set.contains(at(e, u"a")));
    EXPECT_EQ(1, calls);

    NodeSet attribute(at(e, u"a"), nullptr, nullptr, false);
    EXPECT_TRUE(attribute.contains(at(e, u"a")));
    EXPECT_FALSE(attribute.contains(e));
    EXPECT_FALSE(attribute.contains(at(e, u"b")));
}

TEST(NodeSet, ClonesShareTheDocumentRefCount) {
    Doc d = load(kDoc);
    DOMElement* e = el(d.get(), u"e");
    DOMNode* text = el(d.get(), u"c")->getFirstChild();
    int destroyed = 0;
    RefCount* count = new ObservedRefCount(d.release(), 0, &destroyed);
    NodeSet* source = new NodeSet(e, new NotFilter(new NodeTypeFilter(8)), count, true);
    EXPECT_EQ(1u, static_cast<unsigned int>(*count));
    NodeSet* copy = source->clone();
    EXPECT_EQ(2u, static_cast<unsigned int>(*count));
    EXPECT_EQ(count, copy->refCount());
    EXPECT_EQ(e, copy->root());
    EXPECT_TRUE(copy->namespaceExpanded());
    EXPECT_NE(source->filter(), copy->filter());
    delete source;
    EXPECT_EQ(1u, static_cast<unsigned int>(*count));
    EXPECT_EQ(0, destroyed);
    // The document is still alive: reading it is fine (and checked by the sanitizers).
    EXPECT_TRUE(copy->contains(text));
    EXPECT_FALSE(copy->contains(text->getNextSibling()));
    EXPECT_EQ(u"text", std::u16string(text->getNodeValue()));
    delete copy;
    EXPECT_EQ(1, destroyed);
}

TEST(NodeSetDeathTest, FailedConstructionReleasesTheShare) {
    // The allocator can only be replaced in a fresh process state, so this runs in a child.
    EXPECT_EXIT(
        {
            internal::resetAllocator();
            static FailingAllocator failing;
            allocator(&failing);
            int destroyed = 0;
            RefCount* alone = new ObservedRefCount(nullptr, 0, &destroyed);
            RefCount* shared = new ObservedRefCount(nullptr, 1, &destroyed);
            int status = 0;
            for (RefCount* count : {alone, shared}) {
                failing.armed = true;
                try {
                    NodeSet set(nullptr, nullptr, count, false);
                    status |= 1;
                } catch (const Exception& x) {
                    if (x.id() != 18) status |= 2;
                }
            }
            if (destroyed != 1 || static_cast<unsigned int>(*shared) != 1) status |= 4;
            std::_Exit(status);
        },
        ::testing::ExitedWithCode(0), "");
}
