#include <ambrite/xml/streams.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "foundation/internal.h"
#include "streams/utf8.h"

namespace Ambrite {
namespace XML {

CharacterSink::~CharacterSink() {}

void CharacterSink::write(const XMLCh* text) {
    std::size_t n = internal::length(text);
    while (n > UINT_MAX) {
        write(text, UINT_MAX);
        text += UINT_MAX;
        n -= UINT_MAX;
    }
    write(text, static_cast<unsigned int>(n));
}

namespace {

const XMLCh kUTF8[] = {u'U', u'T', u'F', u'-', u'8', 0};

using utf8::isHighSurrogate;
using utf8::isLowSurrogate;
using utf8::put2;
using utf8::put3;
using utf8::putPair;

// Bits that are set in at least one of four units packed into a word when any of them is not
// ASCII; the byte order of the packing does not matter for this test.
const std::uint64_t kNonASCII = 0xFF80FF80FF80FF80ull;

}  // namespace

UTF8Sink::UTF8Sink(OctetSink& sink, unsigned int bufferSize)
    : sink_(sink),
      // A chunk of no units would never fill; one unit is the smallest that makes progress.
      bufferSize_(bufferSize ? bufferSize : 1),
      room_(bufferSize_),
      bytes_(nullptr),
      byteCount_(0),
      pendingHigh_(0) {
    // Three bytes per unit of a chunk, plus room for a high surrogate carried into it.
    bytes_ = static_cast<unsigned char*>(
        internal::checkedAlloc(3 * static_cast<std::size_t>(bufferSize_) + 4));
}

UTF8Sink::~UTF8Sink() { utfree(bytes_); }

void UTF8Sink::write(const XMLCh* text, unsigned int count) {
    while (count) {
        unsigned int n = count < room_ ? count : room_;
        encode(text, n);
        text += n;
        count -= n;
        room_ -= n;
        // When the octet sink threw on an earlier chunk, room_ is still 0 and the next write
        // hands the same bytes on again before taking in more units.
        if (room_ == 0) {
            emit();
            room_ = bufferSize_;
        }
    }
}

void UTF8Sink::encode(const XMLCh* text, unsigned int count) {
    const XMLCh* p = text;
    const XMLCh* end = text + count;
    unsigned char* out = bytes_ + byteCount_;
    if (pendingHigh_ && p < end) {
        if (isLowSurrogate(*p)) {
            out = putPair(out, pendingHigh_, *p);
            ++p;
        } else {
            out = put3(out, pendingHigh_);
        }
        pendingHigh_ = 0;
    }
    while (p < end) {
        unsigned int u = *p;
        if (u < 0x80) {
            // Markup and most text are ASCII: copy four units per test while they are.
            while (end - p >= 4) {
                std::uint64_t word;
                std::memcpy(&word, p, sizeof word);
                if (word & kNonASCII) break;
                out[0] = static_cast<unsigned char>(p[0]);
                out[1] = static_cast<unsigned char>(p[1]);
                out[2] = static_cast<unsigned char>(p[2]);
                out[3] = static_cast<unsigned char>(p[3]);
                out += 4;
                p += 4;
            }
            while (p < end && *p < 0x80) *out++ = static_cast<unsigned char>(*p++);
            continue;
        }
        ++p;
        if (u < 0x800) {
            out = put2(out, u);
        } else if (!isHighSurrogate(static_cast<XMLCh>(u))) {
            out = put3(out, u);
        } else if (p == end) {
            // The partner may come with the next unit; until then the high surrogate is held
            // back so that no chunk ends in the middle of a character.
            pendingHigh_ = static_cast<XMLCh>(u);
        } else if (isLowSurrogate(*p)) {
            out = putPair(out, u, *p);
            ++p;
        } else {
            out = put3(out, u);
        }
    }
    byteCount_ = static_cast<unsigned int>(out - bytes_);
}

void UTF8Sink::emit() {
    sink_.write(bytes_, byteCount_);
    byteCount_ = 0;
}

void UTF8Sink::flush() {
    // Nothing can pair with a held-back high surrogate any more: it is written on its own.
    if (pendingHigh_) {
        byteCount_ = static_cast<unsigned int>(put3(bytes_ + byteCount_, pendingHigh_) - bytes_);
        pendingHigh_ = 0;
    }
    emit();
    room_ = bufferSize_;
}

void UTF8Sink::close() {
    flush();
    sink_.close();
}

const XMLCh* UTF8Sink::encoding() const { return kUTF8; }

}  // namespace XML
}  // namespace Ambrite
