// UTF-8 encoding shared by the library's writers: one encoder for UTF-16 text, with the
// character references of an escape table applied on the way.
#ifndef AMBRITE_XML_STREAMS_INTERNAL_H
#define AMBRITE_XML_STREAMS_INTERNAL_H

#include <ambrite/xml/foundation.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Ambrite {
namespace XML {
namespace internal {

inline bool isHighSurrogate(unsigned int u) { return (u & 0xFC00) == 0xD800; }
inline bool isLowSurrogate(unsigned int u) { return (u & 0xFC00) == 0xDC00; }

inline unsigned char* put2(unsigned char* out, unsigned int u) {
    out[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    return out + 2;
}

/// Any unit from 0x800, a lone surrogate included.
inline unsigned char* put3(unsigned char* out, unsigned int u) {
    out[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    return out + 3;
}

/// The character of a high and a low surrogate, as one four-byte sequence.
inline unsigned char* putPair(unsigned char* out, unsigned int high, unsigned int low) {
    unsigned int c = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
    out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return out + 4;
}

/// Replacement texts (ASCII units) for units below kEscapesSize; every other unit stays as it is,
/// unless the table refuses it or asks for the references of XML 1.1.
struct Escapes {
    const XMLCh* entries[0x40];
    std::uint64_t special;  // a bit for every unit that has an entry or is refused
    std::uint64_t refused;  // a bit for every unit that cannot be written at all
    /// Called with a refused unit; throws.
    void (*refuse)(unsigned int unit);
    /// DEL, the C1 controls (U+007F to U+009F) and LINE SEPARATOR (U+2028) become character
    /// references: XML 1.1 takes the controls other than NEL only as references, and reads NEL
    /// and LINE SEPARATOR written as such as line feeds.
    bool xml11;
};
constexpr std::size_t kEscapesSize = 0x40;
/// The longest replacement any table may hold ("&quot;"), and the longest reference written for
/// a unit beyond the table ("&#x2028;").
constexpr std::size_t kLongestEscape = 6;
constexpr std::size_t kLongestReference = 8;

constexpr std::uint64_t specialBits(const Escapes& e) {
    std::uint64_t bits = e.refused;
    for (std::size_t u = 0; u < kEscapesSize; ++u) {
        if (e.entries[u]) bits |= std::uint64_t(1) << u;
    }
    return bits;
}

/// The C0 controls other than tab, line feed and carriage return.
constexpr std::uint64_t kRestrictedControls =
    0xFFFFFFFFull & ~((1ull << 0x09) | (1ull << 0x0A) | (1ull << 0x0D) | 1ull);

/// No replacements: names, comments, processing-instruction data, serializer markup.
inline constexpr Escapes kNoEscapes = {};

/// Whether a table finds the C0 controls it refuses or replaces by range (with the exact test
/// after) rather than unit by unit.
constexpr bool findsByRange(const Escapes& e) { return e.xml11 || e.refused; }

template <const Escapes& E>
inline bool isSpecial(unsigned int u) {
    if (u < kEscapesSize) return (E.special >> u) & 1;
    return E.xml11 && ((u >= 0x7F && u < 0xA0) || u == 0x2028);
}

#if defined(__SSE2__)
template <const Escapes& E, std::size_t... U>
inline __m128i specialLanes(__m128i v, std::index_sequence<U...>) {
    __m128i lanes = _mm_setzero_si128();
    // The table is a constant, so only the comparisons for its entries remain; the controls of
    // a table that finds them by range are left to one comparison below.
    constexpr std::uint64_t bits = findsByRange(E) ? E.special & ~0xFFFFFFFFull : E.special;
    ((void)(((bits >> U) & 1)
                ? (lanes = _mm_or_si128(lanes,
                                        _mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<short>(U)))),
                   0)
                : 0),
     ...);
    if constexpr (findsByRange(E)) {
        // Units below 0x20, and with xml11 from 0x7F to 0x9F and 0x2028.
        const __m128i zero = _mm_setzero_si128();
        lanes = _mm_or_si128(lanes, _mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16(0x1F)), zero));
        if constexpr (E.xml11) {
            const __m128i c1 = _mm_sub_epi16(v, _mm_set1_epi16(0x7F));
            lanes = _mm_or_si128(lanes,
                                 _mm_cmpeq_epi16(_mm_subs_epu16(c1, _mm_set1_epi16(0x20)), zero));
            lanes = _mm_or_si128(lanes, _mm_cmpeq_epi16(v, _mm_set1_epi16(0x2028)));
        }
    }
    return lanes;
}

/// Lanes of eight units holding a unit the table replaces, or with `nonASCII` one above 0x7F.
template <const Escapes& E, bool nonASCII>
inline __m128i stopLanes(__m128i v) {
    __m128i stop = specialLanes<E>(v, std::make_index_sequence<kEscapesSize>());
    if (nonASCII) {
        __m128i ascii =
            _mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16(0x7F)), _mm_setzero_si128());
        stop = _mm_or_si128(stop, _mm_xor_si128(ascii, _mm_set1_epi16(-1)));
    }
    return stop;
}
#endif

/// The first unit in [p, end) that the table replaces or refuses, or end.
template <const Escapes& E>
inline const XMLCh* nextSpecial(const XMLCh* p, const XMLCh* end) {
    if (!E.special && !E.xml11) return end;
#if defined(__SSE2__)
    for (; end - p >= 8; p += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (int mask = _mm_movemask_epi8(stopLanes<E, false>(v))) {
            if constexpr (!findsByRange(E)) return p + __builtin_ctz(mask) / 2;
            // A range also holds units the table leaves alone (tab, line feed).
            while (mask) {
                const int lane = __builtin_ctz(mask) / 2;
                if (isSpecial<E>(p[lane])) return p + lane;
                mask &= ~(3 << (2 * lane));
            }
        }
    }
#endif
    while (p < end && !isSpecial<E>(*p)) ++p;
    return p;
}

/// Encodes UTF-16 pieces as UTF-8 into memory the caller provides, applying an escape table. A
/// surrogate pair becomes one four-byte sequence, also when its halves come in separate pieces:
/// a high surrogate ending a piece is held back until the next piece or finish(). An unpaired
/// surrogate is written as its own three-byte sequence.
class Utf8Encoder {
public:
    /// Starts with `held` (a high surrogate from an earlier piece, or 0) held back.
    explicit Utf8Encoder(unsigned int held = 0) : pendingHigh_(held) {}
    /// Most bytes encode() writes for n units, a held-back surrogate included.
    template <const Escapes& E>
    static constexpr std::size_t room(std::size_t n) {
        return (E.special ? kLongestEscape : 3) * n + 4;
    }

    /// Writes n units of s at o (with room<E>(n) bytes free) and gives the end of what it wrote.
    template <const Escapes& E>
    unsigned char* encode(unsigned char* o, const XMLCh* s, std::size_t n) {
        static_assert(!E.xml11, "references beyond ASCII are written as UTF-16 only");
        const XMLCh* p = s;
        const XMLCh* end = s + n;
        if (pendingHigh_ && p < end) {
            unsigned int high = pendingHigh_;
            pendingHigh_ = 0;
            o = isLowSurrogate(*p) ? putPair(o, high, *p++) : put3(o, high);
        }
#if defined(__SSE2__)
        // Eight units at a time: their bytes are stored as if all were ASCII, and the walk
        // moves past those that were, up to the first that needs more.
        bool copied = false;  // the eight units before p went out one byte each
        while (end - p >= 8) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(v, v));
            int mask = _mm_movemask_epi8(stopLanes<E, true>(v));
            if (!mask) {
                o += 8;
                p += 8;
                copied = true;
                continue;
            }
            std::size_t k = static_cast<std::size_t>(__builtin_ctz(mask)) / 2;
            o += k;
            p += k;
            // Characters beyond ASCII tend to come in runs (words of a script).
            do {
                o = encodeUnit<E>(o, p, end);
            } while (p < end && *p >= 0x80);
            copied = false;
        }
        if (copied && p < end) {
            // The last few units: the eight ending at `end` overlap units just copied one byte
            // each, so rewriting those bytes is harmless.
            std::size_t k = static_cast<std::size_t>(end - p);
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 8));
            if ((_mm_movemask_epi8(stopLanes<E, true>(v)) >> (2 * (8 - k))) == 0) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o - (8 - k)), _mm_packus_epi16(v, v));
                return o + k;
            }
        }
#endif
        while (p < end) o = encodeUnit<E>(o, p, end);
        return o;
    }

    /// Writes a held-back high surrogate on its own (at most three bytes).
    unsigned char* finish(unsigned char* o) {
        if (!pendingHigh_) return o;
        o = put3(o, pendingHigh_);
        pendingHigh_ = 0;
        return o;
    }
    /// The high surrogate held back, or 0.
    unsigned int held() const { return pendingHigh_; }

private:
    // Encodes the unit at p (with its partner when it starts a pair) and advances p.
    template <const Escapes& E>
    unsigned char* encodeUnit(unsigned char* o, const XMLCh*& p, const XMLCh* end) {
        unsigned int u = *p++;
        if (u < 0x80) {
            if (isSpecial<E>(u)) {
                if (E.refused && ((E.refused >> u) & 1)) E.refuse(u);
                for (const XMLCh* r = E.entries[u]; *r; ++r) *o++ = static_cast<unsigned char>(*r);
            } else {
                *o++ = static_cast<unsigned char>(u);
            }
        } else if (u < 0x800) {
            o = put2(o, u);
        } else if (isHighSurrogate(u)) {
            if (p == end) {
                // The partner may start the next piece.
                pendingHigh_ = u;
            } else if (isLowSurrogate(*p)) {
                o = putPair(o, u, *p++);
            } else {
                o = put3(o, u);
            }
        } else {
            o = put3(o, u);
        }
        return o;
    }

    unsigned int pendingHigh_;
};

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite

#endif
