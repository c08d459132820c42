#include <gtest/gtest.h>

#include "binding/vocabulary.h"

using namespace vocabulary;

namespace {

// Logs its name when destroyed.
struct Logged : Support, Transient {
    Logged(std::string& log, char name) : Support(7), log_(log), name_(name) {}
    ~Logged() override { log_ += name_; }
    std::string& log_;
    char name_;
};

struct Algo : Algorithm {};

}  // namespace

TEST(Context, InstallsServicesAndDeletesOnlyItsTransients) {
    std::string log;
    {
        Logged s(log, 's'), t(log, 't');
        DecodeContext context;
        EXPECT_TRUE(context.type() == Context::DECODE && !context.lazyDecode());
        EXPECT_EQ(nullptr, context.lookup(7));
        context.install(&s);
        context.install(&t);
        EXPECT_EQ(&t, context.lookup(7));
        context.tbd(new Logged(log, 'a'));
        context.tbd(new Logged(log, 'b'));
        EXPECT_EQ(Context::ENCODE, EncodeContext().type());
    }
    EXPECT_EQ("abts", log);
}

// Equal keys replace key and value; copies share them; the provider owns none of them.
TEST(Provider, RegistersByContent) {
    Vocabulary v;
    const QualifiedName same(kDs, u"Reference", false);
    const std::u16string uri1 = u"urn:a", uri2 = u"urn:a";
    const Algo a1, a2;
    Provider p;
    EXPECT_TRUE(p.identifier() == 0 && p.algorithmMap().empty() && p.elementMap().empty());
    p.element(&v.names[0], &v.reference);
    p.element(&same, &v.transform);
    p.algorithm(uri1.c_str(), &a1);
    p.algorithm(uri2.c_str(), &a2);
    Provider copy(p);
    ASSERT_TRUE(copy.elementMap().size() == 1 && copy.algorithmMap().size() == 1);
    EXPECT_TRUE(copy.elementMap().begin()->key == &same &&
                copy.elementMap().begin()->value == &v.transform);
    EXPECT_TRUE(copy.algorithmMap().begin()->key == uri2.c_str() &&
                copy.algorithmMap().begin()->value == &a2);
}
