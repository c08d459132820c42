// Helpers of the node-set tests: documents, nodes by name, filters that report their
// calls and their destruction, and the reference walk over NodeSet::contains.
#ifndef AMXML_TESTS_NODESET_TREES_H
#define AMXML_TESTS_NODESET_TREES_H

#include "support/test_support.h"

#include <ambrite/xml/nodeset.h>

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

#include <memory>
#include <string>
#include <vector>

namespace nodeset_test {

using namespace amxml_test;
using namespace xercesc;
using Ambrite::XML::DOMNode;

typedef DocumentPtr Doc;

/// Parses with the library's parser, which keeps entity references in the tree.
inline Doc load(const std::string& xml) { return parse(xml); }

inline Doc emptyDocument() { return Doc(DOMUtil::newDocument()); }

/// The first element of that tag name, in document order.
inline DOMElement* el(xercesc::DOMDocument* d, const char16_t* tagName) {
    DOMNodeList* list = d->getElementsByTagName(tagName);
    return list->getLength() ? static_cast<DOMElement*>(list->item(0)) : nullptr;
}

inline DOMAttr* at(DOMElement* e, const char16_t* name) { return e->getAttributeNode(name); }

/// A leaf filter that counts its calls and reports its destruction. Tagged as a constant so
/// that decompositions keep it whole in the residual.
class Probe : public NodeSet::Filter {
public:
    Probe(bool answer, int* calls, int* destroyed)
        : Filter(CONSTANT_FILTER), answer_(answer), calls_(calls), destroyed_(destroyed) {}
    ~Probe() override {
        if (destroyed_) ++*destroyed_;
    }
    bool accept(DOMNode*) const override {
        if (calls_) ++*calls_;
        return answer_;
    }
    Filter* clone() const override { return new Probe(answer_, calls_, destroyed_); }

private:
    bool answer_;
    int* calls_;
    int* destroyed_;
};

/// The nodes of the set in document order (a node, its attributes, its children), found by an
/// explicit-stack walk asking contains() of every node and attribute of the root's subtree.
inline std::vector<DOMNode*> expectedNodes(const NodeSet& set) {
    std::vector<DOMNode*> out;
    DOMNode* root = set.root();
    if (root->getNodeType() == DOMNode::ATTRIBUTE_NODE) {
        if (set.contains(root)) out.push_back(root);
        return out;
    }
    std::vector<DOMNode*> stack(1, root);
    while (!stack.empty()) {
        DOMNode* n = stack.back();
        stack.pop_back();
        if (set.contains(n)) out.push_back(n);
        if (DOMNamedNodeMap* attributes = n->getAttributes()) {
            for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
                if (set.contains(attributes->item(i))) out.push_back(attributes->item(i));
            }
        }
        for (DOMNode* c = n->getLastChild(); c; c = c->getPreviousSibling()) stack.push_back(c);
    }
    return out;
}

/// What a NodeSetIterator over the set yields.
inline std::vector<DOMNode*> iteratedNodes(const NodeSet& set) {
    std::vector<DOMNode*> out;
    NodeSetIterator it(&set);
    while (it.hasNext()) out.push_back(it.next());
    EXPECT_EQ(nullptr, it.next());
    return out;
}

}  // namespace nodeset_test

#endif
