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
/// Most UTF-16 units one parse may produce beyond its input: entity replacement text, DTD
/// default attribute values and attribute values longer than the bytes read.
constexpr unsigned long long kExpansionTextLimit = 10000000;
/// Deepest nesting of elements and entity references one parse accepts.
constexpr unsigned int kDepthLimit = 120000;
/// The scanner looks a namespace prefix up through every open element, so an element and each
/// of its prefixed attributes (xml: and xmlns: aside) cost its depth; one parse may spend a
/// fixed allowance (a 120,000-deep chain needs 7.2e9) plus a multiple of the bytes read.
constexpr unsigned long long kNestingCostBase = 8ull << 30;
constexpr unsigned long long kNestingCostPerByte = 256;
/// Memory one parse may hold: a fixed allowance plus a multiple of the bytes read.
constexpr unsigned long long kParseMemoryBase = 128ull << 20;
constexpr unsigned long long kParseMemoryPerByte = 256;
/// Memory one parse may request in all, as a multiple of what it may hold: every entity
/// expansion takes a reader with some 160 KB of buffers, also those the scanner does not count.
constexpr unsigned long long kParseMemoryTurnover = 32;

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite

#endif
