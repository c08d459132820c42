#include "xpath/xpath_test.h"

namespace {

const char kDocument[] =
    "<!DOCTYPE r><?pi before?><!--c0--><r xmlns='u' a='1' xmlns:p='v' p:b='2'><e id='x'>t1<f "
    "xmlns='' g='3'/><!--c1-->t2<![CDATA[cd]]></e><p:e xmlns:q='w' q:h='4'><?pi x?></p:e>t3</r>"
    "<!--c2-->";

Nodes ordered(const Nodes& members) {
    BasicIterator source(members);
    OrderedIterator it(&source);
    Nodes out = read(it);
    EXPECT_EQ(out.size(), it.size());
    return out;
}

}  // namespace

TEST(BasicIterator, ReplaysItsNodesAndUnionsConcatenate) {
    Env env("<r><a/><b/></r>");
    DOMNode *a = env.el("a"), *b = env.el("b");
    BasicIterator aba({a, b, a});
    EXPECT_EQ(Nodes({a, b, a}), read(aba));
    UnionIterator u(new BasicIterator(Nodes{b}),
                    new UnionIterator(new BasicIterator(Nodes()), new Here(a)));
    EXPECT_EQ(Nodes({b, a}), read(u));
}

// A model comparison: random multisets of nodes, reachable or not, from two documents, against
// the members in the order of a plain recursive walk of the document chosen (declarations before
// other attributes before children). Sets with no member in the tree order to nothing.
TEST(OrderedIterator, YieldsEachMemberOnceInDocumentOrder) {
    Env one(kDocument), two("<s><t u='v'/>w</s>");
    const Nodes all = View(one.doc.get()).order, other = View(two.doc.get()).order;
    ASSERT_EQ(22u, all.size());
    DOMElement* f = one.el("f");
    Nodes pool = all, outside = {one.doc->getFirstChild(), f->getAttributeNode(u"xmlns"),
                                 f->getAttributeNode(u"g")->getFirstChild(),
                                 one.doc->createElement(u"detached")};  // type, xmlns='', text
    for (DOMNode* n : outside) EXPECT_EQ(Nodes(), ordered({n, n}));
    EXPECT_EQ(Nodes(), ordered({}));
    pool.insert(pool.end(), other.begin(), other.end());
    pool.insert(pool.end(), outside.begin(), outside.end());
    std::mt19937 random(5);
    for (int i = 0; i < 500; ++i) {
        Nodes members;
        for (std::size_t k = random() % 14; k > 0; --k) {
            members.push_back(pool[random() % (i < 250 ? all.size() : pool.size())]);
        }
        Nodes expected;
        if (!members.empty()) {
            DOMNode* lowest = *std::min_element(members.begin(), members.end());
            for (DOMNode* n : DOMUtil::getOwnerDocument(lowest) == one.doc.get() ? all : other) {
                if (std::count(members.begin(), members.end(), n)) expected.push_back(n);
            }
        }
        ASSERT_EQ(expected, ordered(members)) << i;
    }
}

TEST(OrderedIterator, OrdersWideAndDeepDocuments) {
    DocumentPtr doc(DOMUtil::newDocument());
    DOMNode* top = doc->appendChild(doc->createElement(u"r"));
    Nodes children;
    for (int i = 0; i < 3000; ++i) children.push_back(top->appendChild(doc->createElement(u"c")));
    std::mt19937 random(7);
    for (std::size_t k : {2, 3, 50, 3000}) {
        Nodes members(children), expected;
        std::shuffle(members.begin(), members.end(), random);
        members.resize(k);
        for (DOMNode* c : children) {
            if (std::count(members.begin(), members.end(), c)) expected.push_back(c);
        }
        EXPECT_EQ(expected, ordered(members));
    }
    DOMNode *middle = top, *leaf = top;
    for (int i = 1; i < 200000; ++i) {
        leaf = leaf->appendChild(doc->createElement(u"d"));
        if (i == 100000) middle = leaf;
    }
    EXPECT_EQ(Nodes({top, middle, leaf}), ordered({leaf, top, middle}));
    EXPECT_EQ(Nodes({middle, leaf}), ordered({leaf, middle}));
}
