#include <ambrite/xml/nodeset.h>

#include <cassert>
#include <cstring>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

const std::uint32_t kInitialBucketCapacity = 4;

// The smallest power of two not below n (at least 1), so that the bucket mask is always valid.
std::uint32_t powerOfTwo(unsigned int n) {
    std::uint32_t p = 1;
    while (p < n && p <= (UINT32_MAX >> 1)) p <<= 1;
    return p;
}

// The three parallel arrays of a bucket table, released together unless handed over.
struct Table {
    DOMNode*** buckets = nullptr;
    std::uint32_t* counts = nullptr;
    std::uint32_t* capacities = nullptr;
    std::uint32_t bucketCount = 0;

    Table() = default;
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    ~Table() { release(); }

    // Makes bucketCount empty buckets whose capacity is given per bucket by capacityOf(i).
    template <class CapacityOf>
    void make(std::uint32_t count, CapacityOf capacityOf) {
        buckets = static_cast<DOMNode***>(internal::checkedAlloc(sizeof(DOMNode**) * count));
        std::memset(static_cast<void*>(buckets), 0, sizeof(DOMNode**) * count);
        bucketCount = count;
        counts = static_cast<std::uint32_t*>(internal::checkedAlloc(sizeof(std::uint32_t) * count));
        std::memset(counts, 0, sizeof(std::uint32_t) * count);
        capacities =
            static_cast<std::uint32_t*>(internal::checkedAlloc(sizeof(std::uint32_t) * count));
        for (std::uint32_t i = 0; i < count; ++i) {
            capacities[i] = capacityOf(i);
            buckets[i] =
                static_cast<DOMNode**>(internal::checkedAlloc(sizeof(DOMNode*) * capacities[i]));
        }
    }

    void release() {
        if (buckets) {
            for (std::uint32_t i = 0; i < bucketCount; ++i) {
                if (buckets[i]) utfree(buckets[i]);
            }
            utfree(buckets);
        }
        if (counts) utfree(counts);
        if (capacities) utfree(capacities);
        buckets = nullptr;
        counts = nullptr;
        capacities = nullptr;
        bucketCount = 0;
    }
};

}  // namespace

NodeHashSet::NodeHashSet() : NodeHashSet(4) {}

NodeHashSet::NodeHashSet(unsigned int bucketCount)
    : buckets_(nullptr), counts_(nullptr), capacities_(nullptr), bucketCount_(0), size_(0) {
    Table t;
    t.make(powerOfTwo(bucketCount), [](std::uint32_t) { return kInitialBucketCapacity; });
    buckets_ = t.buckets;
    counts_ = t.counts;
    capacities_ = t.capacities;
    bucketCount_ = t.bucketCount;
    t.buckets = nullptr;
    t.counts = nullptr;
    t.capacities = nullptr;
}

NodeHashSet::NodeHashSet(const NodeHashSet& other)
    : buckets_(nullptr), counts_(nullptr), capacities_(nullptr), bucketCount_(0), size_(0) {
    *this = other;
}

NodeHashSet& NodeHashSet::operator=(const NodeHashSet& other) {
    if (this == &other) return *this;
    // Build the copy aside, so that a failed allocation leaves this set as it was.
    Table t;
    t.make(other.bucketCount_, [&other](std::uint32_t i) {
        return other.counts_[i] > kInitialBucketCapacity ? other.counts_[i]
                                                         : kInitialBucketCapacity;
    });
    for (std::uint32_t i = 0; i < t.bucketCount; ++i) {
        if (other.counts_[i]) {
            std::memcpy(static_cast<void*>(t.buckets[i]), other.buckets_[i],
                        sizeof(DOMNode*) * other.counts_[i]);
        }
        t.counts[i] = other.counts_[i];
    }
    std::swap(buckets_, t.buckets);
    std::swap(counts_, t.counts);
    std::swap(capacities_, t.capacities);
    std::swap(bucketCount_, t.bucketCount);
    size_ = other.size_;
    return *this;
}

NodeHashSet::~NodeHashSet() {
    Table t;
    t.buckets = buckets_;
    t.counts = counts_;
    t.capacities = capacities_;
    t.bucketCount = bucketCount_;
}

void NodeHashSet::insert(DOMNode* node) {
    if (contains(node)) return;
    if (size_ >= 2 * bucketCount_) grow();
    std::uint32_t b = bucketOf(node, bucketCount_);
    if (counts_[b] == capacities_[b]) {
        std::uint32_t capacity = capacities_[b] * 2;
        DOMNode** members =
            static_cast<DOMNode**>(internal::checkedAlloc(sizeof(DOMNode*) * capacity));
        std::memcpy(static_cast<void*>(members), buckets_[b], sizeof(DOMNode*) * counts_[b]);
        utfree(buckets_[b]);
        buckets_[b] = members;
        capacities_[b] = capacity;
    }
    buckets_[b][counts_[b]++] = node;
    ++size_;
}

void NodeHashSet::grow() {
    Table t;
    t.make(bucketCount_ * 2, [](std::uint32_t) { return kInitialBucketCapacity; });
    // Reinserting bucket by bucket keeps the relative order of members that share a new bucket.
    for (std::uint32_t i = 0; i < bucketCount_; ++i) {
        for (std::uint32_t j = 0; j < counts_[i]; ++j) {
            DOMNode* node = buckets_[i][j];
            std::uint32_t b = bucketOf(node, t.bucketCount);
            if (t.counts[b] == t.capacities[b]) {
                std::uint32_t capacity = t.capacities[b] * 2;
                DOMNode** members =
                    static_cast<DOMNode**>(internal::checkedAlloc(sizeof(DOMNode*) * capacity));
                std::memcpy(static_cast<void*>(members), t.buckets[b],
                            sizeof(DOMNode*) * t.counts[b]);
                utfree(t.buckets[b]);
                t.buckets[b] = members;
                t.capacities[b] = capacity;
            }
            t.buckets[b][t.counts[b]++] = node;
        }
    }
    std::swap(buckets_, t.buckets);
    std::swap(counts_, t.counts);
    std::swap(capacities_, t.capacities);
    std::swap(bucketCount_, t.bucketCount);
}

unsigned int NodeHashSet::longestBucket() const {
    std::uint32_t longest = 0;
    for (std::uint32_t i = 0; i < bucketCount_; ++i) {
        if (counts_[i] > longest) longest = counts_[i];
    }
    return longest;
}

void NodeHashSet::clear() {
    std::memset(counts_, 0, sizeof(std::uint32_t) * bucketCount_);
    size_ = 0;
}

NodeHashSet::iterator NodeHashSet::begin() {
    std::uint32_t b = 0;
    while (b < bucketCount_ && counts_[b] == 0) ++b;
    return iterator(buckets_, counts_, &size_, bucketCount_, b, 0);
}

NodeHashSet::iterator NodeHashSet::end() {
    return iterator(buckets_, counts_, &size_, bucketCount_, bucketCount_, 0);
}

NodeHashSet::iterator& NodeHashSet::iterator::operator++() {
    if (bucket_ >= bucketCount_) return *this;
    if (++position_ < static_cast<std::int64_t>(counts_[bucket_])) return *this;
    position_ = 0;
    do {
        ++bucket_;
    } while (bucket_ < bucketCount_ && counts_[bucket_] == 0);
    return *this;
}

void NodeHashSet::iterator::remove() {
    assert(bucket_ < bucketCount_ && position_ >= 0 &&
           position_ < static_cast<std::int64_t>(counts_[bucket_]));
    DOMNode** members = buckets_[bucket_];
    std::uint32_t at = static_cast<std::uint32_t>(position_);
    std::uint32_t after = counts_[bucket_] - at - 1;
    if (after) {
        std::memmove(static_cast<void*>(members + at), members + at + 1, sizeof(DOMNode*) * after);
    }
    --counts_[bucket_];
    --*size_;
    // Standing one place back, the next ++ lands on the member that moved into this slot.
    --position_;
}

}  // namespace XML
}  // namespace Ambrite
