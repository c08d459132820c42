#include "nodeset/trees.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>
#include <unordered_set>

using namespace nodeset_test;

namespace {

// Members are only compared, never dereferenced, so made-up addresses do.
DOMNode* fake(std::uint64_t address) {
    return reinterpret_cast<DOMNode*>(static_cast<std::uintptr_t>(address));
}

// The bucket a node belongs in: low 32 bits as a signed value, arithmetic shifts.
std::uint32_t bucketOf(DOMNode* n, std::uint32_t bucketCount) {
    std::int32_t p = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(n) & 0xFFFFFFFFu);
    return static_cast<std::uint32_t>(((p >> 5) ^ p) >> 2) & (bucketCount - 1);
}

std::vector<DOMNode*> members(NodeHashSet& set) {
    std::vector<DOMNode*> out;
    for (NodeHashSet::iterator it = set.begin(); it != set.end(); ++it) out.push_back(*it);
    return out;
}

// Two distinct made-up nodes that share bucket 0 of a 4-bucket set, plus one in bucket 1.
const std::uint64_t kBucket0a = 0x1000, kBucket0b = 0x1010, kBucket1 = 0x1004;

}  // namespace

TEST(NodeHashSet, InsertingTwiceKeepsOneMember) {
    NodeHashSet set;
    set.insert(fake(0x40));
    set.insert(fake(0x40));
    EXPECT_EQ(1u, set.size());
    EXPECT_TRUE(set.contains(fake(0x40)));
    EXPECT_FALSE(set.contains(fake(0x48)));
}

TEST(NodeHashSet, NinthInsertDoublesTheBuckets) {
    NodeHashSet set;
    for (std::uint64_t i = 1; i <= 8; ++i) set.insert(fake(i * 64));
    EXPECT_EQ(4u, set.bucketCount());
    set.insert(fake(9 * 64));
    EXPECT_EQ(8u, set.bucketCount());
    for (std::uint64_t i = 1; i <= 16; ++i) set.insert(fake(i * 64));
    EXPECT_EQ(8u, set.bucketCount());
    set.insert(fake(17 * 64));
    EXPECT_EQ(16u, set.bucketCount());
    EXPECT_EQ(17u, set.size());
    for (std::uint64_t i = 1; i <= 17; ++i) EXPECT_TRUE(set.contains(fake(i * 64))) << i;
}

TEST(NodeHashSet, BucketCountIsAPowerOfTwo) {
    EXPECT_EQ(4u, NodeHashSet(3).bucketCount());
    NodeHashSet one(0);
    EXPECT_EQ(1u, one.bucketCount());
    for (std::uint64_t i = 1; i <= 5; ++i) one.insert(fake(i * 8));
    EXPECT_EQ(5u, one.size());
    EXPECT_TRUE(one.contains(fake(40)));
}

TEST(NodeHashSet, RemovingEveryMemberInOnePassVisitsEachOnce) {
    NodeHashSet set;
    for (std::uint64_t i = 1; i <= 40; ++i) set.insert(fake(i * 24));
    std::set<DOMNode*> visited;
    for (NodeHashSet::iterator it = set.begin(); it != set.end(); ++it) {
        EXPECT_TRUE(visited.insert(*it).second);
        it.remove();
    }
    EXPECT_EQ(40u, visited.size());
    EXPECT_EQ(0u, set.size());
    EXPECT_TRUE(set.begin() == set.end());
    for (DOMNode* n : visited) EXPECT_FALSE(set.contains(n));
}

TEST(NodeHashSet, RemovingTheFirstOfABucketYieldsItsFollower) {
    ASSERT_EQ(bucketOf(fake(kBucket0a), 4), bucketOf(fake(kBucket0b), 4));
    NodeHashSet set;
    EXPECT_TRUE(set.begin() == set.end());
    set.insert(fake(kBucket0a));
    set.insert(fake(kBucket0b));
    set.insert(fake(kBucket1));
    NodeHashSet::iterator it = set.begin();
    ASSERT_EQ(fake(kBucket0a), *it);
    it.remove();
    ++it;
    ASSERT_TRUE(it != set.end());
    EXPECT_EQ(fake(kBucket0b), *it);
    it.remove();  // the last of its bucket: the next ++ goes to the next bucket
    ++it;
    EXPECT_EQ(fake(kBucket1), *it);
    ++it;
    EXPECT_TRUE(it == set.end());
    EXPECT_EQ(1u, set.size());
    EXPECT_EQ(std::vector<DOMNode*>{fake(kBucket1)}, members(set));
}

TEST(NodeHashSet, CopiesAreIndependent) {
    NodeHashSet source;
    for (std::uint64_t i = 1; i <= 12; ++i) source.insert(fake(i * 16));
    NodeHashSet copy(source);
    EXPECT_EQ(source.bucketCount(), copy.bucketCount());
    EXPECT_EQ(members(source), members(copy));
    // A bucket copied full must still grow.
    for (std::uint64_t i = 13; i <= 200; ++i) copy.insert(fake(i * 16));
    EXPECT_EQ(12u, source.size());
    EXPECT_FALSE(source.contains(fake(13 * 16)));

    NodeHashSet assigned;
    assigned.insert(fake(8));
    assigned = source;
    EXPECT_FALSE(assigned.contains(fake(8)));
    EXPECT_EQ(members(source), members(assigned));
    assigned = assigned;
    EXPECT_EQ(12u, assigned.size());
    assigned.begin().remove();
    EXPECT_EQ(12u, source.size());
}

TEST(NodeHashSet, ClearKeepsBuckets) {
    NodeHashSet set;
    for (std::uint64_t i = 1; i <= 20; ++i) set.insert(fake(i * 32));
    unsigned int buckets = set.bucketCount();
    set.clear();
    EXPECT_EQ(0u, set.size());
    EXPECT_EQ(buckets, set.bucketCount());
    EXPECT_TRUE(set.begin() == set.end());
    for (std::uint64_t i = 1; i <= 20; ++i) EXPECT_FALSE(set.contains(fake(i * 32)));
    set.insert(fake(32));
    EXPECT_EQ(1u, set.size());
}

TEST(NodeHashSet, MatchesAModelAfterRandomInsertsAndRemovals) {
    std::mt19937_64 rng(3);
    // Pool-like runs of nearby addresses mixed with scattered ones, high bits included.
    std::vector<DOMNode*> pool;
    for (int i = 0; i < 300; ++i) pool.push_back(fake(0x7f0000001000ull + 56ull * i));
    for (int i = 0; i < 300; ++i) pool.push_back(fake(rng() & ~std::uint64_t(7)));
    NodeHashSet set;
    std::unordered_set<DOMNode*> model;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        for (int i = 0; i < 50; ++i) {
            DOMNode* n = pool[rng() % pool.size()];
            set.insert(n);
            model.insert(n);
        }
        unsigned int visits = 0, before = set.size();
        for (NodeHashSet::iterator it = set.begin(); it != set.end(); ++it) {
            ++visits;
            if (rng() % 3 == 0) {
                model.erase(*it);
                it.remove();
            }
        }
        ASSERT_EQ(before, visits);
        ASSERT_EQ(model.size(), set.size());
        for (DOMNode* n : pool) ASSERT_EQ(model.count(n) == 1, set.contains(n));
        std::vector<DOMNode*> listed = members(set);
        ASSERT_EQ(model, std::unordered_set<DOMNode*>(listed.begin(), listed.end()));
    }
}

TEST(NodeHashSet, SpreadsTheNodesOfALargeDocument) {
    std::ostringstream xml;
    xml << "<r xmlns:p='urn:p'>";
    for (int i = 0; i < 100000; ++i) xml << "<e a='" << i << "' p:b='x'>t" << i << "</e>";
    xml << "</r>";
    Doc d = load(xml.str());
    ASSERT_TRUE(d);
    NodeHashSet set;
    std::vector<DOMNode*> stack(1, d.get());
    while (!stack.empty()) {
        DOMNode* n = stack.back();
        stack.pop_back();
        set.insert(n);
        if (DOMNamedNodeMap* attributes = n->getAttributes()) {
            for (XMLSize_t i = 0; i < attributes->getLength(); ++i) set.insert(attributes->item(i));
        }
        for (DOMNode* c = n->getFirstChild(); c; c = c->getNextSibling()) stack.push_back(c);
    }
    EXPECT_EQ(1u + 2u + 100000u * 4u, set.size());
    EXPECT_LE(set.longestBucket(), 16u);
}
