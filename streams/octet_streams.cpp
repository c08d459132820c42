#include <ambrite/xml/streams.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstring>
#include <memory>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

OctetSource::~OctetSource() {}

OctetSink::~OctetSink() {}

// ---------------------------------------------------------------------------------------------
// BufferSink

BufferSink::BufferSink(unsigned int capacity)
    : data_(static_cast<unsigned char*>(internal::checkedAlloc(capacity))),
      capacity_(capacity),
      length_(0) {}

BufferSink::~BufferSink() {
    if (data_) utfree(data_);
}

void BufferSink::write(const unsigned char* bytes, unsigned int count) {
    if (count == 0) return;
    assert(data_ && "BufferSink written after release()");
    std::size_t needed = static_cast<std::size_t>(length_) + count;
    if (needed > capacity_) {
        if (needed > UINT_MAX) internal::outOfMemory();
        // Doubling plus the request keeps appends amortised linear; the size type caps it.
        std::size_t grown =
            static_cast<std::size_t>(count) + 2 * static_cast<std::size_t>(capacity_);
        unsigned int capacity = static_cast<unsigned int>(std::min<std::size_t>(grown, UINT_MAX));
        unsigned char* data = static_cast<unsigned char*>(internal::checkedAlloc(capacity));
        std::memcpy(data, data_, length_);
        utfree(data_);
        data_ = data;
        capacity_ = capacity;
    }
    std::memcpy(data_ + length_, bytes, count);
    length_ += count;
}

void BufferSink::close() {}

unsigned char* BufferSink::release() {
    unsigned char* data = data_;
    data_ = nullptr;
    return data;
}

// ---------------------------------------------------------------------------------------------
// OctetSinkSource

OctetSinkSource::OctetSinkSource(unsigned int capacity) : buffer_(capacity), readPosition_(0) {}

OctetSinkSource::~OctetSinkSource() {}

void OctetSinkSource::write(const unsigned char* bytes, unsigned int count) {
    buffer_.write(bytes, count);
}

unsigned int OctetSinkSource::read(unsigned char* buffer, unsigned int max) {
    unsigned int k = std::min(max, buffer_.length() - readPosition_);
    if (k) std::memcpy(buffer, buffer_.data() + readPosition_, k);
    readPosition_ += k;
    return k;
}

void OctetSinkSource::close() {}

// ---------------------------------------------------------------------------------------------
// BlockSource

BlockSource::BlockSource(Block* block) : block_(block), readPosition_(0) {}

BlockSource::~BlockSource() { delete block_; }

unsigned int BlockSource::read(unsigned char* buffer, unsigned int max) {
    if (!block_) throw Exception(3, "Already closed");
    unsigned int k = std::min(max, block_->length() - readPosition_);
    if (k) std::memcpy(buffer, block_->data() + readPosition_, k);
    readPosition_ += k;
    return k;
}

void BlockSource::close() {
    delete block_;
    block_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// SequenceSource

SequenceSource::SequenceSource(const std::vector<OctetSource*>& sources) {
    try {
        sources_ = sources;
    } catch (...) {
        for (OctetSource* s : sources) delete s;
        throw;
    }
    current_ = sources_.begin();
}

SequenceSource::~SequenceSource() {
    for (OctetSource* s : sources_) delete s;
}

unsigned int SequenceSource::read(unsigned char* buffer, unsigned int max) {
    if (max == 0) return 0;
    // One source per call: a caller that gets fewer bytes than it asked for just reads again.
    for (; current_ != sources_.end(); ++current_) {
        if (!*current_) continue;
        unsigned int n = (*current_)->read(buffer, max);
        if (n) return n;
    }
    return 0;
}

void SequenceSource::close() {
    for (OctetSource* s : sources_) {
        if (s) s->close();
    }
}

// ---------------------------------------------------------------------------------------------
// IO

void IO::io(OctetSource* source, OctetSink* sink, unsigned int bufferSize) {
    // A size of 0 still copies everything, one byte per read.
    unsigned int size = bufferSize ? bufferSize : 1;
    std::unique_ptr<unsigned char, AMXMLDelete> scratch(
        static_cast<unsigned char*>(internal::checkedAlloc(size)));
    for (unsigned int n = source->read(scratch.get(), size); n;
         n = source->read(scratch.get(), size)) {
        sink->write(scratch.get(), n);
    }
    source->close();
}

// ---------------------------------------------------------------------------------------------
// Sinks of cryptographic providers

DigestSink::DigestSink() {}
DigestSink::~DigestSink() {}

SignSink::SignSink() {}
SignSink::~SignSink() {}

VerifySink::VerifySink() {}
VerifySink::~VerifySink() {}

}  // namespace XML
}  // namespace Ambrite
