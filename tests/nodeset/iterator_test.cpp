#include <random>

#include "nodeset/trees.h"

using namespace nodeset_test;

namespace {

typedef NodeSet::Filter F;

F* forest(std::initializer_list<DOMNode*> roots) { return new NodeTreeFilter(hashSet(roots)); }

// Filters of every kind over the nodes of a document; conjunctions are frequent, so that tree
// filters at the top are taken apart in either order.
struct RandomFilters {
    std::vector<DOMNode*> nodes;
    std::mt19937 rng;

    DOMNode* node() { return nodes[rng() % nodes.size()]; }
    NodeHashSet some(std::size_t most) {
        NodeHashSet set;
        for (std::size_t i = 1 + rng() % most; i > 0; --i) set.insert(node());
        return set;
    }
    F* any(int depth) {
        unsigned k = rng() % (depth > 0 ? 10 : 5);
        if (k == 0) return new NodeTreeFilter(some(3));
        if (k == 1) return new NotFilter(new NodeTreeFilter(some(3)));
        if (k == 2) return new NodeSetFilter(some(nodes.size()));
        if (k == 3) return new NodeTypeFilter(static_cast<short>(1 + rng() % 10));
        if (k == 4) return new ConstantFilter(rng() % 4 != 0);
        if (k == 5) return new NotFilter(any(depth - 1));
        if (k == 6) return new OrFilter(any(depth - 1), any(depth - 1));
        return both(any(depth - 1), any(depth - 1));
    }
};

}  // namespace

TEST(NodeSetIterator, TakesTheFilterApart) {
    Small n;
    const F::Type C = F::CONSTANT_FILTER, A = F::AND_FILTER, T = F::NODE_TREE_FILTER;
    F* either = new OrFilter(tree(n.b), tree(n.o));
    struct Case {
        DOMNode* root;
        F* filter;
        Nodes treeSet, notTreeSet;
        F::Type residual;
        std::size_t count;
    } cases[] = {
        {n.r, both(tree(n.a), notTree(n.b)), {n.a}, {n.b}, C, 4},  // nested
        {n.r, both(tree(n.a), notTree(n.o)), {n.a}, {n.o}, C, 7},  // disjoint
        {n.r, both(notTree(n.a), tree(n.b)), {}, {n.a}, C, 0},     // containing: b is pruned
        {n.a, tree(n.o), {}, {}, C, 0},                            // outside the root
        {n.a, tree(n.r), {n.a}, {}, C, 7},                         // containing the root
        {n.a, forest({n.o, n.b}), {n.b}, {}, C, 3},                // partly outside
        // Two forests, in either order: the deeper of two nested roots bounds their common part.
        {n.d, both(forest({n.a, n.o}), forest({n.b, n.o1, n.x})), {n.b, n.o1, n.x}, {}, C, 5},
        {n.d, both(forest({n.b, n.o1, n.x}), forest({n.a, n.o})), {n.b, n.o1, n.x}, {}, C, 5},
        {n.x, nullptr, {n.x}, {}, C, 1},  // attribute roots: without their owner element
        {n.r, tree(n.x), {n.x}, {}, C, 1},
        {n.x, notTree(n.a2), {}, {n.a2}, C, 0},
        {n.r, both(tree(n.a), notTree(n.x)), {n.a}, {n.x}, C, 6},
        {n.r, new NodeSetFilter(hashSet({n.b, n.x, n.o})), {n.r}, {}, F::NODE_SET_FILTER, 3},
        // Two residual parts around a tree filter; tree filters under an Or stay whole.
        {n.r, both(both(new NodeTypeFilter(1), tree(n.a)), either), {n.a}, {}, A, 2},
        // Tagged as a tree filter without being one.
        {n.r, both(new Probe(true, nullptr, nullptr, T), tree(n.o)), {n.o}, {}, T, 3},
        {n.r, both(tree(n.a), nullptr), {n.r}, {}, A, 0},  // an And without its second operand
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(&k - cases);
        NodeSet set(k.root, k.filter, nullptr, false);
        NodeSetIterator it(&set);
        EXPECT_EQ(k.treeSet, members(it.treeSet()));
        EXPECT_EQ(k.notTreeSet, members(it.notTreeSet()));
        EXPECT_EQ(k.residual, it.filter()->type());
        EXPECT_EQ(k.count, expectedNodes(set).size());
        EXPECT_EQ(expectedNodes(set), iteratedNodes(set));
    }
}

// The model: the iterator yields what contains() accepts among all nodes of the document, in
// document order, for random roots and filters.
TEST(NodeSetIterator, YieldsWhatContainsAccepts) {
    Small small;
    DocumentPtr entities = parse(
        "<!DOCTYPE r [<!ENTITY e \"<i xmlns='urn:i' k='v'>in<!--c--></i>\">]><!--b--><?pi x?>"
        "<r xmlns='urn:r' xmlns:p='urn:p' a='1' p:b='2'><p:c c='3'><d xml:lang='en'>text<!--c-->"
        "<?pi d?><![CDATA[cd]]></d><e/></p:c>&e;<f p:g='4'><h p:z='5'><i2/></h>tail</f></r><?z?>");
    for (DOMNode* doc : {static_cast<DOMNode*>(entities.get()), small.d}) {
        NodeSet whole(doc, nullptr, nullptr, false);
        RandomFilters random{expectedNodes(whole), std::mt19937(5)};
        for (int i = 0; i < 500; ++i) {
            SCOPED_TRACE(i);
            DOMNode* root = i % 3 ? random.node() : doc;
            NodeSet set(root, i ? random.any(3) : nullptr, nullptr, false);
            ASSERT_EQ(expectedNodes(set), iteratedNodes(set));
        }
    }
}

TEST(NodeSetIterator, WalksA100000LevelDocumentWithoutRecursion) {
    DocumentPtr d(DOMUtil::newDocument());
    const int depth = 100000;
    std::vector<DOMNode*> chain(1, d.get());
    for (int i = 0; i < depth; ++i) chain.push_back(d->createElement(u"e"));
    // Linked bottom-up, so that no insertion searches a long ancestor chain.
    for (int i = depth; i > 0; --i) chain[i - 1]->appendChild(chain[i]);
    NodeSet whole(d.get(), nullptr, nullptr, false);
    EXPECT_TRUE(chain == iteratedNodes(whole));
    NodeSet upper(d.get(), both(tree(chain[1]), notTree(chain[depth / 2 + 1])), nullptr, false);
    EXPECT_EQ(std::size_t(depth / 2), iteratedNodes(upper).size());
}
