#include "nodeset/trees.h"

using namespace nodeset_test;

namespace {

struct ObservedRefCount : DocumentRefCount {
    ObservedRefCount(DOMDocument* d, unsigned int initial, int* destroyed)
        : DocumentRefCount(d, initial), destroyed_(destroyed) {}
    ~ObservedRefCount() override { ++*destroyed_; }
    int* destroyed_;
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
