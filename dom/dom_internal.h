// Helpers shared by the DOM sources; not part of the public interface.
#ifndef AMBRITE_XML_DOM_INTERNAL_H
#define AMBRITE_XML_DOM_INTERNAL_H

#include <ambrite/xml/dom.h>

namespace Ambrite {
namespace XML {
namespace internal {

/// The library's Exception for a Xerces-C DOMException: id 1000 + code, DOMUtil::format text.
Exception convert(const xercesc::DOMException& e);

/// Most entity expansions one parse may perform before it fails.
constexpr unsigned int kEntityExpansionLimit = 10000;

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite

#endif
