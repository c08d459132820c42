// The foundation's operations with their first, second, third... allocation failing: each run
// ends in success or Exception 18 and leaves nothing behind.
#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;

TEST(AllocationFailure, Foundation) {
    const std::function<void()> kOperations[] = {
        [] {  // strings
            Owned(StringUtil::dup(u"abc"));
            StringBuffer b(2);
            b.append(u"abc").append(u'd').append(b);
            Owned(b.release());
        },
        [] {  // values
            const unsigned char bytes[] = {0xFF, 0x80, 1, 2};
            std::unique_ptr<Block> b(new Block(bytes, 4, Block::Copy));
            std::unique_ptr<Block>(b->clone());
            std::istringstream in(std::string(3000, 'x'));
            Block* read = nullptr;
            in >> read;
            delete read;
            BigInteger i(bytes, 4);
            std::unique_ptr<BigDecimal> copy(i.clone());
            std::ostringstream out;
            out << i << *copy;
            b.reset(new Block(bytes, 4, Block::Copy));
            BigDecimal d(b.release(), 2);
            std::unique_ptr<BigDecimal>(d.clone());
            QualifiedName q(u"urn:a", u"b", true);
            std::unique_ptr<QualifiedName>(q.clone());
            delete new RefCount(1);
        },
        [] {  // a stream copied with copyfmt while memory runs out loses its copy of the phrase
            PassPhrase p("secret"), w(u"wide");
            std::istringstream in("x"), to("");
            in >> p >> w;
            to.copyfmt(in);
            Owned(PassPhrase::extract(in));
        },
    };
    for (const auto& operation : kOperations) EXPECT_GT(sweep(operation), 0u);
    // Messages, exceptions and the sorted containers take their memory from the C heap, not
    // through the allocator; they must not leave library blocks behind either.
    sweep([] {
        Exception e("f", 1, 12,
                    Format("%S %s %d %X", u"w", "n", 5, static_cast<DOMNode*>(nullptr)));
        printed(Exception("g", 2, e));
        MyMap<const XMLCh*, int, StringComparator> m, assigned;
        for (const XMLCh* k : {u"a", u"b", u"c", u"d", u"e"}) m[k] = 1;
        MyMap<const XMLCh*, int, StringComparator> copy(m);
        assigned = m;
    });
}
