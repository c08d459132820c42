#include <gtest/gtest.h>

#include <random>
#include <set>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

typedef MySet<const XMLCh*, StringComparator> StringSet;
typedef MySet<int, BasicComparator<int>> IntSet;
typedef MyMap<const XMLCh*, const XMLCh*, StringComparator> StringMap;

std::vector<int> contents(const IntSet& s) {
    std::vector<int> out;
    for (IntSet::iterator it = s.begin(); it != s.end(); ++it) out.push_back(*it);
    return out;
}

}  // namespace

TEST(MySet, OrdersAndKeepsFirstOfEquivalents) {
    const XMLCh a1[] = u"a";
    const XMLCh a2[] = u"a";
    StringSet s;
    s.insert(u"b");
    s.insert(a1);
    s.insert(u"c");
    s.insert(nullptr);
    s.insert(a2);
    ASSERT_EQ(4u, s.size());
    StringSet::iterator it = s.begin();
    EXPECT_EQ(nullptr, *it);
    EXPECT_EQ(a1, *++it);
    EXPECT_EQ(u"b", u16(*++it));
    EXPECT_EQ(u"c", u16(*++it));
    EXPECT_TRUE(++it == s.end());
    EXPECT_EQ(a1, *s.findOrInsert(a2));
    EXPECT_EQ(1, s.find(a2).index());
    EXPECT_TRUE(s.find(u"bb") == s.end());
    EXPECT_EQ(4u, s.search(u"d"));
    EXPECT_EQ(0u, s.search(nullptr));
    EXPECT_EQ(3u, s.search(u"bb"));
}

TEST(MySet, GrowsFrom4To8To16) {
    IntSet s;
    std::vector<unsigned> capacities;
    for (int i = 0; i < 17; ++i) {
        s.insert((i * 7) % 17);  // insertion points all over the array
        capacities.push_back(s.capacity());
    }
    const std::vector<unsigned> expected = {4,  4,  4,  4,  8,  8,  8,  8, 16,
                                            16, 16, 16, 16, 16, 16, 16, 32};
    EXPECT_EQ(expected, capacities);
    std::vector<int> sorted;
    for (int i = 0; i < 17; ++i) sorted.push_back(i);
    EXPECT_EQ(sorted, contents(s));
    s.clear();
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(32u, s.capacity());
}

TEST(MySet, CopiesAndSelfAssignment) {
    IntSet a;
    for (int v : {5, -3, 9, 1, 7}) a.insert(v);
    IntSet b(a);
    EXPECT_EQ(a.capacity(), b.capacity());
    a.insert(2);
    a.erase(a.find(9));
    EXPECT_EQ((std::vector<int>{-3, 1, 5, 7, 9}), contents(b));
    IntSet c;
    c.insert(100);
    c = a;
    EXPECT_EQ((std::vector<int>{-3, 1, 2, 5, 7}), contents(c));
    IntSet& self = c;
    c = self;
    EXPECT_EQ((std::vector<int>{-3, 1, 2, 5, 7}), contents(c));
    IntSet empty;
    IntSet emptyCopy(empty);
    emptyCopy.insert(1);
    EXPECT_EQ(4u, emptyCopy.capacity());
    EXPECT_TRUE(empty.empty());
}

TEST(MySet, MatchesStdSetAfterRandomOperations) {
    std::mt19937 rng(12345);
    IntSet s;
    std::set<int> model;
    for (int step = 0; step < 5000; ++step) {
        int v = static_cast<int>(rng() % 200) - 100;
        switch (rng() % 3) {
            case 0:
            case 1:
                s.insert(v);
                model.insert(v);
                break;
            default: {
                IntSet::iterator it = s.find(v);
                ASSERT_EQ(model.count(v) == 1, it != s.end()) << v;
                if (it != s.end()) {
                    EXPECT_EQ(v, *it);
                    s.erase(it);
                    model.erase(v);
                }
            }
        }
        unsigned lower = static_cast<unsigned>(std::distance(model.begin(), model.lower_bound(v)));
        ASSERT_EQ(lower, s.search(v));
    }
    EXPECT_EQ(std::vector<int>(model.begin(), model.end()), contents(s));
}

TEST(MyMap, IndexInsertsNullAndKeepsExisting) {
    const XMLCh k1[] = u"ns";
    const XMLCh k2[] = u"ns";
    StringMap m;
    EXPECT_TRUE(m.find(k1) == m.end());
    EXPECT_EQ(nullptr, m[k1]);
    EXPECT_EQ(1u, m.size());
    m[k1] = u"uri";
    EXPECT_EQ(u"uri", u16(m[k2]));
    EXPECT_EQ(1u, m.size());
    EXPECT_EQ(k1, m.find(k2)->key);
    m[u"a"] = u"first";
    m[nullptr] = u"default";
    std::vector<std::u16string> order;
    for (StringMap::iterator it = m.begin(); it != m.end(); ++it) {
        order.push_back(u16(it->key) + u"=" + u16(it->value));
    }
    EXPECT_EQ((std::vector<std::u16string>{u"<null>=default", u"a=first", u"ns=uri"}), order);
    m.erase(m.find(u"a"));
    EXPECT_EQ(2u, m.size());
    EXPECT_TRUE(m.find(u"a") == m.end());
}
