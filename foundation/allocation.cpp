#include <atomic>
#include <climits>
#include <cstdlib>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

class DefaultAllocator final : public Allocator {
public:
    void* alloc(unsigned int size) override { return std::malloc(size); }
    void free(void* block) override { std::free(block); }
};

DefaultAllocator defaultAllocator;
// Set once before concurrent use, as the interface requires, so a plain pointer. The flag is
// written by every thread that allocates: a relaxed atomic, stored only while it is still false,
// costs one plain load per allocation.
Allocator* current = &defaultAllocator;
std::atomic<bool> allocated(false);

}  // namespace

Allocator::~Allocator() {}

void* utalloc(unsigned int size) {
    if (!allocated.load(std::memory_order_relaxed))
        allocated.store(true, std::memory_order_relaxed);
    return current->alloc(size);
}

void utfree(void* block) { current->free(block); }

void allocator(Allocator* a) {
    if (allocated.load(std::memory_order_relaxed))
        throw Exception(18, "Memory allocation already occurred");
    current = a;
}

void* Allocated::operator new(std::size_t size) { return internal::checkedAlloc(size); }

void Allocated::operator delete(void* block) noexcept {
    if (block) utfree(block);
}

void FreeDelete::operator()(void* p) const { std::free(p); }

void AMXMLDelete::operator()(void* p) const {
    if (p) utfree(p);
}

namespace internal {

void outOfMemory() { throw Exception(18, "Out of memory"); }

void* heapAlloc(std::size_t bytes) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) outOfMemory();
    return p;
}

void heapFree(void* block) { std::free(block); }

void* checkedAlloc(std::size_t bytes) {
    if (bytes > UINT_MAX) internal::outOfMemory();
    void* p = utalloc(static_cast<unsigned int>(bytes ? bytes : 1));
    if (!p) internal::outOfMemory();
    return p;
}

XMLCh* dupString(const XMLCh* s, std::size_t n) {
    if (n >= (UINT_MAX / sizeof(XMLCh))) internal::outOfMemory();
    XMLCh* copy = static_cast<XMLCh*>(checkedAlloc((n + 1) * sizeof(XMLCh)));
    std::memcpy(copy, s, n * sizeof(XMLCh));
    copy[n] = 0;
    return copy;
}

void resetAllocator() {
    current = &defaultAllocator;
    allocated.store(false, std::memory_order_relaxed);
}

}  // namespace internal

}  // namespace XML
}  // namespace Ambrite
