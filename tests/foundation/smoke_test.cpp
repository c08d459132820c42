#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace amxml_test;

TEST(Smoke, FormatAndException) {
    Exception e(12, Format("No path name in URI: %S", u"x"));
    EXPECT_EQ("Ambrite::XML::Exception 12: No path name in URI: x", printed(e));
}
