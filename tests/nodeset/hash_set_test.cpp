#include <random>

#include "nodeset/trees.h"

using namespace nodeset_test;

// Members are only compared, never dereferenced, so made-up addresses do.
static DOMNode* fake(std::uintptr_t address) { return reinterpret_cast<DOMNode*>(address); }

// The model: random inserts (duplicates included), removals while iterating (in some rounds of
// every member, so of the first of every bucket before its follower), and copies and assignments
// changed afterwards on either side.
TEST(NodeHashSet, MatchesAModelThroughInsertsRemovalsAndCopies) {
    std::mt19937_64 rng(3);
    // Pool-like runs of nearby addresses mixed with scattered ones, high bits included.
    std::vector<DOMNode*> pool;
    for (int i = 0; i < 300; ++i) pool.push_back(fake(0x7f0000001000ull + 56ull * i));
    for (int i = 0; i < 300; ++i) pool.push_back(fake(rng() & ~std::uint64_t(7)));
    NodeHashSet set(0);
    Nodes model;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        for (int i = 0; i < 50; ++i) {
            DOMNode* n = pool[rng() % pool.size()];
            set.insert(n);
            model.insert(n);
        }
        const Nodes before = model;
        NodeHashSet copy(set), assigned;
        assigned.insert(fake(8));
        assigned = set;
        unsigned int visits = 0;
        for (NodeHashSet::iterator it = set.begin(); it != set.end(); ++it, ++visits) {
            if (round % 10 == 9 || rng() % 3 == 0) {
                model.erase(*it);
                it.remove();
            }
        }
        ASSERT_EQ(before.size(), visits);
        ASSERT_EQ(model.size(), set.size());
        for (DOMNode* n : pool) ASSERT_EQ(model.count(n) == 1, set.contains(n));
        ASSERT_EQ(model, members(set));
        ASSERT_EQ(before, members(assigned));
        for (DOMNode* n : pool) copy.insert(n);  // past the capacity of buckets copied full
        ASSERT_EQ(Nodes(pool.begin(), pool.end()), members(copy));
    }
}
