#include <gtest/gtest.h>

#include "binding/vocabulary.h"

using namespace vocabulary;

namespace {

// Logs its name when destroyed.
struct Logged : Support, Transient {
    Logged(std::string& log, int identifier, char name)
        : Support(identifier), log_(log), name_(name) {}
    ~Logged() override { log_ += name_; }
    std::string& log_;
    char name_;
};

struct Algo : Algorithm {};

}  // namespace

TEST(Context, InstallsServicesAndDeletesOnlyItsTransients) {
    std::string log;
    {
        Logged s(log, 7, 's'), t(log, 7, 't');
        DecodeContext context;
        EXPECT_EQ(Context::DECODE, context.type());
        EXPECT_FALSE(context.lazyDecode());
        EXPECT_EQ(nullptr, context.lookup(7));
        context.install(&s);
        context.install(&t);
        EXPECT_EQ(&t, context.lookup(7));
        context.tbd(new Logged(log, 2, 'a'));
        context.tbd(new Logged(log, 2, 'b'));
        EXPECT_EQ(Context::ENCODE, EncodeContext().type());
    }
    EXPECT_EQ("abts", log);
}

// Equal keys replace key and value; the provider owns none of them.
TEST(Provider, RegistersByContent) {
    Vocabulary v;
    const QualifiedName same(kDs, u"Reference", false);
    const std::u16string uri1 = u"urn:a", uri2 = u"urn:a";
    const Algo a1, a2;
    Provider p;
    EXPECT_EQ(0, p.identifier());
    EXPECT_TRUE(p.algorithmMap().empty() && p.elementMap().empty());
    p.element(&v.names[0], &v.factories[0]);
    p.element(&same, &v.factories[1]);
    p.algorithm(uri1.c_str(), &a1);
    p.algorithm(uri2.c_str(), &a2);
    Provider copy(p);
    ASSERT_EQ(1u, copy.elementMap().size());
    EXPECT_EQ(&same, copy.elementMap().begin()->key);
    EXPECT_EQ(&v.factories[1], copy.elementMap().begin()->value);
    ASSERT_EQ(1u, copy.algorithmMap().size());
    EXPECT_EQ(uri2.c_str(), copy.algorithmMap().begin()->key);
    EXPECT_EQ(&a2, copy.algorithmMap().begin()->value);
}
