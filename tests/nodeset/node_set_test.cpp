#include "nodeset/trees.h"

#include "foundation/internal.h"

#include <cstdlib>
#include <utility>

using namespace nodeset_test;

namespace {

struct ObservedRefCount : DocumentRefCount {
    ObservedRefCount(DOMDocument* d, unsigned int initial, int* destroyed)
        : DocumentRefCount(d, initial), destroyed_(destroyed) {}
    ~ObservedRefCount() override { ++*destroyed_; }
    int* destroyed_;
};

// Fails the one allocation after it is armed; everything else comes from the C heap.
struct FailingAllocator : Allocator {
    bool armed = false;
    void* alloc(unsigned int size) override {
        return std::exchange(armed, false) ? nullptr : std::malloc(size ? size : 1);
    }
    void free(void* block) override { std::free(block); }
};

}  // namespace

TEST(NodeSet, ClonesShareTheDocumentRefCount) {
    Small n;
    int destroyed = 0;
    RefCount* count = new ObservedRefCount(n.doc.release(), 0, &destroyed);
    NodeSet* source = new NodeSet(n.a, new NotFilter(new NodeTypeFilter(3)), count, true);
    NodeSet* copy = source->clone();
    EXPECT_EQ(2u, static_cast<unsigned int>(*count));
    EXPECT_TRUE(copy->namespaceExpanded());
    delete source;
    EXPECT_EQ(0, destroyed);
    // The document outlives the source: reading it is fine (and checked by the sanitizers).
    EXPECT_TRUE(copy->contains(n.b1));
    EXPECT_FALSE(copy->contains(n.t));
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
            int status = 0;
            RefCount* alone = new ObservedRefCount(nullptr, 0, &destroyed);
            RefCount* shared = new ObservedRefCount(nullptr, 1, &destroyed);
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
