#include "nodeset/trees.h"

#include <gtest/gtest.h>

#include <memory>

using namespace nodeset_test;

namespace {

const char kDoc[] = "<r><s x='1'/><e a='1' b='2'><c d='3'>text<!--k--></c></e><t/></r>";

struct Nodes {
    Doc doc = load(kDoc);
    DOMElement* r = el(doc.get(), u"r");
    DOMElement* s = el(doc.get(), u"s");
    DOMElement* e = el(doc.get(), u"e");
    DOMElement* c = el(doc.get(), u"c");
    DOMElement* t = el(doc.get(), u"t");
    DOMNode* text = c->getFirstChild();
    DOMNode* comment = c->getLastChild();
    DOMAttr* a = at(e, u"a");
    DOMAttr* b = at(e, u"b");
    DOMAttr* d = at(c, u"d");
    DOMAttr* x = at(s, u"x");
};

}  // namespace

TEST(NodeTreeFilter, AcceptsTheSubtreeWithItsAttributes) {
    Nodes n;
    NodeTreeFilter f(n.e);
    EXPECT_EQ(NodeSet::Filter::NODE_TREE_FILTER, f.type());
    for (DOMNode* in : {(DOMNode*)n.e, (DOMNode*)n.c, n.text, n.comment, (DOMNode*)n.a,
                        (DOMNode*)n.b, (DOMNode*)n.d}) {
        EXPECT_TRUE(f.accept(in)) << utf8(in->getNodeName());
    }
    for (DOMNode* out :
         {(DOMNode*)n.doc.get(), (DOMNode*)n.r, (DOMNode*)n.s, (DOMNode*)n.t, (DOMNode*)n.x}) {
        EXPECT_FALSE(f.accept(out)) << utf8(out->getNodeName());
    }
}

TEST(NodeTreeFilter, AnAttributeRootStandsAlone) {
    Nodes n;
    NodeTreeFilter f(n.a);
    EXPECT_TRUE(f.accept(n.a));
    EXPECT_FALSE(f.accept(n.e));
    EXPECT_FALSE(f.accept(n.b));
    EXPECT_FALSE(f.accept(n.c));

    NodeHashSet roots;
    roots.insert(n.a);
    roots.insert(n.c);
    NodeTreeFilter two(roots);
    EXPECT_TRUE(two.accept(n.a));
    EXPECT_TRUE(two.accept(n.d));
    EXPECT_TRUE(two.accept(n.text));
    EXPECT_FALSE(two.accept(n.b));
}

TEST(NodeSetFilter, AcceptsExactlyItsMembers) {
    Nodes n;
    NodeHashSet set;
    set.insert(n.e);
    NodeSetFilter f(set);
    set.insert(n.a);  // the filter holds its own copy
    EXPECT_TRUE(f.accept(n.e));
    EXPECT_FALSE(f.accept(n.a));
    EXPECT_FALSE(f.accept(n.c));
    EXPECT_EQ(1u, f.set().size());
}

TEST(NodeTypeFilter, AcceptsItsNodeType) {
    Nodes n;
    NodeTypeFilter attributes(DOMNode::ATTRIBUTE_NODE);
    EXPECT_EQ(2, attributes.type());
    EXPECT_EQ(NodeSet::Filter::NODE_TYPE_FILTER,
              static_cast<const NodeSet::Filter&>(attributes).type());
    EXPECT_TRUE(attributes.accept(n.a));
    EXPECT_FALSE(attributes.accept(n.e));
    NodeTypeFilter comments(DOMNode::COMMENT_NODE);
    EXPECT_TRUE(comments.accept(n.comment));
    EXPECT_FALSE(comments.accept(n.text));
}

TEST(AndOrFilter, ShortCircuit) {
    Nodes n;
    int calls = 0;
    AndFilter andFalse(new ConstantFilter(false), new Probe(true, &calls, nullptr));
    EXPECT_FALSE(andFalse.accept(n.e));
    OrFilter orTrue(new ConstantFilter(true), new Probe(false, &calls, nullptr));
    EXPECT_TRUE(orTrue.accept(n.e));
    EXPECT_EQ(0, calls);

    AndFilter andTrue(new ConstantFilter(true), new Probe(false, &calls, nullptr));
    EXPECT_FALSE(andTrue.accept(n.e));
    OrFilter orFalse(new ConstantFilter(false), new Probe(true, &calls, nullptr));
    EXPECT_TRUE(orFalse.accept(n.e));
    EXPECT_EQ(2, calls);
    NotFilter notFilter(new Probe(true, &calls, nullptr));
    EXPECT_FALSE(notFilter.accept(n.e));
    EXPECT_EQ(3, calls);
}

TEST(AndOrFilter, ALoneOperandIsDestroyedAtOnce) {
    Nodes n;
    int destroyed = 0;
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        NodeSet::Filter* probe = new Probe(true, nullptr, &destroyed);
        std::unique_ptr<NodeSet::Filter> f;
        if (kind == 0) f.reset(new AndFilter(probe, nullptr));
        if (kind == 1) f.reset(new AndFilter(nullptr, probe));
        if (kind == 2) f.reset(new OrFilter(probe, nullptr));
        if (kind == 3) f.reset(new OrFilter(nullptr, probe));
        EXPECT_EQ(kind + 1, destroyed);
        EXPECT_FALSE(f->accept(n.e));
        std::unique_ptr<NodeSet::Filter> copy(f->clone());
        EXPECT_EQ(f->type(), copy->type());
        EXPECT_FALSE(copy->accept(n.e));
    }
    AndFilter none(nullptr, nullptr);
    EXPECT_EQ(nullptr, none.first());
    EXPECT_FALSE(none.accept(n.e));
    NotFilter notNothing(nullptr);
    EXPECT_FALSE(notNothing.accept(n.e));
    std::unique_ptr<NodeSet::Filter> notCopy(notNothing.clone());
    EXPECT_FALSE(notCopy->accept(n.e));
}

TEST(Filters, DestroyTheirOperands) {
    int destroyed = 0;
    delete new NotFilter(new Probe(true, nullptr, &destroyed));
    EXPECT_EQ(1, destroyed);
    delete new AndFilter(
        new Probe(true, nullptr, &destroyed),
        new OrFilter(new Probe(true, nullptr, &destroyed), new Probe(true, nullptr, &destroyed)));
    EXPECT_EQ(4, destroyed);
}

TEST(Filters, ClonesAreDeepAndOutliveTheirSource) {
    Nodes n;
    int calls = 0;
    NodeHashSet members;
    members.insert(n.t);
    std::unique_ptr<NodeSet::Filter> source(
        new OrFilter(new AndFilter(new NodeTreeFilter(n.e), new NotFilter(new NodeTreeFilter(n.c))),
                     new AndFilter(new NodeSetFilter(members), new Probe(true, &calls, nullptr))));
    std::unique_ptr<NodeSet::Filter> copy(source->clone());
    const OrFilter* sourceOr = static_cast<const OrFilter*>(source.get());
    const OrFilter* copyOr = static_cast<const OrFilter*>(copy.get());
    EXPECT_NE(sourceOr->first(), copyOr->first());
    EXPECT_EQ(NodeSet::Filter::AND_FILTER, copyOr->first()->type());
    EXPECT_EQ(NodeSet::Filter::NOT_FILTER,
              static_cast<const AndFilter*>(copyOr->first())->second()->type());
    source.reset();
    EXPECT_TRUE(copy->accept(n.e));
    EXPECT_TRUE(copy->accept(n.a));
    EXPECT_FALSE(copy->accept(n.c));
    EXPECT_FALSE(copy->accept(n.d));
    EXPECT_TRUE(copy->accept(n.t));
    EXPECT_FALSE(copy->accept(n.s));
    EXPECT_EQ(1, calls);  // only for t: the set filter before it rejects the others
}
