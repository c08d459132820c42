// The character references of canonical XML for text and attribute values, shared by the
// escaping functions and the canonicalizer's writer.
#ifndef AMBRITE_XML_DOM_ESCAPING_H
#define AMBRITE_XML_DOM_ESCAPING_H

#include <ambrite/xml/foundation.h>

#include <cstddef>
#include <cstdint>

namespace Ambrite {
namespace XML {
namespace escaping {

constexpr XMLCh kTab[] = {u'&', u'#', u'x', u'9', u';', 0};
constexpr XMLCh kLF[] = {u'&', u'#', u'x', u'A', u';', 0};
constexpr XMLCh kCR[] = {u'&', u'#', u'x', u'D', u';', 0};
constexpr XMLCh kQuot[] = {u'&', u'q', u'u', u'o', u't', u';', 0};
constexpr XMLCh kAmp[] = {u'&', u'a', u'm', u'p', u';', 0};
constexpr XMLCh kLt[] = {u'&', u'l', u't', u';', 0};
constexpr XMLCh kGt[] = {u'&', u'g', u't', u';', 0};

/// Replacements of the units below '@'; every unit from '@' on is written unchanged.
constexpr std::size_t kTableSize = 0x40;

struct Table {
    const XMLCh* entries[kTableSize];
    /// A bit for every unit that has an entry.
    std::uint64_t special;
};

constexpr std::uint64_t specialBits(const Table& t) {
    std::uint64_t bits = 0;
    for (std::size_t u = 0; u < kTableSize; ++u) {
        if (t.entries[u]) bits |= std::uint64_t(1) << u;
    }
    return bits;
}

constexpr Table attributeTable() {
    Table t = {};
    t.entries[0x09] = kTab;
    t.entries[0x0A] = kLF;
    t.entries[0x0D] = kCR;
    t.entries[u'"'] = kQuot;
    t.entries[u'&'] = kAmp;
    t.entries[u'<'] = kLt;
    t.special = specialBits(t);
    return t;
}

constexpr Table textTable() {
    Table t = {};
    t.entries[0x0D] = kCR;
    t.entries[u'&'] = kAmp;
    t.entries[u'<'] = kLt;
    t.entries[u'>'] = kGt;
    t.special = specialBits(t);
    return t;
}

/// No references at all: names, comments and processing-instruction data.
constexpr Table rawTable() { return Table{}; }

constexpr Table kAttribute = attributeTable();
constexpr Table kText = textTable();
constexpr Table kRaw = rawTable();

}  // namespace escaping
}  // namespace XML
}  // namespace Ambrite

#endif
