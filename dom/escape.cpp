#include <ambrite/xml/dom.h>

#include <climits>
#include <cstddef>

namespace Ambrite {
namespace XML {

namespace {

constexpr XMLCh kTab[] = {u'&', u'#', u'x', u'9', u';', 0};
constexpr XMLCh kLF[] = {u'&', u'#', u'x', u'A', u';', 0};
constexpr XMLCh kCR[] = {u'&', u'#', u'x', u'D', u';', 0};
constexpr XMLCh kQuot[] = {u'&', u'q', u'u', u'o', u't', u';', 0};
constexpr XMLCh kAmp[] = {u'&', u'a', u'm', u'p', u';', 0};
constexpr XMLCh kLt[] = {u'&', u'l', u't', u';', 0};
constexpr XMLCh kGt[] = {u'&', u'g', u't', u';', 0};

// Replacements of the units below '@'; every unit from '@' on is written unchanged.
constexpr std::size_t kTableSize = 0x40;

struct Table {
    const XMLCh* entries[kTableSize];
};

constexpr Table attributeTable() {
    Table t = {};
    t.entries[0x09] = kTab;
    t.entries[0x0A] = kLF;
    t.entries[0x0D] = kCR;
    t.entries[u'"'] = kQuot;
    t.entries[u'&'] = kAmp;
    t.entries[u'<'] = kLt;
    return t;
}

constexpr Table textTable() {
    Table t = {};
    t.entries[0x0D] = kCR;
    t.entries[u'&'] = kAmp;
    t.entries[u'<'] = kLt;
    t.entries[u'>'] = kGt;
    return t;
}

constexpr Table kAttr = attributeTable();
constexpr Table kText = textTable();

inline void writeRun(CharacterSink& out, const XMLCh* run, std::size_t n) {
    while (n > UINT_MAX) {
        out.write(run, UINT_MAX);
        run += UINT_MAX;
        n -= UINT_MAX;
    }
    out.write(run, static_cast<unsigned int>(n));
}

// Plain units are gathered into runs so that the sink sees one counted write per run; a run
// before a replacement is written even when empty, which sinks accept as a no-op.
void escape(const XMLCh* value, CharacterSink& out, const Table& table) {
    if (!value) return;
    const XMLCh* run = value;
    const XMLCh* p = value;
    for (;; ++p) {
        XMLCh u = *p;
        if (u >= kTableSize) continue;
        if (u == 0) break;
        if (const XMLCh* replacement = table.entries[u]) {
            writeRun(out, run, static_cast<std::size_t>(p - run));
            out.write(replacement);
            run = p + 1;
        }
    }
    if (p != run) writeRun(out, run, static_cast<std::size_t>(p - run));
}

}  // namespace

void escapeAttr(const XMLCh* value, CharacterSink& out) { escape(value, out, kAttr); }

void escapeText(const XMLCh* value, CharacterSink& out) { escape(value, out, kText); }

}  // namespace XML
}  // namespace Ambrite
