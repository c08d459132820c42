// Hash sets, filters, node sets and their iteration with their first, second, third...
// allocation failing: each run ends in success or Exception 18 and leaves nothing behind.
#include "nodeset/trees.h"

using namespace nodeset_test;

TEST(AllocationFailure, HashSetsAndFilters) {
    Small n;
    EXPECT_GT(sweep([&] {
                  NodeHashSet set(1), assigned;
                  for (DOMNode* node : n.all) set.insert(node);
                  NodeHashSet copy(set);
                  assigned = set;
                  for (NodeHashSet::iterator it = copy.begin(); it != copy.end(); ++it) it.remove();
              }),
              0u);
    const NodeHashSet roots = hashSet({n.a, n.o});
    std::unique_ptr<NodeSet::Filter> f(
        both(new OrFilter(new NodeTreeFilter(roots), new NodeSetFilter(roots)), notTree(n.b)));
    EXPECT_GT(sweep([&] {
                  std::unique_ptr<NodeSet::Filter>(f->clone());
                  std::unique_ptr<NodeSet::Filter>(new NodeTreeFilter(n.a));
              }),
              0u);
}

// A node set that cannot be made drops the share of the count it was given, and only that. A
// clone shares the count, is namespace-expanded as its source, and outlives it with a filter of
// its own.
TEST(AllocationFailure, NodeSetsAndIterators) {
    Small n;
    std::unique_ptr<RefCount> shared(new RefCount(1));
    std::unique_ptr<NodeSet::Filter> f(both(both(tree(n.a), notTree(n.b)), new NodeTypeFilter(1)));
    EXPECT_GT(sweep([&] {
                  NodeSet alone(n.r, nullptr, new RefCount(0), false);
                  std::unique_ptr<NodeSet> set(new NodeSet(n.r, f->clone(), shared.get(), true));
                  std::unique_ptr<NodeSet> copy(set->clone());
                  EXPECT_EQ(3u, static_cast<unsigned int>(*shared));
                  EXPECT_TRUE(copy->namespaceExpanded());
                  set.reset();
                  EXPECT_TRUE(copy->contains(n.a2));
                  EXPECT_FALSE(copy->contains(n.b1));
              }),
              0u);
    EXPECT_EQ(1u, static_cast<unsigned int>(*shared));
    EXPECT_GT(sweep([&] {
                  NodeSet set(n.d, f->clone(), nullptr, false);
                  NodeSetIterator it(&set);
                  it.next();
                  NodeSetIterator copy(it);
                  while (copy.hasNext()) copy.next();
              }),
              0u);
}
