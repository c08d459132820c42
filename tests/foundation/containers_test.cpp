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

// The model: lookups and the sorted contents after random inserts and erasures.
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
