#include <ambrite/xml/dom.h>

#include "dom/internal.h"

namespace Ambrite {
namespace XML {

void escapeAttr(const XMLCh* value, CharacterSink& out) {
    internal::escapeTo<internal::kAttributeEscapes>(value, out);
}

void escapeText(const XMLCh* value, CharacterSink& out) {
    internal::escapeTo<internal::kTextEscapes>(value, out);
}

}  // namespace XML
}  // namespace Ambrite
