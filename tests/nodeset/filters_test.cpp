#include "nodeset/trees.h"

using namespace nodeset_test;

// Each filter, then its clone once the source is destroyed, against every node and attribute of
// a document. Probes count the second operands asked: none where the first operand decides. A
// probe that answers as the operation's identity leaves the result to the leaf filter before
// it, so those rows also test the type and constant filters.
TEST(Filters, AcceptExactlyTheirNodesAndSoDoTheirClones) {
    Small n;
    NodeHashSet only = hashSet({n.a});
    int never = 0, asked = 0, lone = 0;
    const short attribute = DOMNode::ATTRIBUTE_NODE;
    struct Case {
        NodeSet::Filter* filter;
        Nodes accepted;
    } cases[] = {
        {tree(n.a), {n.a, n.b, n.b1, n.t, n.a2, n.x, n.y}},
        {tree(n.x), {n.x}},  // an attribute root stands alone, without its owner element
        {new NodeTreeFilter(hashSet({n.x, n.b})), {n.x, n.b, n.b1, n.t}},
        {new NodeSetFilter(only), {n.a}},
        {notTree(n.a), {n.d, n.r, n.o, n.k, n.o1}},
        {new NotFilter(nullptr), {}},
        {both(tree(n.a), notTree(n.b)), {n.a, n.a2, n.x, n.y}},
        {new OrFilter(tree(n.b), new NodeTypeFilter(attribute)), {n.b, n.b1, n.t, n.x, n.y}},
        {both(new ConstantFilter(false), new Probe(true, &never)), {}},
        {new OrFilter(new ConstantFilter(true), new Probe(false, &never)), n.all},
        {both(new NodeTypeFilter(attribute), new Probe(true, &asked)), {n.x, n.y}},
        {new OrFilter(new NodeTypeFilter(attribute), new Probe(false, &asked)), {n.x, n.y}},
        // Without one operand, the other is destroyed at once and nothing is accepted.
        {both(new Probe(true, &never, &lone), nullptr), {}},
        {new OrFilter(nullptr, new Probe(true, &never, &lone)), {}},
    };
    EXPECT_EQ(2, lone);
    only.insert(n.b);  // the set filter holds its own copy
    for (const Case& k : cases) {
        SCOPED_TRACE(&k - cases);
        std::unique_ptr<NodeSet::Filter> source(k.filter), copy(source->clone());
        EXPECT_EQ(source->type(), copy->type());
        for (NodeSet::Filter* f : {source.get(), copy.get()}) {
            for (DOMNode* node : n.all) {
                EXPECT_EQ(k.accepted.count(node) == 1, f->accept(node))
                    << utf8(node->getNodeName());
            }
            source.reset();
        }
    }
    EXPECT_EQ(0, never);
    EXPECT_EQ(2 * 12, asked);  // twice: the 2 attributes for the And, the 10 others for the Or
}
