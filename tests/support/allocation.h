// The allocator every test binary runs under: the library's leak-checking allocator, behind a
// switch that makes one chosen allocation fail. Tests use sweep() to check that an operation
// survives the failure of each of its allocations.
#ifndef AMBRITE_XML_TEST_ALLOCATION_H
#define AMBRITE_XML_TEST_ALLOCATION_H

#include <ambrite/xml/foundation.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <sstream>

namespace amxml_test {

/// Forwards to a DebugAllocator; when armed, the N-th allocation from then on gives null.
class FailingAllocator : public Ambrite::XML::Allocator {
public:
    explicit FailingAllocator(Ambrite::XML::DebugAllocator& debug) : debug_(debug) {}
    void* alloc(unsigned int size) override {
        if (failAt_ && ++count_ == failAt_) {
            failed_ = true;
            return nullptr;
        }
        return debug_.alloc(size);
    }
    void free(void* block) override { debug_.free(block); }

    /// Makes the n-th allocation from now fail (0: none).
    void failAt(unsigned long n) {
        failAt_ = n;
        count_ = 0;
        failed_ = false;
    }
    /// Whether the armed allocation was reached.
    bool failed() const { return failed_; }
    std::size_t live() const { return debug_.live(); }

    /// The allocator of this process, installed by the test main.
    static FailingAllocator& instance();

private:
    Ambrite::XML::DebugAllocator& debug_;
    unsigned long failAt_ = 0;
    unsigned long count_ = 0;
    bool failed_ = false;
};

/// Runs `operation` with its first, second, third... allocation failing, until a run meets no
/// failure. Every run must end in success or Exception 18, with no library block left behind;
/// gives the number of runs that failed an allocation. Objects the operation keeps beyond its run
/// must be released inside it.
inline unsigned long sweep(const std::function<void()>& operation, unsigned long limit = 1000000) {
    FailingAllocator& a = FailingAllocator::instance();
    for (unsigned long n = 1; n <= limit; ++n) {
        const std::size_t before = a.live();
        a.failAt(n);
        try {
            operation();
        } catch (const Ambrite::XML::Exception& e) {
            if (e.id() != 18 || !a.failed()) {
                a.failAt(0);
                std::ostringstream s;
                s << e;
                ADD_FAILURE() << "allocation " << n << " failed, and the operation threw "
                              << s.str();
                return n;
            }
        }
        const bool failed = a.failed();
        a.failAt(0);
        if (a.live() != before) {
            ADD_FAILURE() << "allocation " << n << " failed, and " << (a.live() - before)
                          << " blocks were left behind";
            return n;
        }
        // A run that absorbed its failure (it had another way) is fine: it leaked nothing.
        if (!failed) return n - 1;
    }
    ADD_FAILURE() << "the operation still allocates after " << limit << " failures";
    return limit;
}

}  // namespace amxml_test

#endif
