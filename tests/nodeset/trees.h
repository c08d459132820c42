// Helpers of the node-set tests: a small document with its nodes by name, a filter that
// reports its calls and destruction, and the reference walk.
#ifndef AMXML_TESTS_NODESET_TREES_H
#define AMXML_TESTS_NODESET_TREES_H

#include <ambrite/xml/nodeset.h>
#include <gtest/gtest.h>

#include <set>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

namespace nodeset_test {

using namespace amxml_test;
typedef std::set<DOMNode*> Nodes;

/// Nested and sibling subtrees, attributes, text and a comment; `all` holds every node of it.
struct Small {
    DocumentPtr doc = parse("<r><a><b><b1/>t</b><a2 x='1' y='2'/></a><o><!--k--><o1/></o></r>");
    DOMElement* a2 = element(doc, u"a2");
    DOMNode *d = doc.get(), *r = element(doc, u"r"), *a = element(doc, u"a"),
            *b = element(doc, u"b"), *b1 = element(doc, u"b1"), *t = b->getLastChild(),
            *x = a2->getAttributeNode(u"x"), *y = a2->getAttributeNode(u"y"),
            *o = element(doc, u"o"), *k = o->getFirstChild(), *o1 = element(doc, u"o1");
    const Nodes all{d, r, a, b, b1, t, a2, x, y, o, k, o1};
};

inline Nodes members(NodeHashSet set) {
    Nodes out;
    for (NodeHashSet::iterator it = set.begin(); it != set.end(); ++it) out.insert(*it);
    return out;
}

/// A leaf filter with a fixed answer that counts its calls and its destructions. Tagged as a
/// constant unless told otherwise, so that a decomposition keeps it whole in the residual.
struct Probe : NodeSet::Filter {
    Probe(bool answer, int* calls, int* destroyed = nullptr, Type tag = CONSTANT_FILTER)
        : Filter(tag), answer_(answer), calls_(calls), destroyed_(destroyed) {}
    ~Probe() override { destroyed_ && ++*destroyed_; }
    bool accept(DOMNode*) const override { return (calls_ && ++*calls_), answer_; }
    Filter* clone() const override { return new Probe(answer_, calls_, destroyed_, type()); }
    bool answer_;
    int *calls_, *destroyed_;
};

/// The nodes of the set in document order (a node, its attributes, its children), found by
/// asking contains() of every node and attribute of the whole document in an explicit-stack walk.
inline std::vector<DOMNode*> expectedNodes(const NodeSet& set) {
    DOMNode* top = set.root()->getOwnerDocument();
    std::vector<DOMNode*> out, stack(1, top ? top : set.root());
    while (!stack.empty()) {
        DOMNode* n = stack.back();
        stack.pop_back();
        if (set.contains(n)) out.push_back(n);
        xercesc::DOMNamedNodeMap* attributes = n->getAttributes();
        for (XMLSize_t i = 0; attributes && i < attributes->getLength(); ++i) {
            if (set.contains(attributes->item(i))) out.push_back(attributes->item(i));
        }
        for (DOMNode* c = n->getLastChild(); c; c = c->getPreviousSibling()) stack.push_back(c);
    }
    return out;
}

/// What a NodeSetIterator over the set yields; from the third node on, a copy goes on in place
/// of the original.
inline std::vector<DOMNode*> iteratedNodes(const NodeSet& set) {
    std::vector<DOMNode*> out;
    std::unique_ptr<NodeSetIterator> it(new NodeSetIterator(&set));
    while (it->hasNext()) {
        out.push_back(it->next());
        if (out.size() == 2) it.reset(new NodeSetIterator(*it));
    }
    EXPECT_EQ(nullptr, it->next());
    return out;
}

}  // namespace nodeset_test

#endif
