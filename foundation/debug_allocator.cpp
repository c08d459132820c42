#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

struct DebugAllocator::State {
    std::mutex lock;
    std::map<void*, unsigned int> blocks;
};

DebugAllocator::DebugAllocator() : DebugAllocator(std::clog) {}

DebugAllocator::DebugAllocator(std::ostream& log) : state_(new State), log_(log) {
    try {
        allocator(this);
    } catch (...) {
        delete state_;
        throw;
    }
}

DebugAllocator::~DebugAllocator() {
    internal::resetAllocator();
    if (!state_->blocks.empty()) {
        log_ << "DebugAllocator::~DebugAllocator(): Memory still allocated on shutdown {\n";
        for (const auto& b : state_->blocks) {
            log_ << "  " << b.second << " bytes at " << b.first << '\n';
        }
        log_ << "}\n";
        log_.flush();
    }
    delete state_;
}

void* DebugAllocator::alloc(unsigned int size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) {
        log_ << "DebugAllocator::alloc(): Attempt to allocate memory failed: " << size << std::endl;
        std::abort();
    }
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->blocks.emplace(block, size);
    return block;
}

void DebugAllocator::free(void* block) {
    bool recorded;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        recorded = state_->blocks.erase(block) == 1;
    }
    if (!recorded) {
        log_ << "DebugAllocator::free(): Attempt to free unallocated memory: " << block
             << std::endl;
        std::abort();
    }
    std::free(block);
}

std::size_t DebugAllocator::live() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->blocks.size();
}

}  // namespace XML
}  // namespace Ambrite
