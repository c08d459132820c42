#include "nodeset/trees.h"

#include <ambrite/xml/c14n.h>

#include <gtest/gtest.h>

#include <memory>

using namespace nodeset_test;
using Ambrite::XML::C14n::CanonicalizerParameters;

namespace {

const char kDoc[] = "<r><a/><b/><c/></r>";

// A node set whose filter reports its destruction.
NodeSet* observed(DOMNode* root, int* destroyed) {
    return new NodeSet(root, new Probe(true, nullptr, destroyed), nullptr, false);
}

std::vector<std::u16string> prefixes(const CanonicalizerParameters& p) {
    std::vector<std::u16string> out;
    for (auto it = p.unsuppressedNamespacePrefixes().begin();
         it != p.unsuppressedNamespacePrefixes().end(); ++it) {
        out.push_back(u16(*it));
    }
    return out;
}

}  // namespace

TEST(CanonicalizerParameters, Defaults) {
    CanonicalizerParameters p;
    EXPECT_FALSE(p.emitNullApexXMLNS());
    EXPECT_TRUE(p.replacementNodeSets().empty());
    EXPECT_TRUE(p.unsuppressedNamespacePrefixes().empty());
    EXPECT_EQ(4u, p.unsuppressedNamespacePrefixes().capacity());
    p.emitNullApexXMLNS(true);
    EXPECT_TRUE(p.emitNullApexXMLNS());
}

TEST(CanonicalizerParameters, ReplacingDestroysTheEarlierNodeSetAtOnce) {
    Doc d = load(kDoc);
    DOMNode* a = el(d.get(), u"a");
    DOMNode* b = el(d.get(), u"b");
    int first = 0, second = 0, third = 0, orphan = 0;
    CanonicalizerParameters p;
    p.replacementNodeSet(a, observed(b, &first));
    NodeSet* replacement = observed(d->getDocumentElement(), &second);
    p.replacementNodeSet(a, replacement);
    EXPECT_EQ(1, first);
    ASSERT_EQ(1u, p.replacementNodeSets().size());
    EXPECT_EQ(replacement, p.replacementNodeSets().find(a)->value);
    // Recording the node set already in place keeps it.
    p.replacementNodeSet(a, replacement);
    EXPECT_EQ(0, second);
    EXPECT_EQ(replacement, p.replacementNodeSets().find(a)->value);

    p.replacementNodeSet(b, observed(a, &third));
    EXPECT_EQ(2u, p.replacementNodeSets().size());
    p.replacementNodeSet(a, nullptr);
    EXPECT_EQ(1, second);
    EXPECT_EQ(1u, p.replacementNodeSets().size());
    EXPECT_TRUE(p.replacementNodeSets().find(a) == p.replacementNodeSets().end());
    p.replacementNodeSet(a, nullptr);  // nothing recorded: nothing happens
    EXPECT_EQ(1u, p.replacementNodeSets().size());

    p.replacementNodeSet(nullptr, observed(a, &orphan));
    EXPECT_EQ(1, orphan);
    EXPECT_EQ(1u, p.replacementNodeSets().size());
    EXPECT_EQ(0, third);
}

TEST(CanonicalizerParameters, DestructionDestroysEveryNodeSet) {
    Doc d = load(kDoc);
    int destroyed = 0;
    {
        CanonicalizerParameters p;
        p.replacementNodeSet(el(d.get(), u"c"), observed(d.get(), &destroyed));
        p.replacementNodeSet(el(d.get(), u"a"), observed(d.get(), &destroyed));
        p.replacementNodeSet(el(d.get(), u"b"), observed(d.get(), &destroyed));
        // Ordered by node address.
        const auto& map = p.replacementNodeSets();
        for (auto it = map.begin(), next = map.begin(); ++next != map.end(); it = next) {
            EXPECT_LT(it->key, next->key);
        }
        EXPECT_EQ(0, destroyed);
    }
    EXPECT_EQ(3, destroyed);
}

TEST(CanonicalizerParameters, PrefixesAreSortedCopiesWithTheDefaultFirst) {
    CanonicalizerParameters p;
    XMLCh buffer[] = u"zz";
    p.unsuppressedNamespacePrefix(buffer);
    p.unsuppressedNamespacePrefix(u"a");
    p.unsuppressedNamespacePrefix(nullptr);
    p.unsuppressedNamespacePrefix(u"zz");
    p.unsuppressedNamespacePrefix(nullptr);
    p.unsuppressedNamespacePrefix(u"");
    p.unsuppressedNamespacePrefix(u"ab");
    buffer[0] = u'q';
    EXPECT_EQ((std::vector<std::u16string>{u"<null>", u"", u"a", u"ab", u"zz"}), prefixes(p));
    EXPECT_EQ(nullptr, *p.unsuppressedNamespacePrefixes().begin());
    EXPECT_EQ(8u, p.unsuppressedNamespacePrefixes().capacity());
}

TEST(CanonicalizerParameters, CopiesAreIndependent) {
    Doc d = load(kDoc);
    DOMNode* a = el(d.get(), u"a");
    DOMNode* b = el(d.get(), u"b");
    int sourceSets = 0, cloneSets = 0;
    std::unique_ptr<CanonicalizerParameters> source(new CanonicalizerParameters());
    source->emitNullApexXMLNS(true);
    source->replacementNodeSet(a, observed(b, &sourceSets));
    source->unsuppressedNamespacePrefix(nullptr);
    source->unsuppressedNamespacePrefix(u"p");

    std::unique_ptr<CanonicalizerParameters> clone(source->clone());
    CanonicalizerParameters copy(*source);
    CanonicalizerParameters assigned;
    assigned.replacementNodeSet(b, observed(a, &cloneSets));
    assigned.unsuppressedNamespacePrefix(u"old");
    assigned = *source;
    EXPECT_EQ(1, cloneSets);  // the earlier content of the assigned object is gone
    assigned = assigned;

    for (CanonicalizerParameters* p : {clone.get(), &copy, &assigned}) {
        EXPECT_TRUE(p->emitNullApexXMLNS());
        ASSERT_EQ(1u, p->replacementNodeSets().size());
        const NodeSet* set = p->replacementNodeSets().find(a)->value;
        EXPECT_NE(source->replacementNodeSets().find(a)->value, set);
        EXPECT_EQ(b, set->root());
        EXPECT_EQ((std::vector<std::u16string>{u"<null>", u"p"}), prefixes(*p));
        EXPECT_NE(*source->unsuppressedNamespacePrefixes().find(u"p"),
                  *p->unsuppressedNamespacePrefixes().find(u"p"));
    }
    // Each object destroys its own copy of the node set, and only that.
    source.reset();
    EXPECT_EQ(1, sourceSets);
    EXPECT_TRUE(clone->replacementNodeSets().begin()->value->contains(b));
    EXPECT_EQ(u"p", u16(*++clone->unsuppressedNamespacePrefixes().begin()));
    clone.reset();
    EXPECT_EQ(2, sourceSets);
    EXPECT_TRUE(copy.replacementNodeSets().begin()->value->contains(b));
}
