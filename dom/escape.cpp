#include <ambrite/xml/dom.h>

#include <climits>
#include <cstddef>

#include "dom/escaping.h"

namespace Ambrite {
namespace XML {

namespace {

using escaping::Table;
using escaping::kTableSize;

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

void escapeAttr(const XMLCh* value, CharacterSink& out) { escape(value, out, escaping::kAttribute); }

void escapeText(const XMLCh* value, CharacterSink& out) { escape(value, out, escaping::kText); }

}  // namespace XML
}  // namespace Ambrite
