#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;

TEST(Exception, PrintedForms) {
    const char* noMessage = nullptr;
    EXPECT_EQ("Ambrite::XML::Exception: msg", printed(Exception(0, "msg")));
    EXPECT_EQ("Ambrite::XML::Exception 3: ", printed(Exception(3, noMessage)));
    EXPECT_EQ("Ambrite::XML::Exception -7: m", printed(Exception(-7, "m")));
    EXPECT_EQ("Ambrite::XML::Exception 12: No path name in URI: x (in f1 line 10)",
              printed(Exception("f1", 10, 12, Format("No path name in URI: %S", u"x"))));
    EXPECT_EQ("Ambrite::XML::Exception 18: a (in <unknown> line 4294967295)",
              printed(Exception(nullptr, 4294967295u, 18, "a")));
    EXPECT_EQ("Ambrite::XML::Exception 1: a?b?\xFF (in <unknown> line 0)",
              printed(Exception(nullptr, 0, 1, Format("a%Sb%c%S", u"\x263A", 0xFF, u"\xFF"))));
    // Format directives in a plain message are text, not directives.
    EXPECT_EQ("Ambrite::XML::Exception 2: 100%d", printed(Exception(2, "100%d")));
}

TEST(Exception, RethrowsAppendPlaces) {
    try {
        try {
            try {
                throw Exception("f1", 1, 14, Format("Unbound variable: %S", u"v"));
            } catch (const Exception& e) {
                throw Exception("f2", 2, e);
            }
        } catch (const Exception& e) {
            throw Exception(nullptr, 3, e);
        }
    } catch (const Exception& e) {
        EXPECT_EQ(14, e.id());
        ASSERT_EQ(3u, e.where().size());
        EXPECT_STREQ("f2", e.where()[1].key);
        EXPECT_EQ(2u, e.where()[1].value);
        EXPECT_EQ(
            "Ambrite::XML::Exception 14: Unbound variable: v "
            "(in f1 line 1; called from f2 line 2; called from <unknown> line 3)",
            printed(e));
    }
}

TEST(Exception, CopiesAreIndependent) {
    Exception* original = new Exception("f", 5, 9, Format("%s", "text"));
    Exception copy(*original);
    Exception rethrown("g", 6, *original);
    delete original;
    EXPECT_EQ("Ambrite::XML::Exception 9: text (in f line 5)", printed(copy));
    EXPECT_EQ("Ambrite::XML::Exception 9: text (in f line 5; called from g line 6)",
              printed(rethrown));
    EXPECT_STREQ("text", copy.what().c_str());
}
