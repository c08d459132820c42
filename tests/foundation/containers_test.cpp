#include <gtest/gtest.h>

#include <random>
#include <set>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

typedef MySet<int, BasicComparator<int>> IntSet;

template <class T, class Cmp>
std::vector<T> contents(const MySet<T, Cmp>& s) {
    std::vector<T> out;
    for (typename MySet<T, Cmp>::iterator it = s.begin(); it != s.end(); ++it) out.push_back(*it);
    return out;
}

}  // namespace

TEST(MySet, OrdersNullFirstAndKeepsFirstOfEquals) {
    const XMLCh a1[] = u"a", a2[] = u"a", b[] = u"b", c[] = u"c";
    MySet<const XMLCh*, StringComparator> s;
    for (const XMLCh* x : {b, a1, c, static_cast<const XMLCh*>(nullptr), a2}) s.insert(x);
    EXPECT_EQ((std::vector<const XMLCh*>{nullptr, a1, b, c}), contents(s));
    EXPECT_EQ(a1, *s.findOrInsert(a2));
    EXPECT_EQ(1, s.find(a2).index());
    EXPECT_TRUE(s.find(u"bb") == s.end());
}

TEST(MySet, GrowsFrom4To8To16) {
    IntSet s;
    std::vector<unsigned> capacities;
    for (int i = 0; i < 17; ++i) {
        s.insert((i * 7) % 17);  // insertion points all over the array
        capacities.push_back(s.capacity());
    }
    EXPECT_EQ((std::vector<unsigned>{4, 4, 4, 4, 8, 8, 8, 8, 16, 16, 16, 16, 16, 16, 16, 16, 32}),
              capacities);
}

TEST(MySet, MatchesStdSetAndCopiesAreIndependent) {
    std::mt19937 rng(12345);
    IntSet s, assigned;
    std::set<int> model;
    for (int step = 0; step < 5000; ++step) {
        int v = static_cast<int>(rng() % 200) - 100;
        auto lower = std::distance(model.begin(), model.lower_bound(v));
        ASSERT_EQ(static_cast<unsigned>(lower), s.search(v)) << v;
        IntSet::iterator it = s.find(v);
        ASSERT_EQ(model.count(v) == 1, it != s.end()) << v;
        if (rng() % 3) {
            s.insert(v);
            model.insert(v);
        } else if (it != s.end()) {
            s.erase(it);
            model.erase(v);
        }
    }
    const std::vector<int> expected(model.begin(), model.end());
    EXPECT_EQ(expected, contents(s));
    IntSet copy(s), &self = assigned;
    assigned.insert(1000);
    assigned = s;
    assigned = self;
    s.insert(-1000);
    EXPECT_EQ(expected, contents(copy));
    EXPECT_EQ(expected, contents(assigned));
}

TEST(MyMap, IndexInsertsNullAndKeepsFirstKey) {
    const XMLCh k1[] = u"ns", k2[] = u"ns", a[] = u"a", uri[] = u"uri", first[] = u"first",
                dflt[] = u"default";
    MyMap<const XMLCh*, const XMLCh*, StringComparator> m;
    EXPECT_TRUE(m.find(k1) == m.end());
    EXPECT_EQ(nullptr, m[k1]);
    m[k2] = uri;
    m[a] = first;
    m[nullptr] = dflt;
    typedef MyPair<const XMLCh*, const XMLCh*> P;
    EXPECT_EQ((std::vector<P>{P(nullptr, dflt), P(a, first), P(k1, uri)}), contents(m));
}
