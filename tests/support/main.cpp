// The main of every test binary: the leak-checking allocator is installed first thing, so every
// test is also a leak test.
#include <ambrite/xml/dom.h>
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    std::ostringstream report;
    int rc;
    {
        Ambrite::XML::DebugAllocator debug(report);
        testing::InitGoogleTest(&argc, argv);
        Ambrite::XML::DOMUtil::Init init;
        rc = RUN_ALL_TESTS();
    }
    if (!report.str().empty()) {
        std::cerr << report.str() << "FAILED: library memory still allocated at exit\n";
        return 1;
    }
    return rc;
}
