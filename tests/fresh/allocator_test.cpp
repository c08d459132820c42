// Allocator installation and the debug allocator need a process in which the library has not
// allocated anything yet: every scenario runs in a child process of its own, and the parent
// process never calls the library.
#include <ambrite/xml/foundation.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

using namespace Ambrite::XML;

namespace {

std::string failures;

#define CHECK(cond) \
    if (!(cond)) failures += std::to_string(__LINE__) + ": " #cond "\n"

// Runs `scenario` in a child process, which reports the checks that failed on stderr.
void inFreshProcess(void (*scenario)()) {
    EXPECT_EXIT(
        {
            scenario();
            std::fputs(failures.c_str(), stderr);
            std::exit(failures.empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// The id and message of the Exception that `f` throws.
std::string thrown(void (*f)()) {
    try {
        f();
    } catch (const Exception& e) {
        return std::to_string(e.id()) + " " + e.what().c_str();
    }
    return "nothing thrown";
}

// In a child process under a debug allocator, `misuse` writes the line the allocator should log
// and then makes it abort; the log, flushed before the abort, is compared with that line.
struct ExpectLine : std::stringbuf {
    std::ostringstream expected;
    int sync() override {
        std::fputs(str() == expected.str() ? "log as expected\n" : ("log: " + str()).c_str(),
                   stderr);
        return 0;
    }
};

void expectAbort(void (*misuse)(std::ostream& expected)) {
    EXPECT_DEATH(
        {
            ExpectLine buf;
            std::ostream log(&buf);
            DebugAllocator debug(log);
            misuse(buf.expected);
        },
        "log as expected\n");
}

// The C heap, or nothing when full; records live blocks and the contents of each freed block
// ("null" for a null pointer).
struct Recording : Allocator {
    std::map<void*, unsigned int> live;
    std::vector<std::string> freed;
    bool full = false;
    void* alloc(unsigned int size) override {
        void* p = full ? nullptr : std::malloc(size + 1);
        if (p) live[p] = size;
        return p;
    }
    void free(void* block) override {
        freed.push_back(block ? std::string(static_cast<char*>(block), live.at(block)) : "null");
        live.erase(block);
        std::free(block);
    }
};

const char kBadFree[] = "DebugAllocator::free(): Attempt to free unallocated memory: ";

}  // namespace

TEST(Allocator, InstalledBeforeAllocationOnly) {
    inFreshProcess([] {
        static Recording a, b;
        allocator(&a);
        void* p = utalloc(10);
        CHECK(a.live.count(p) == 1 && a.live[p] == 10);
        CHECK(thrown([] { allocator(&b); }) == "18 Memory allocation already occurred");
        CHECK(thrown([] { DebugAllocator late; }) == "18 Memory allocation already occurred");
        utfree(p);  // still reaches the first allocator
        utfree(nullptr);
        CHECK(a.live.empty() && a.freed.size() == 2 && a.freed[1] == "null" && b.freed.empty());
        a.full = true;
        CHECK(thrown([] { delete new RefCount(1); }) == "18 Out of memory");
    });
}

TEST(PassPhrase, WipedBeforeEveryRelease) {
    inFreshProcess([] {
        static Recording a;
        allocator(&a);
        std::istringstream never("");
        CHECK(PassPhrase::extract(never) == nullptr);  // before any stream slot is reserved
        {
            std::istringstream in("");
            in >> PassPhrase(u"abc") >> PassPhrase("xyz");  // the first attachment is replaced
            CHECK(a.live.size() == 1 && a.freed.size() == 3);
        }
        CHECK(a.live.empty() && a.freed.size() == 4);  // the attachment went with the stream
        for (const std::string& f : a.freed) CHECK(f == std::string("UUUUUU\0\0", 8));
    });
}

TEST(DebugAllocator, SerialisesThreadsReportsLeaksAndStepsAside) {
    inFreshProcess([] {
        std::ostringstream log, expected;
        void *a, *b;
        {
            DebugAllocator debug(log);
            std::thread threads[4];
            for (std::thread& t : threads) {
                t = std::thread([] {
                    std::vector<void*> held;
                    for (unsigned i = 0; i < 20000; ++i) held.push_back(utalloc(i % 64));
                    for (void* p : held) utfree(p);
                });
            }
            for (std::thread& t : threads) t.join();
            a = utalloc(32);
            b = utalloc(16);
            CHECK(debug.live() == 2);
        }
        bool aFirst = std::less<void*>()(a, b);  // listed by address
        expected << "DebugAllocator::~DebugAllocator(): Memory still allocated on shutdown {\n"
                 << "  " << (aFirst ? 32 : 16) << " bytes at " << (aFirst ? a : b) << "\n"
                 << "  " << (aFirst ? 16 : 32) << " bytes at " << (aFirst ? b : a) << "\n}\n";
        CHECK(log.str() == expected.str());
        utfree(a);  // leaked blocks now belong to the C heap
        utfree(b);
        static Recording other;
        allocator(&other);  // the destroyed debug allocator no longer counts as an allocation
        utfree(utalloc(5));
        CHECK(other.freed.size() == 1);
    });
}

#if defined(__SANITIZE_ADDRESS__)
#define AMXML_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define AMXML_ASAN 1
#endif
#endif

TEST(DebugAllocator, AbortsOnDoubleOrNullFreeAndWhenMemoryRunsOut) {
    expectAbort([](std::ostream& expected) {
        void* p = utalloc(4);
        expected << kBadFree << p << "\n";
        utfree(p);
        utfree(p);
    });
    expectAbort([](std::ostream& expected) {
        expected << kBadFree << static_cast<void*>(nullptr) << "\n";
        utfree(nullptr);
    });
#ifndef AMXML_ASAN  // the address sanitizer handles failed allocations itself
    expectAbort([](std::ostream& expected) {
        expected << "DebugAllocator::alloc(): Attempt to allocate memory failed: " << UINT_MAX
                 << "\n";
        struct rlimit limit = {rlim_t(1) << 30, rlim_t(1) << 30};
        setrlimit(RLIMIT_AS, &limit);
        utalloc(UINT_MAX);
    });
#endif
}
