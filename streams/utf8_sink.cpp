#include <ambrite/xml/streams.h>

#include <climits>

#include "foundation/internal.h"
#include "streams/internal.h"

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
    // A high surrogate ending a chunk is held back so that no chunk ends inside a character.
    internal::Utf8Encoder encoder(pendingHigh_);
    unsigned char* out = encoder.encode<internal::kNoEscapes>(bytes_ + byteCount_, text, count);
    pendingHigh_ = static_cast<XMLCh>(encoder.held());
    byteCount_ = static_cast<unsigned int>(out - bytes_);
}

void UTF8Sink::emit() {
    sink_.write(bytes_, byteCount_);
    byteCount_ = 0;
}

void UTF8Sink::flush() {
    // Nothing can pair with a held-back high surrogate any more: it is written on its own.
    internal::Utf8Encoder encoder(pendingHigh_);
    byteCount_ = static_cast<unsigned int>(encoder.finish(bytes_ + byteCount_) - bytes_);
    pendingHigh_ = 0;
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
