// Helpers shared by the library's own sources; not part of the public interface.
#ifndef AMBRITE_XML_FOUNDATION_INTERNAL_H
#define AMBRITE_XML_FOUNDATION_INTERNAL_H

#include <ambrite/xml/foundation.h>

#include <cstddef>

namespace Ambrite {
namespace XML {
namespace internal {

/// utalloc that throws Exception 18 "Out of memory" instead of giving null, and refuses sizes
/// the allocator interface cannot express.
void* checkedAlloc(std::size_t bytes);

/// A checked utalloc copy of the first n units of s, terminated.
XMLCh* dupString(const XMLCh* s, std::size_t n);

/// Puts the default allocator back and forgets that anything was allocated.
void resetAllocator();

/// Length of a null-terminated string as size_t (no 32-bit truncation).
inline std::size_t length(const XMLCh* s) {
    const XMLCh* p = s;
    while (*p) ++p;
    return static_cast<std::size_t>(p - s);
}

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite

#endif
