// UTF-8 encoding of single UTF-16 units and surrogate pairs, shared by the library's writers.
#ifndef AMBRITE_XML_STREAMS_UTF8_H
#define AMBRITE_XML_STREAMS_UTF8_H

namespace Ambrite {
namespace XML {
namespace utf8 {

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

}  // namespace utf8
}  // namespace XML
}  // namespace Ambrite

#endif
