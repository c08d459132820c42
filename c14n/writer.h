// The canonicalizer's output: markup, names and escaped values, either encoded straight into
// UTF-8 for an octet sink or gathered as UTF-16 for a character sink.
#ifndef AMBRITE_XML_C14N_WRITER_H
#define AMBRITE_XML_C14N_WRITER_H

#include <ambrite/xml/streams.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dom/escaping.h"
#include "foundation/internal.h"
#include "streams/utf8.h"

namespace Ambrite {
namespace XML {
namespace C14n {
namespace detail {

/// How a piece of text is escaped: not at all (names, comments, PI data), as character data,
/// or as an attribute value. The references are those of canonical XML.
enum Escaping { RAW, TEXT, ATTRIBUTE };

constexpr const escaping::Table& table(Escaping e) {
    return e == TEXT ? escaping::kText : e == ATTRIBUTE ? escaping::kAttribute : escaping::kRaw;
}

template <Escaping E>
inline bool special(unsigned int u) {
    constexpr std::uint64_t bits = table(E).special;
    return u < escaping::kTableSize && ((bits >> u) & 1);
}

using utf8::isHighSurrogate;
using utf8::isLowSurrogate;

/// UTF-8 straight into a buffer that is handed to the octet sink whenever it fills. A surrogate
/// pair is one four-byte character, also when its halves arrive in separate pieces; a lone
/// surrogate is written as its own three-byte sequence.
class Utf8Out {
public:
    explicit Utf8Out(OctetSink& sink)
        : sink_(sink), buffer_(static_cast<unsigned char*>(internal::checkedAlloc(kCapacity))),
          length_(0), pendingHigh_(0),
          names_(static_cast<NameCacheEntry*>(
              internal::checkedAlloc(kNameCacheSize * sizeof(NameCacheEntry)))) {
        for (std::size_t i = 0; i < kNameCacheSize; ++i) names_[i].name = nullptr;
    }
    ~Utf8Out() {
        utfree(names_);
        utfree(buffer_);
    }
    Utf8Out(const Utf8Out&) = delete;
    Utf8Out& operator=(const Utf8Out&) = delete;

    /// Fixed ASCII markup.
    template <std::size_t N>
    void markup(const char (&s)[N]) {
        if (pendingHigh_) settlePending(0);
        if (kCapacity - length_ < N) drain();
        std::memcpy(buffer_ + length_, s, N - 1);
        length_ += N - 1;
    }

    /// A name from the DOM between two pieces of markup (such as "</", name, ">"). Xerces pools
    /// the names of a document, so their UTF-8 forms are kept by address and copied.
    template <std::size_t B, std::size_t A>
    void name(const char (&before)[B], const XMLCh* s, const char (&after)[A]) {
        NameCacheEntry& cached = names_[(reinterpret_cast<std::uintptr_t>(s) >> 4) % kNameCacheSize];
        if (cached.name != s && !cache(cached, s)) {
            markup(before);
            put<RAW>(s);
            markup(after);
            return;
        }
        if (pendingHigh_) settlePending(0);
        if (kCapacity - length_ < B + sizeof cached.bytes + A) drain();
        unsigned char* o = buffer_ + length_;
        std::memcpy(o, before, B - 1);
        o += B - 1;
        std::memcpy(o, cached.bytes, sizeof cached.bytes);
        o += cached.length;
        std::memcpy(o, after, A - 1);
        length_ = static_cast<std::size_t>(o + (A - 1) - buffer_);
    }

    template <Escaping E>
    void put(const XMLCh* s) {
        if (s) put<E>(s, internal::length(s));
    }

    /// n units of s.
    template <Escaping E>
    void put(const XMLCh* s, std::size_t n) {
        while (n) {
            std::size_t chunk = n < kChunk ? n : kChunk;
            // A chunk never ends between the halves of a pair.
            if (chunk < n && isHighSurrogate(s[chunk - 1])) --chunk;
            // Worst case six bytes a unit ("&quot;"), plus a pending pair.
            if (kCapacity - length_ < 6 * chunk + 8) drain();
            encode<E>(s, chunk);
            s += chunk;
            n -= chunk;
        }
    }

    /// Hands everything to the sink, a held-back high surrogate as three bytes.
    void flush() {
        if (pendingHigh_) settlePending(0);
        drain();
    }

private:
    static const std::size_t kCapacity = 64 * 1024;
    static const std::size_t kChunk = 4096;
    static const std::size_t kNameCacheSize = 512;

    struct NameCacheEntry {
        const XMLCh* name;
        std::size_t length;
        unsigned char bytes[48];
    };

    // Fills `entry` with the UTF-8 form of s; false when s does not fit or could pair with
    // what follows it (a trailing high surrogate).
    bool cache(NameCacheEntry& entry, const XMLCh* s) {
        std::size_t n = internal::length(s);
        if (n == 0 || n > 12 || isHighSurrogate(s[n - 1])) return false;
        unsigned char* o = entry.bytes;
        const XMLCh* p = s;
        const XMLCh* end = s + n;
        unsigned int saved = pendingHigh_;
        pendingHigh_ = 0;
        while (p < end) o = encodeUnit<RAW>(o, p, end);
        pendingHigh_ = saved;
        entry.name = s;
        entry.length = static_cast<std::size_t>(o - entry.bytes);
        return true;
    }

    void drain() {
        if (length_) {
            std::size_t n = length_;
            length_ = 0;
            sink_.write(buffer_, static_cast<unsigned int>(n));
        }
    }

    void settlePending(unsigned int next) {
        if (kCapacity - length_ < 8) drain();
        unsigned char* o = buffer_ + length_;
        o = isLowSurrogate(next) ? utf8::putPair(o, pendingHigh_, next) : utf8::put3(o, pendingHigh_);
        length_ = static_cast<std::size_t>(o - buffer_);
        pendingHigh_ = 0;
    }

    template <Escaping E>
    void encode(const XMLCh* s, std::size_t n) {
        const XMLCh* p = s;
        const XMLCh* end = s + n;
        if (pendingHigh_) {
            if (isLowSurrogate(*p)) {
                settlePending(*p++);
            } else {
                settlePending(0);
            }
        }
        unsigned char* o = buffer_ + length_;
        while (p < end) {
#if defined(__SSE2__)
            // Eight units at a time while they are ASCII and need no reference.
            bool copied = false;
            while (end - p >= 8) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                if (_mm_movemask_epi8(stops<E>(v))) break;
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(v, v));
                o += 8;
                p += 8;
                copied = true;
            }
            if (p == end) break;
            if (copied && end - p < 8) {
                // The last few units: the eight ending at `end` overlap units just copied one
                // byte each, so rewriting those bytes is harmless.
                std::size_t k = static_cast<std::size_t>(end - p);
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 8));
                if ((_mm_movemask_epi8(stops<E>(v)) >> (2 * (8 - k))) == 0) {
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(o - (8 - k)),
                                     _mm_packus_epi16(v, v));
                    o += k;
                    break;
                }
            }
#endif
            const XMLCh* stop = end - p > 8 ? p + 8 : end;
            while (p < stop) o = encodeUnit<E>(o, p, end);
        }
        length_ = static_cast<std::size_t>(o - buffer_);
    }

#if defined(__SSE2__)
    static_assert(escaping::kText.special ==
                      ((1ull << 0x0D) | (1ull << u'&') | (1ull << u'<') | (1ull << u'>')),
                  "the vector test below lists the units text escaping replaces");
    static_assert(escaping::kAttribute.special ==
                      ((1ull << 0x09) | (1ull << 0x0A) | (1ull << 0x0D) | (1ull << u'"') |
                       (1ull << u'&') | (1ull << u'<')),
                  "the vector test below lists the units attribute escaping replaces");

    // Lanes holding a unit above 0x7F or one that the escaping replaces.
    template <Escaping E>
    static __m128i stops(__m128i v) {
        __m128i ascii = _mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16(0x7F)), _mm_setzero_si128());
        __m128i stop = _mm_xor_si128(ascii, _mm_set1_epi16(-1));
        if (E != RAW) {
            stop = _mm_or_si128(stop, _mm_cmpeq_epi16(v, _mm_set1_epi16(u'&')));
            stop = _mm_or_si128(stop, _mm_cmpeq_epi16(v, _mm_set1_epi16(u'<')));
            stop = _mm_or_si128(stop, _mm_cmpeq_epi16(v, _mm_set1_epi16(0x0D)));
        }
        if (E == TEXT) stop = _mm_or_si128(stop, _mm_cmpeq_epi16(v, _mm_set1_epi16(u'>')));
        if (E == ATTRIBUTE) {
            stop = _mm_or_si128(stop, _mm_cmpeq_epi16(v, _mm_set1_epi16(u'"')));
            stop = _mm_or_si128(stop, _mm_cmpeq_epi16(v, _mm_set1_epi16(0x09)));
            stop = _mm_or_si128(stop, _mm_cmpeq_epi16(v, _mm_set1_epi16(0x0A)));
        }
        return stop;
    }
#endif

    // Encodes the unit at p (with its partner when it starts a pair) and advances p.
    template <Escaping E>
    unsigned char* encodeUnit(unsigned char* o, const XMLCh*& p, const XMLCh* end) {
        unsigned int u = *p++;
        if (u < 0x80) {
            if (special<E>(u)) {
                for (const XMLCh* r = table(E).entries[u]; *r; ++r) *o++ = static_cast<unsigned char>(*r);
            } else {
                *o++ = static_cast<unsigned char>(u);
            }
        } else if (u < 0x800) {
            o = utf8::put2(o, u);
        } else if (isHighSurrogate(u)) {
            if (p == end) {
                // The partner may start the next piece.
                pendingHigh_ = u;
            } else if (isLowSurrogate(*p)) {
                o = utf8::putPair(o, u, *p++);
            } else {
                o = utf8::put3(o, u);
            }
        } else {
            o = utf8::put3(o, u);
        }
        return o;
    }

    OctetSink& sink_;
    unsigned char* buffer_;
    std::size_t length_;
    unsigned int pendingHigh_;
    NameCacheEntry* names_;
};

/// UTF-16 gathered into a buffer that is handed to the character sink whenever it fills.
class Utf16Out {
public:
    explicit Utf16Out(CharacterSink& sink)
        : sink_(sink),
          buffer_(static_cast<XMLCh*>(internal::checkedAlloc(kCapacity * sizeof(XMLCh)))),
          length_(0) {}
    ~Utf16Out() { utfree(buffer_); }
    Utf16Out(const Utf16Out&) = delete;
    Utf16Out& operator=(const Utf16Out&) = delete;

    template <std::size_t N>
    void markup(const char (&s)[N]) {
        if (kCapacity - length_ < N) drain();
        for (std::size_t i = 0; i + 1 < N; ++i) buffer_[length_ + i] = static_cast<XMLCh>(s[i]);
        length_ += N - 1;
    }

    template <std::size_t B, std::size_t A>
    void name(const char (&before)[B], const XMLCh* s, const char (&after)[A]) {
        markup(before);
        put<RAW>(s);
        markup(after);
    }

    template <Escaping E>
    void put(const XMLCh* s) {
        if (s) put<E>(s, internal::length(s));
    }

    template <Escaping E>
    void put(const XMLCh* s, std::size_t n) {
        for (const XMLCh* end = s + n; s < end; ++s) {
            if (kCapacity - length_ < 8) drain();
            unsigned int u = *s;
            if (special<E>(u)) {
                for (const XMLCh* r = table(E).entries[u]; *r; ++r) buffer_[length_++] = *r;
            } else {
                buffer_[length_++] = static_cast<XMLCh>(u);
            }
        }
    }

    void flush() { drain(); }

private:
    static const std::size_t kCapacity = 16 * 1024;

    void drain() {
        if (length_) {
            std::size_t n = length_;
            length_ = 0;
            sink_.write(buffer_, static_cast<unsigned int>(n));
        }
    }

    CharacterSink& sink_;
    XMLCh* buffer_;
    std::size_t length_;
};

}  // namespace detail
}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite

#endif
