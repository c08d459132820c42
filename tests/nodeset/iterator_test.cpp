#include "nodeset/trees.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

using namespace nodeset_test;

namespace {

const char kDoc[] = "<r><a><b><b1/></b><a2 x='1'/></a><o><o1/></o></r>";

struct Nodes {
    Doc doc = load(kDoc);
    DOMNode* r = el(doc.get(), u"r");
    DOMNode* a = el(doc.get(), u"a");
    DOMNode* b = el(doc.get(), u"b");
    DOMNode* b1 = el(doc.get(), u"b1");
    DOMNode* a2 = el(doc.get(), u"a2");
    DOMNode* x = at(el(doc.get(), u"a2"), u"x");
    DOMNode* o = el(doc.get(), u"o");
    DOMNode* o1 = el(doc.get(), u"o1");
};

std::set<DOMNode*> members(const NodeHashSet& set) {
    NodeHashSet copy(set);
    std::set<DOMNode*> out;
    for (NodeHashSet::iterator it = copy.begin(); it != copy.end(); ++it) out.insert(*it);
    return out;
}

NodeHashSet hashSet(std::initializer_list<DOMNode*> nodes) {
    NodeHashSet set;
    for (DOMNode* n : nodes) set.insert(n);
    return set;
}

NodeSet::Filter* tree(DOMNode* n) { return new NodeTreeFilter(n); }
NodeSet::Filter* notTree(DOMNode* n) { return new NotFilter(new NodeTreeFilter(n)); }
NodeSet::Filter* both(NodeSet::Filter* f, NodeSet::Filter* g) { return new AndFilter(f, g); }

struct Decomposed {
    std::set<DOMNode*> treeSet, notTreeSet;
    NodeSet::Filter::Type residual;
    std::vector<DOMNode*> nodes;
};

Decomposed decompose(DOMNode* root, NodeSet::Filter* filter) {
    NodeSet set(root, filter, nullptr, false);
    NodeSetIterator it(&set);
    Decomposed d{members(it.treeSet()), members(it.notTreeSet()), it.filter()->type(),
                 iteratedNodes(set)};
    EXPECT_EQ(root, it.root());
    EXPECT_EQ(expectedNodes(set), d.nodes);
    return d;
}

typedef std::set<DOMNode*> Nodeset;
typedef std::vector<DOMNode*> Order;

// Claims to be a tree filter without being one.
class Impostor : public NodeSet::Filter {
public:
    Impostor() : Filter(NODE_TREE_FILTER) {}
    bool accept(DOMNode* n) const override { return n->getNodeType() == DOMNode::ELEMENT_NODE; }
    Filter* clone() const override { return new Impostor(); }
};

}  // namespace

TEST(NodeSetIterator, SubtreeMinusANestedSubtree) {
    Nodes n;
    Decomposed d = decompose(n.r, both(tree(n.a), notTree(n.b)));
    EXPECT_EQ(Nodeset{n.a}, d.treeSet);
    EXPECT_EQ(Nodeset{n.b}, d.notTreeSet);
    EXPECT_EQ(NodeSet::Filter::CONSTANT_FILTER, d.residual);
    EXPECT_EQ((Order{n.a, n.a2, n.x}), d.nodes);
}

TEST(NodeSetIterator, DisjointAndContainingExclusions) {
    Nodes n;
    Decomposed disjoint = decompose(n.r, both(tree(n.a), notTree(n.o)));
    EXPECT_EQ(Nodeset{n.a}, disjoint.treeSet);
    EXPECT_EQ(Nodeset{n.o}, disjoint.notTreeSet);
    EXPECT_EQ((Order{n.a, n.b, n.b1, n.a2, n.x}), disjoint.nodes);

    Decomposed containing = decompose(n.r, both(notTree(n.a), tree(n.b)));
    EXPECT_TRUE(containing.treeSet.empty());
    EXPECT_EQ(Nodeset{n.a}, containing.notTreeSet);
    EXPECT_TRUE(containing.nodes.empty());
}

TEST(NodeSetIterator, TreeFiltersAgainstTheRoot) {
    Nodes n;
    EXPECT_EQ(Nodeset{n.a}, decompose(n.r, tree(n.a)).treeSet);
    // Outside the root and not containing it: nothing.
    Decomposed outside = decompose(n.a, tree(n.o));
    EXPECT_TRUE(outside.treeSet.empty());
    EXPECT_TRUE(outside.nodes.empty());
    // Containing the root: the root's subtree.
    Decomposed above = decompose(n.a, tree(n.r));
    EXPECT_EQ(Nodeset{n.a}, above.treeSet);
    EXPECT_EQ(5u, above.nodes.size());
    EXPECT_EQ(Nodeset{n.b}, decompose(n.a, new NodeTreeFilter(hashSet({n.o, n.b}))).treeSet);
}

TEST(NodeSetIterator, TwoTreeFiltersIntersectInEitherOrder) {
    Nodes n;
    EXPECT_EQ(Nodeset{n.b1}, decompose(n.r, both(tree(n.a), tree(n.b1))).treeSet);
    EXPECT_EQ(Nodeset{n.b1}, decompose(n.r, both(tree(n.b1), tree(n.a))).treeSet);
    for (int order = 0; order < 2; ++order) {
        NodeSet::Filter* forest = new NodeTreeFilter(hashSet({n.a, n.o}));
        NodeSet::Filter* other = new NodeTreeFilter(hashSet({n.b, n.o1, n.x}));
        Decomposed d = decompose(n.doc.get(), order ? both(forest, other) : both(other, forest));
        EXPECT_EQ((Nodeset{n.b, n.o1, n.x}), d.treeSet);
        EXPECT_EQ((Order{n.b, n.b1, n.x, n.o1}), d.nodes);
    }
}

TEST(NodeSetIterator, AttributeTreeRoots) {
    Nodes n;
    Decomposed alone = decompose(n.x, nullptr);
    EXPECT_EQ(Nodeset{n.x}, alone.treeSet);
    EXPECT_EQ(Order{n.x}, alone.nodes);
    EXPECT_EQ(Order{n.x}, decompose(n.r, tree(n.x)).nodes);
    EXPECT_TRUE(decompose(n.x, notTree(n.a2)).treeSet.empty());
    Decomposed minus = decompose(n.r, both(tree(n.a), notTree(n.x)));
    EXPECT_EQ(Nodeset{n.x}, minus.notTreeSet);
    EXPECT_EQ((Order{n.a, n.b, n.b1, n.a2}), minus.nodes);
}

TEST(NodeSetIterator, EverythingElseGoesToTheResidualInOrder) {
    Nodes n;
    NodeSet::Filter* source = new NodeSetFilter(hashSet({n.b, n.x, n.o}));
    NodeSet set(n.r, source, nullptr, false);
    NodeSetIterator it(&set);
    EXPECT_EQ(Nodeset{n.r}, members(it.treeSet()));
    EXPECT_TRUE(members(it.notTreeSet()).empty());
    ASSERT_EQ(NodeSet::Filter::NODE_SET_FILTER, it.filter()->type());
    EXPECT_NE(source, it.filter());
    EXPECT_EQ((Nodeset{n.b, n.x, n.o}),
              members(static_cast<const NodeSetFilter*>(it.filter())->set()));
    EXPECT_EQ((Order{n.b, n.x, n.o}), iteratedNodes(set));

    // Two residual parts, a tree filter between them, a tree filter hidden under an Or and a
    // doubly negated one; and a combination missing an operand.
    NodeSet mixed(n.r,
                  both(both(new NodeTypeFilter(1), tree(n.a)),
                       both(new OrFilter(tree(n.b), tree(n.o)), new NotFilter(notTree(n.b1)))),
                  nullptr, false);
    NodeSetIterator parts(&mixed);
    EXPECT_EQ(Nodeset{n.a}, members(parts.treeSet()));
    ASSERT_EQ(NodeSet::Filter::AND_FILTER, parts.filter()->type());
    const AndFilter* top = static_cast<const AndFilter*>(parts.filter());
    ASSERT_EQ(NodeSet::Filter::AND_FILTER, top->first()->type());
    EXPECT_EQ(NodeSet::Filter::NOT_FILTER, top->second()->type());
    const AndFilter* inner = static_cast<const AndFilter*>(top->first());
    EXPECT_EQ(NodeSet::Filter::NODE_TYPE_FILTER, inner->first()->type());
    EXPECT_EQ(NodeSet::Filter::OR_FILTER, inner->second()->type());
    EXPECT_EQ(Order{n.b1}, iteratedNodes(mixed));

    Decomposed impostor = decompose(n.r, both(new Impostor(), tree(n.o)));
    EXPECT_EQ(Nodeset{n.o}, impostor.treeSet);
    EXPECT_EQ(NodeSet::Filter::NODE_TREE_FILTER, impostor.residual);
    Decomposed lone = decompose(n.r, new AndFilter(tree(n.a), nullptr));
    EXPECT_EQ(Nodeset{n.r}, lone.treeSet);
    EXPECT_TRUE(lone.nodes.empty());
}

TEST(NodeSetIterator, ACopyOwnsItsResidualAndContinuesFromTheSamePlace) {
    Nodes n;
    NodeSet set(n.r, new NotFilter(new NodeTypeFilter(1)), nullptr, false);
    NodeSetIterator it(&set);
    ASSERT_EQ(n.x, it.next());
    NodeSetIterator copy(it);
    EXPECT_NE(it.filter(), copy.filter());
    EXPECT_EQ(NodeSet::Filter::NOT_FILTER, copy.filter()->type());
    EXPECT_FALSE(it.hasNext());
    EXPECT_FALSE(copy.hasNext());

    NodeSet all(n.r, nullptr, nullptr, false);
    NodeSetIterator first(&all);
    first.next();
    first.next();
    std::unique_ptr<NodeSetIterator> second(new NodeSetIterator(first));
    Order rest;
    while (first.hasNext()) {
        rest.push_back(first.next());
        ASSERT_EQ(rest.back(), second->next());
    }
    EXPECT_FALSE(second->hasNext());
    EXPECT_EQ((Order{n.b, n.b1, n.a2, n.x, n.o, n.o1}), rest);
}

TEST(NodeSetIterator, WalksA100000LevelDocumentWithoutRecursion) {
    Doc d = emptyDocument();
    const int depth = 100000;
    std::vector<DOMElement*> chain(depth);
    // Built bottom-up, so that no insertion searches a long ancestor chain.
    for (int i = depth - 1; i >= 0; --i) {
        chain[i] = d->createElement(u"e");
        if (i + 1 < depth) chain[i]->appendChild(chain[i + 1]);
    }
    d->appendChild(chain[0]);

    NodeSet whole(d.get(), nullptr, nullptr, false);
    NodeSetIterator it(&whole);
    ASSERT_EQ(d.get(), it.next());
    int i = 0;
    while (it.hasNext()) {
        ASSERT_EQ(chain[i], it.next());
        ++i;
    }
    EXPECT_EQ(depth, i);

    NodeSet upper(d.get(), both(tree(chain[0]), notTree(chain[depth / 2])), nullptr, false);
    NodeSetIterator top(&upper);
    int count = 0;
    while (top.next()) ++count;
    EXPECT_EQ(depth / 2, count);
}

// ---------------------------------------------------------------------------------------------
// The iterator against NodeSet::contains on every node

namespace {

const char kNamespaces[] =
    "<?xml version='1.0'?>\n"
    "<!DOCTYPE r [<!ENTITY ent \"<i xmlns='urn:i' k='v'>in entity<!--ec--></i>\">]>\n"
    "<!--before--><?pi first?>\n"
    "<r xmlns='urn:r' xmlns:p='urn:p' a='1' p:b='2'>\n"
    "  <p:c c='3'><d xml:lang='en'>text<!--c--><?pi data?><![CDATA[cd]]></d><e/></p:c>\n"
    "  &ent;\n"
    "  <f p:g='4' xmlns:q='urn:q'><h q:z='5'><i2/></h>tail</f>\n"
    "</r>\n"
    "<?after?>";

// All nodes of the document, attributes included, in document order.
std::vector<DOMNode*> allNodes(xercesc::DOMDocument* d) {
    NodeSet whole(d, nullptr, nullptr, false);
    return expectedNodes(whole);
}

class RandomFilters {
public:
    RandomFilters(const std::vector<DOMNode*>& nodes, unsigned seed) : nodes_(nodes), rng_(seed) {}

    DOMNode* node() { return nodes_[rng_() % nodes_.size()]; }

    NodeHashSet some() {
        NodeHashSet set;
        unsigned n = 1 + rng_() % 3;
        for (unsigned i = 0; i < n; ++i) set.insert(node());
        return set;
    }

    // Top-level conjunctions of tree, negated-tree and other filters, to exercise the
    // decomposition, with arbitrary filters below them.
    NodeSet::Filter* top() {
        NodeSet::Filter* f = any(2);
        for (unsigned parts = rng_() % 4; parts > 0; --parts) {
            NodeSet::Filter* g;
            if (rng_() % 4 == 0)
                g = any(2);
            else if (rng_() % 2)
                g = new NodeTreeFilter(some());
            else
                g = new NotFilter(new NodeTreeFilter(some()));
            f = rng_() % 2 ? both(f, g) : both(g, f);
        }
        return f;
    }

    NodeSet::Filter* any(int depth) {
        switch (rng_() % (depth > 0 ? 8 : 5)) {
            case 0:
                return new NodeTreeFilter(some());
            case 1: {
                NodeHashSet set;
                for (DOMNode* n : nodes_) {
                    if (rng_() % 3 == 0) set.insert(n);
                }
                return new NodeSetFilter(set);
            }
            case 2: {
                static const short kTypes[] = {1, 2, 3, 4, 5, 7, 8, 9, 10};
                return new NodeTypeFilter(kTypes[rng_() % 9]);
            }
            case 3:
                return new ConstantFilter(rng_() % 4 != 0);
            case 4:
                return new NotFilter(new NodeTreeFilter(some()));
            case 5:
                return new NotFilter(any(depth - 1));
            case 6:
                return both(any(depth - 1), any(depth - 1));
            default:
                return new OrFilter(any(depth - 1), any(depth - 1));
        }
    }

private:
    const std::vector<DOMNode*>& nodes_;
    std::mt19937 rng_;
};

Doc randomDocument(unsigned seed) {
    std::mt19937 rng(seed);
    Doc d = emptyDocument();
    const char16_t* uris[] = {nullptr, u"urn:x", u"urn:y"};
    std::vector<DOMElement*> elements;
    elements.push_back(d->createElementNS(u"urn:x", u"x:root"));
    d->appendChild(elements[0]);
    d->insertBefore(d->createComment(u"first"), elements[0]);
    d->appendChild(d->createProcessingInstruction(u"last", u""));
    for (int i = 0; i < 150; ++i) {
        DOMElement* parent = elements[rng() % elements.size()];
        switch (rng() % 6) {
            case 0:
            case 1: {
                // Prefixed names only with a namespace: p1:n? in urn:x, p2:n? in urn:y.
                unsigned u = rng() % 3;
                std::u16string name = u"p0:n" + std::u16string(1, u'a' + rng() % 5);
                name[1] = u'0' + u;
                DOMElement* e = d->createElementNS(uris[u], u ? name.c_str() : name.c_str() + 3);
                for (unsigned k = rng() % 4; k > 0; --k) {
                    unsigned au = rng() % 3;
                    std::u16string an = u"q0:a" + std::u16string(1, u'a' + k);
                    an[1] = u'0' + au;
                    e->setAttributeNS(uris[au], au ? an.c_str() : an.c_str() + 3, u"v");
                }
                parent->appendChild(e);
                elements.push_back(e);
                break;
            }
            case 2:
                parent->appendChild(d->createTextNode(u"t"));
                break;
            case 3:
                parent->appendChild(d->createComment(u"c"));
                break;
            case 4:
                parent->appendChild(d->createProcessingInstruction(u"pi", u"d"));
                break;
            default:
                parent->appendChild(d->createCDATASection(u"cd"));
                break;
        }
    }
    return d;
}

void compareOnRandomFilters(xercesc::DOMDocument* d, unsigned seed, int cases) {
    std::vector<DOMNode*> nodes = allNodes(d);
    RandomFilters random(nodes, seed);
    for (int i = 0; i < cases; ++i) {
        SCOPED_TRACE(i);
        DOMNode* root = i % 3 == 0 ? static_cast<DOMNode*>(d) : random.node();
        NodeSet set(root, random.top(), nullptr, false);
        ASSERT_EQ(expectedNodes(set), iteratedNodes(set));
    }
}

}  // namespace

TEST(NodeSetIterator, YieldsWhatContainsAcceptsOnChosenFilters) {
    Doc d = load(kNamespaces);
    ASSERT_TRUE(d);
    xercesc::DOMDocument* doc = d.get();
    DOMElement* r = el(doc, u"r");
    DOMElement* c = el(doc, u"p:c");
    DOMElement* dd = el(doc, u"d");
    DOMElement* f = el(doc, u"f");
    DOMElement* h = el(doc, u"h");
    DOMNode* entity = c->getNextSibling()->getNextSibling();
    ASSERT_EQ(DOMNode::ENTITY_REFERENCE_NODE, entity->getNodeType());
    DOMNode* inEntity = entity->getFirstChild();
    std::vector<DOMNode*> everything = allNodes(doc);

    struct Case {
        const char* name;
        DOMNode* root;
        NodeSet::Filter* filter;
        std::size_t atLeast;
    };
    Case cases[] = {
        {"whole document", doc, nullptr, everything.size()},
        {"subtree", doc, tree(c), 8},
        {"subtree minus subtree", doc, both(tree(r), notTree(dd)), 20},
        {"minus first", doc, both(notTree(h), tree(f)), 4},
        {"node set", doc,
         new NodeSetFilter(hashSet({r, at(r, u"p:b"), dd->getFirstChild(), inEntity})), 4},
        {"elements", doc, new NodeTypeFilter(1), 8},
        {"attributes", r, new NodeTypeFilter(2), 9},
        {"or", doc, new OrFilter(tree(dd), tree(h)), 9},
        {"not or", r, new NotFilter(new OrFilter(tree(c), new NodeTypeFilter(3))), 10},
        {"and of not and or", doc,
         both(notTree(h), new OrFilter(new NodeTypeFilter(3), new NodeTypeFilter(1))), 10},
        {"inside an entity", doc, tree(inEntity), 4},
        {"entity minus", entity,
         both(new NodeTypeFilter(1), notTree(at(static_cast<DOMElement*>(inEntity), u"k"))), 1},
        {"attribute root", at(r, u"p:b"), nullptr, 1},
        {"attribute root excluded", at(r, u"p:b"), notTree(r), 0},
        {"attribute tree root", doc, both(tree(at(f, u"p:g")), tree(r)), 1},
        {"comment root", dd->getFirstChild()->getNextSibling(), new NodeTypeFilter(8), 1},
    };
    for (Case& k : cases) {
        SCOPED_TRACE(k.name);
        NodeSet set(k.root, k.filter, nullptr, false);
        std::vector<DOMNode*> expected = expectedNodes(set);
        EXPECT_GE(expected.size(), k.atLeast);
        EXPECT_EQ(expected, iteratedNodes(set));
    }
    compareOnRandomFilters(doc, 5, 300);
}

TEST(NodeSetIterator, YieldsWhatContainsAcceptsOnRandomDocuments) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(seed);
        Doc d = randomDocument(seed);
        compareOnRandomFilters(d.get(), seed * 7, 250);
    }
}
