// The main of every test binary: the leak-checking allocator is installed first thing, so every
// test is also a leak test, checked after each test and once more at exit.
#include <ambrite/xml/dom.h>
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "support/allocation.h"

namespace amxml_test {

namespace {
FailingAllocator* installed = nullptr;

// Library blocks live after a test that were not live before it are that test's leak.
class LeakCheck : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { live_ = installed->live(); }
    void OnTestEnd(const testing::TestInfo&) override {
        EXPECT_EQ(live_, installed->live()) << "library blocks left behind by this test";
    }
    std::size_t live_ = 0;
};
}  // namespace

FailingAllocator& FailingAllocator::instance() { return *installed; }

}  // namespace amxml_test

int main(int argc, char** argv) {
    std::ostringstream report;
    int rc;
    {
        Ambrite::XML::DebugAllocator debug(report);
        amxml_test::FailingAllocator failing(debug);
        Ambrite::XML::allocator(&failing);
        amxml_test::installed = &failing;
        testing::InitGoogleTest(&argc, argv);
        testing::UnitTest::GetInstance()->listeners().Append(new amxml_test::LeakCheck);
        Ambrite::XML::DOMUtil::Init init;
        rc = RUN_ALL_TESTS();
    }
    if (!report.str().empty()) {
        std::cerr << report.str() << "FAILED: library memory still allocated at exit\n";
        return 1;
    }
    return rc;
}
