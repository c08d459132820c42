#include <ambrite/xml/dom.h>

#include <climits>
#include <cstddef>

#include "dom/internal.h"
#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

inline void writeRun(CharacterSink& out, const XMLCh* run, std::size_t n) {
    while (n > UINT_MAX) {
        out.write(run, UINT_MAX);
        run += UINT_MAX;
        n -= UINT_MAX;
    }
    out.write(run, static_cast<unsigned int>(n));
}

// Plain units go to the sink in one counted write per run, replacements as terminated strings.
template <const internal::Escapes& E>
void escapeInto(const XMLCh* value, CharacterSink& out) {
    if (!value) return;
    internal::escape<E>(
        value, internal::length(value),
        [&out](const XMLCh* run, std::size_t n) { writeRun(out, run, n); },
        [&out](const XMLCh* replacement) { out.write(replacement); });
}

}  // namespace

void escapeAttr(const XMLCh* value, CharacterSink& out) {
    escapeInto<internal::kAttributeEscapes>(value, out);
}

void escapeText(const XMLCh* value, CharacterSink& out) {
    escapeInto<internal::kTextEscapes>(value, out);
}

}  // namespace XML
}  // namespace Ambrite
