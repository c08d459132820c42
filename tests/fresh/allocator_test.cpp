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
#include <string>
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

// Receives what the debug allocator logs before it aborts and tells stderr whether it was the
// expected line.
class ExpectLine : public std::stringbuf {
public:
    std::string expected;

protected:
    int sync() override {
        std::fputs(str() == expected ? "log as expected\n" : ("unexpected: " + str()).c_str(),
                   stderr);
        return 0;
    }
};

// In a child process under a debug allocator, `misuse` sets the line expected and then aborts.
void expectAbort(void (*misuse)(std::string& expected)) {
    EXPECT_DEATH(
        {
            ExpectLine buf;
            std::ostream log(&buf);
            DebugAllocator debug(log);
            misuse(buf.expected);
        },
        "log as expected\n");
}

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

std::string pointerText(const void* p) {
    std::ostringstream s;
    s << p;
    return s.str();
}

const char kFreeMessage[] = "DebugAllocator::free(): Attempt to free unallocated memory: ";

}  // namespace

TEST(Allocator, InstallBeforeAllocationOnlyAndNullFreeReachesIt) {
    inFreshProcess([] {
        static Recording a, b;
        allocator(&a);
        void* p = utalloc(10);
        CHECK(a.live.count(p) == 1 && a.live[p] == 10);
        try {
            allocator(&b);
            CHECK(false);
        } catch (const Exception& e) {
            CHECK(e.id() == 18);
            CHECK(std::string("Memory allocation already occurred") == e.what().c_str());
        }
        utfree(p);
        utfree(utalloc(4));
        utfree(nullptr);
        CHECK(a.live.empty() && a.freed.size() == 2 && a.nullFrees == 1);
        CHECK(b.live.empty() && b.freed.empty());
    });
}

TEST(Allocated, NullFromAllocatorThrowsOutOfMemory) {
    inFreshProcess([] {
        static Exhausted none;
        allocator(&none);
        for (int i = 0; i < 2; ++i) {
            try {
                if (i == 0) delete new RefCount(1);
                if (i == 1) delete new QualifiedName(nullptr, u"n", false);
                CHECK(false);
            } catch (const Exception& e) {
                CHECK(e.id() == 18 && std::string("Out of memory") == e.what().c_str());
            }
        }
    });
}

TEST(PassPhrase, WipedBeforeEveryRelease) {
    inFreshProcess([] {
        static Recording a;
        allocator(&a);
        std::istringstream never("");
        CHECK(PassPhrase::extract(never) == nullptr);  // no slot reserved yet
        const std::string wiped("\x55\x55\x55\x55\x55\x55\0\0", 8);
        { PassPhrase p("abc"); }
        CHECK(a.freed.size() == 1);
        {
            std::istringstream in("");
            in >> PassPhrase(u"abc");
            CHECK(a.live.size() == 1);
            in >> PassPhrase("xyz");  // frees the phrase and the replaced attachment
            CHECK(a.freed.size() == 4);
        }
        CHECK(a.live.empty() && a.freed.size() == 5);  // the attachment went with the stream
        for (const std::string& f : a.freed) CHECK(f == wiped);
    });
}

TEST(DebugAllocator, ConstructedAfterAllocationThrows18) {
    inFreshProcess([] {
        void* p = utalloc(1);
        std::ostringstream log;
        try {
            DebugAllocator late(log);
            CHECK(false);
        } catch (const Exception& e) {
            CHECK(e.id() == 18);
        }
        utfree(p);  // still the C heap: the failed debug allocator is not installed
        CHECK(log.str().empty());
    });
}

TEST(DebugAllocator, DestroyedAllowsAnotherAllocator) {
    inFreshProcess([] {
        std::ostringstream log;
        {
            DebugAllocator debug(log);
            utfree(utalloc(8));
        }
        static Recording a;
        allocator(&a);
        void* p = utalloc(5);
        CHECK(a.live.count(p) == 1);
        utfree(p);
        CHECK(log.str().empty());
    });
}

TEST(DebugAllocator, LeakReportListsBlocksByAddress) {
    inFreshProcess([] {
        std::ostringstream log;
        void* blocks[2];
        {
            DebugAllocator debug(log);
            blocks[0] = utalloc(32);
            blocks[1] = utalloc(16);
            utfree(utalloc(64));
            CHECK(debug.live() == 2);
        }
        int first = std::less<void*>()(blocks[0], blocks[1]) ? 0 : 1;
        std::ostringstream expected;
        expected << "DebugAllocator::~DebugAllocator(): Memory still allocated on shutdown {\n";
        for (int i : {first, 1 - first}) {
            expected << "  " << (i == 0 ? 32 : 16) << " bytes at " << blocks[i] << "\n";
        }
        expected << "}\n";
        CHECK(log.str() == expected.str());
        utfree(blocks[0]);  // leaked blocks now belong to the C heap
        utfree(blocks[1]);
    });
}

TEST(DebugAllocator, SerialisesConcurrentThreads) {
    inFreshProcess([] {
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
    });
}

TEST(DebugAllocator, AbortsOnDoubleFree) {
    expectAbort([](std::string& expected) {
        void* p = utalloc(4);
        expected = kFreeMessage + pointerText(p) + "\n";
        utfree(p);
        utfree(p);
    });
}

TEST(DebugAllocator, AbortsOnNullFree) {
    expectAbort([](std::string& expected) {
        expected = kFreeMessage + pointerText(nullptr) + "\n";
        utfree(nullptr);
    });
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
#endif
    expectAbort([](std::string& expected) {
        expected = "DebugAllocator::alloc(): Attempt to allocate memory failed: " +
                   std::to_string(UINT_MAX) + "\n";
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;
        setrlimit(RLIMIT_AS, &limit);
        utalloc(UINT_MAX);
    });
}
