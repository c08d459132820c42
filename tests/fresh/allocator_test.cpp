// Allocator installation and the debug allocator need a process in which the library has not
// allocated anything yet: every scenario runs in a child process of its own, and the parent
// process never calls the library.
#include <ambrite/xml/foundation.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace Ambrite::XML;

namespace {

std::string failures;

#define CHECK(cond)                                                               \
    do {                                                                          \
        if (!(cond)) failures += std::string(__FILE__ ":") + std::to_string(__LINE__) + \
                                 ": " #cond "\n";                                 \
    } while (0)

// Runs `scenario` in a child process; the child reports the checks that failed on stderr.
#define EXPECT_SCENARIO(scenario)                                   \
    EXPECT_EXIT(                                                    \
        {                                                           \
            scenario();                                             \
            std::fputs(failures.c_str(), stderr);                   \
            std::exit(failures.empty() ? 0 : 1);                    \
        },                                                          \
        testing::ExitedWithCode(0), "")

// The C heap, with a record of live blocks and of the contents of every block when freed.
class Recording : public Allocator {
public:
    void* alloc(unsigned int size) override {
        void* p = std::malloc(size ? size : 1);
        live[p] = size;
        return p;
    }
    void free(void* block) override {
        if (!block) {
            ++nullFrees;
            return;
        }
        freed.push_back(std::string(static_cast<char*>(block), live.at(block)));
        live.erase(block);
        std::free(block);
    }
    std::map<void*, unsigned int> live;
    std::vector<std::string> freed;
    int nullFrees = 0;
};

class Exhausted : public Allocator {
public:
    void* alloc(unsigned int) override { return nullptr; }
    void free(void*) override {}
};

std::string exceptionText(const Exception& e) {
    std::ostringstream s;
    s << e;
    return s.str();
}

// Receives what the debug allocator logs before aborting and tells stderr whether it was the
// expected line.
class ExpectLine : public std::stringbuf {
public:
    std::string expected;

protected:
    int sync() override {
        std::string got = str();
        std::fputs(got == expected ? "log as expected\n" : ("unexpected log: " + got).c_str(),
                   stderr);
        std::fflush(stderr);
        return 0;
    }
};

std::string pointerText(const void* p) {
    std::ostringstream s;
    s << p;
    return s.str();
}

const char kFreeMessage[] = "DebugAllocator::free(): Attempt to free unallocated memory: ";

void installBeforeAllocation() {
    static Recording a;
    allocator(&a);
    void* p = utalloc(10);
    CHECK(a.live.count(p) == 1 && a.live[p] == 10);
    utfree(p);
    CHECK(a.live.empty() && a.freed.size() == 1);
}

void installAfterAllocationKeepsOld() {
    static Recording a, b;
    allocator(&a);
    void* p = utalloc(3);
    try {
        allocator(&b);
        CHECK(!"no exception");
    } catch (const Exception& e) {
        CHECK(exceptionText(e) == "Ambrite::XML::Exception 18: Memory allocation already occurred");
    }
    void* q = utalloc(4);
    CHECK(a.live.size() == 2 && b.live.empty());
    utfree(p);
    utfree(q);
    CHECK(a.live.empty() && b.freed.empty());
}

void debugAllocatorAfterAllocationThrows() {
    void* p = utalloc(1);  // default allocator
    std::ostringstream log;
    try {
        DebugAllocator late(log);
        CHECK(!"no exception");
    } catch (const Exception& e) {
        CHECK(e.id() == 18);
    }
    utfree(p);  // still the C heap, not the debug allocator that failed to install
    CHECK(log.str().empty());
}

void installAfterDebugAllocatorDestroyed() {
    std::ostringstream log;
    {
        DebugAllocator debug(log);
        utfree(utalloc(8));
        CHECK(debug.live() == 0);
    }
    static Recording a;
    allocator(&a);
    void* p = utalloc(5);
    CHECK(a.live.count(p) == 1);
    utfree(p);
    CHECK(log.str().empty());
}

void nullFreeReachesAllocator() {
    static Recording a;
    allocator(&a);
    utfree(nullptr);
    CHECK(a.nullFrees == 1);
}

void classAllocationThrowsOutOfMemory() {
    static Exhausted none;
    allocator(&none);
    const std::string expected = "Ambrite::XML::Exception 18: Out of memory";
    try {
        delete new RefCount(1);
        CHECK(!"no exception from RefCount");
    } catch (const Exception& e) {
        CHECK(exceptionText(e) == expected);
    }
    try {
        QualifiedName* q = new QualifiedName(nullptr, u"n", false);
        delete q;
        CHECK(!"no exception from QualifiedName");
    } catch (const Exception& e) {
        CHECK(exceptionText(e) == expected);
    }
    try {
        StringBuffer b(4);
        CHECK(!"no exception from StringBuffer");
    } catch (const Exception& e) {
        CHECK(exceptionText(e) == expected);
    }
}

void passPhrasesAreWipedBeforeRelease() {
    static Recording a;
    allocator(&a);
    std::istringstream never("");
    CHECK(PassPhrase::extract(never) == nullptr);  // no slot reserved yet
    const std::string wiped("\x55\x55\x55\x55\x55\x55\0\0", 8);
    { PassPhrase p("abc"); }
    CHECK(a.freed.size() == 1 && a.freed.back() == wiped);
    {
        std::istringstream in("");
        in >> PassPhrase(u"abc");  // the phrase itself, wiped
        CHECK(a.live.size() == 1);
        in >> PassPhrase("xyz");  // the phrase, and the replaced attachment, both wiped
        CHECK(a.freed.size() == 4);
    }
    CHECK(a.live.empty());  // the attachment left on the stream went with it
    CHECK(a.freed.size() == 5);
    for (const std::string& f : a.freed) CHECK(f == wiped);
}

void leakReportListsBlocksByAddress() {
    std::ostringstream log;
    void* p;
    void* q;
    {
        DebugAllocator debug(log);
        p = utalloc(32);
        q = utalloc(16);
        utfree(utalloc(64));
        CHECK(debug.live() == 2);
    }
    std::vector<std::pair<void*, int>> blocks = {{p, 32}, {q, 16}};
    std::sort(blocks.begin(), blocks.end(), [](const std::pair<void*, int>& x,
                                               const std::pair<void*, int>& y) {
        return std::less<void*>()(x.first, y.first);
    });
    std::ostringstream expected;
    expected << "DebugAllocator::~DebugAllocator(): Memory still allocated on shutdown {\n";
    for (const auto& b : blocks) expected << "  " << b.second << " bytes at " << b.first << "\n";
    expected << "}\n";
    CHECK(log.str() == expected.str());
    if (log.str() != expected.str()) failures += log.str();
    utfree(p);  // the C heap again
    utfree(q);
}

void debugAllocatorSerialisesThreads() {
    std::ostringstream log;
    {
        DebugAllocator debug(log);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([] {
                std::vector<void*> held;
                for (unsigned i = 0; i < 20000; ++i) {
                    held.push_back(utalloc(i % 64));
                    if (i % 3 == 0) {
                        utfree(held.back());
                        held.pop_back();
                    }
                }
                for (void* p : held) utfree(p);
            });
        }
        for (std::thread& t : threads) t.join();
        CHECK(debug.live() == 0);
    }
    CHECK(log.str().empty());
}

}  // namespace

TEST(Allocator, InstallBeforeAllocation) { EXPECT_SCENARIO(installBeforeAllocation); }

TEST(Allocator, InstallAfterAllocationThrows18AndKeepsOld) {
    EXPECT_SCENARIO(installAfterAllocationKeepsOld);
}

TEST(Allocator, NullFreeReachesInstalledAllocator) { EXPECT_SCENARIO(nullFreeReachesAllocator); }

TEST(Allocated, NullFromAllocatorThrowsOutOfMemory) {
    EXPECT_SCENARIO(classAllocationThrowsOutOfMemory);
}

TEST(PassPhrase, WipedBeforeEveryRelease) { EXPECT_SCENARIO(passPhrasesAreWipedBeforeRelease); }

TEST(DebugAllocator, ConstructedAfterAllocationThrows18) {
    EXPECT_SCENARIO(debugAllocatorAfterAllocationThrows);
}

TEST(DebugAllocator, DestroyedAllowsAnotherAllocator) {
    EXPECT_SCENARIO(installAfterDebugAllocatorDestroyed);
}

TEST(DebugAllocator, LeakReportListsBlocksByAddress) {
    EXPECT_SCENARIO(leakReportListsBlocksByAddress);
}

TEST(DebugAllocator, SerialisesConcurrentThreads) {
    EXPECT_SCENARIO(debugAllocatorSerialisesThreads);
}

TEST(DebugAllocator, AbortsOnDoubleFree) {
    EXPECT_DEATH(
        {
            ExpectLine buf;
            std::ostream log(&buf);
            DebugAllocator debug(log);
            void* p = utalloc(4);
            buf.expected = kFreeMessage + pointerText(p) + "\n";
            utfree(p);
            utfree(p);
        },
        "log as expected\n");
}

TEST(DebugAllocator, AbortsOnNullFree) {
    EXPECT_DEATH(
        {
            ExpectLine buf;
            buf.expected = kFreeMessage + pointerText(nullptr) + "\n";
            std::ostream log(&buf);
            DebugAllocator debug(log);
            utfree(nullptr);
        },
        "log as expected\n");
}

void limitAddressSpace() {
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;
    setrlimit(RLIMIT_AS, &limit);
}

#if defined(__SANITIZE_ADDRESS__)
#define AMXML_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define AMXML_ASAN 1
#endif
#endif

TEST(DebugAllocator, AbortsWhenMemoryRunsOut) {
#ifdef AMXML_ASAN
    GTEST_SKIP() << "the address sanitizer handles failed allocations itself";
#else
    EXPECT_DEATH(
        {
            ExpectLine buf;
            buf.expected = "DebugAllocator::alloc(): Attempt to allocate memory failed: " +
                           std::to_string(UINT_MAX) + "\n";
            std::ostream log(&buf);
            DebugAllocator debug(log);
            limitAddressSpace();
            utalloc(UINT_MAX);
        },
        "log as expected\n");
#endif
}
