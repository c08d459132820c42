// The bounds and refusals of every parse, DOM or streaming: what a document may make the parse
// produce, hold or cost, and what the scanner lets through that no document may say.
#include <ambrite/xml/dom.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/framework/XMLAttDefList.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/framework/XMLEntityDecl.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/framework/XMLRecognizer.hpp>
#include <xercesc/internal/ElemStack.hpp>
#include <xercesc/internal/ReaderMgr.hpp>
#include <xercesc/internal/XMLReader.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/BinMemInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/QName.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "dom/internal.h"
#include "foundation/internal.h"

namespace Ambrite {
namespace XML {
namespace internal {

using xercesc::XMLUni;

namespace {

thread_local ParseBounds* activeParser = nullptr;
// Numbers the parses of all threads; a document may be released on another thread.
std::atomic<unsigned long long> parseSerial(0);

// Allocations below this size never fail the parse: they may come from the middle of a Xerces-C
// constructor, which would leave the object half built and its members leaked. The large ones
// (buffers, hash tables, document heap blocks, readers) are not made inside constructors.
constexpr XMLSize_t kCheckedAllocation = 16384;
// Elements nested at most this deep leave the scanner's prefix lookups alone (keepBindings).
constexpr unsigned int kShortWalk = 32;

// The scanner's stack of open elements, which holds the namespace bindings it resolves names with.
struct ElementStackOf : xercesc::XMLScanner {
    static xercesc::ElemStack& get(xercesc::XMLScanner* scanner) {
        xercesc::ElemStack xercesc::XMLScanner::*stack = &ElementStackOf::fElemStack;
        return scanner->*stack;
    }
};

// Xerces-C objects made with a memory manager come with a header holding it.
std::size_t objectHeader() {
    return xercesc::XMLPlatformUtils::alignPointerForNewBlockAllocation(sizeof(void*));
}

bool isObjectOf(XMLSize_t bytes, std::size_t size) { return bytes == objectHeader() + size; }

// Locations are 64-bit and unknown ones are all bits set; messages carry them as int.
int locationValue(XMLUInt64 value) {
    return value > static_cast<XMLUInt64>(INT_MAX) ? -1 : static_cast<int>(value);
}

// An attribute prefix bound by a declaration in scope: any but the two bound by name (xml and
// xmlns), which the scanner needs not look up and no declaration can rebind.
bool declaredPrefix(const XMLCh* p) {
    return p && *p && !xercesc::XMLString::equals(p, XMLUni::fgXMLString) &&
           !xercesc::XMLString::equals(p, XMLUni::fgXMLNSString);
}

// Whether an attribute is a namespace declaration: xmlns or xmlns:p.
bool isDeclaration(const xercesc::XMLAttr& a) {
    const XMLCh* p = a.getPrefix();
    return p && *p ? xercesc::XMLString::equals(p, XMLUni::fgXMLNSString)
                   : xercesc::XMLString::equals(a.getName(), XMLUni::fgXMLNSString);
}

// Xerces-C lets a high surrogate through when it ends an attribute value (written, from an entity
// or defaulted) and in processing-instruction data; an unpaired surrogate is no XML character,
// and written out it would not be UTF-8.
bool hasUnpairedSurrogate(const XMLCh* s) {
    for (; *s; ++s) {
        if ((*s & 0xFC00) == 0xD800 && (s[1] & 0xFC00) == 0xDC00) {
            ++s;
        } else if ((*s & 0xF800) == 0xD800) {
            return true;
        }
    }
    return false;
}

// Decodes `bytes` (ASCII text) with the transcoder of an encoding; empty when there is none.
std::u16string decodeProbe(const XMLCh* encoding, const char* bytes) {
    xercesc::XMLTransService::Codes result;
    std::unique_ptr<xercesc::XMLTranscoder> transcoder(
        xercesc::XMLPlatformUtils::fgTransService->makeNewTranscoderFor(encoding, result, 64,
                                                                        parseMemoryManager()));
    if (!transcoder) return std::u16string();
    XMLCh units[32];
    unsigned char sizes[32];
    XMLSize_t eaten = 0;
    const XMLSize_t n = transcoder->transcodeFrom(reinterpret_cast<const XMLByte*>(bytes),
                                                  std::strlen(bytes), units, 32, eaten, sizes);
    return std::u16string(units, n);
}

// Whether input ending in `tail` (tail[0] the last byte) stops inside a UTF-8 sequence: the last
// lead byte announces more bytes than follow it.
bool endsInsideUtf8(const unsigned char* tail, unsigned int length) {
    for (unsigned int i = 0; i < length && i < 4; ++i) {
        const unsigned char b = tail[i];
        if ((b & 0xC0) == 0x80) continue;  // a continuation byte
        const unsigned int needed = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : 5;
        return i + 1 < needed;
    }
    return length > 0;  // only continuation bytes
}

}  // namespace

// What one parse counts and keeps besides the input and the memory.
struct ParseBounds::State {
    unsigned long long requested = 0;   // all bytes the parse asked for
    unsigned long long expansion = 0;   // units produced by expansion and defaults
    unsigned long long attributes = 0;  // units of attribute values given outside entities
    unsigned long long nestingCost = 0;
    unsigned long long declarations = 0;      // namespace declarations written in scope
    unsigned long long attributeObjects = 0;  // attributes the scanner has made room for
    unsigned int entityDeclarations = 0;      // entity and notation declarations
    unsigned long long defaultNodes = 0;      // attributes made from DTD defaults
    unsigned int depth = 0;
    unsigned int entityDepth = 0;
    bool overLimit = false;  // found over the memory limit where failing was not safe
    bool xml11 = false;      // the document declares version 1.1
    // How the input ends: its last bytes (tail[0] the very last), how many there are, and
    // whether the end was seen.
    unsigned char tail[4] = {};
    unsigned int tailLength = 0;
    bool ended = false;
    // The encoding of the document entity, upper case, and whether it writes markup as ASCII.
    std::u16string encoding;
    bool asciiMarkup = false;
    std::unique_ptr<Exception> failure;
    // Per open element: the namespace declarations it writes, and how many of the prefixes in
    // `declared` were declared before it.
    struct Open {
        unsigned int written;
        std::size_t declaredBefore;
    };
    std::vector<Open> open;
    // The namespaces bound in the open elements, by prefix ("" for the default namespace),
    // innermost last, by written and defaulted declarations alike; and the prefixes in the order
    // they were declared, to undo the bindings when their element ends.
    std::unordered_map<std::u16string, std::vector<std::u16string>> bindings;
    std::vector<std::u16string> declared;
    // Prefixes ("" for the default namespace) that a namespace declaration defaulted from the
    // DTD binds anew, with the depth of the element it belongs to; and how many times each is.
    std::vector<std::pair<std::u16string, unsigned int>> rebound;
    std::unordered_map<std::u16string, unsigned int> reboundCount;
    // Open elements below the first kShortWalk levels that have content: the depth of each and
    // the namespace of its name, innermost last.
    std::vector<std::pair<unsigned int, unsigned int>> deepElements;
};

ParseBounds::ParseBounds(const DOMUtil::Limits& limits, bool holdsDocument)
    : limits_(limits), holdsDocument_(holdsDocument) {}

ParseBounds::~ParseBounds() = default;

ParseBounds* ParseBounds::active() { return activeParser; }

ParseBounds::Run::Run(ParseBounds& bounds) : bounds_(bounds), outer_(activeParser) {
    bounds.state_.reset(new State);
    bounds.serial_ = ++parseSerial;  // never 0, which marks blocks allocated outside a parse
    bounds.bytesRead_ = bounds.allocated_ = 0;
    activeParser = &bounds;
    bounds.accounting_ = true;
}

ParseBounds::Run::~Run() {
    activeParser = outer_;
    bounds_.accounting_ = false;
}

void ParseBounds::Run::check() const {
    if (bounds_.state_->failure) throw Exception(*bounds_.state_->failure);
}

// The scanner keeps the attributes of a start tag in a list of XMLAttr objects that it reuses
// and extends as needed; each new one makes its QName as its very next allocation. So the pairs
// seen count the attributes of the largest start tag so far, before the element is reported.
// Once they are twice the bound, the tag being scanned is over the bound whatever comes next:
// the next attribute fails where the scanner asks for its XMLAttr, before any constructor runs.
//
// Every entity expansion makes an input stream over the replacement text and, as the very next
// allocation, a reader that adopts it. A reader found over the limit fails; the stream made
// just before it would be lost with it, so it is destroyed here first. Any other reader over the
// limit (not following a stream) fails the parse at the next callback instead.
void ParseBounds::allocating(std::size_t bytes, void* previous, std::size_t previousSize) {
    if (!accounting_) return;
    State& s = *state_;
    allocated_ += bytes;
    s.requested += bytes;
    if (isObjectOf(bytes, sizeof(xercesc::XMLAttr))) {
        if (s.attributeObjects >= 2ull * kAttributeLimit) fail("Attribute limit exceeded");
    } else if (previous && isObjectOf(bytes, sizeof(xercesc::QName)) &&
               isObjectOf(previousSize, sizeof(xercesc::XMLAttr))) {
        ++s.attributeObjects;
    }
    if (bytes < kCheckedAllocation) return;
    const bool expansion = previous && isObjectOf(bytes, sizeof(xercesc::XMLReader)) &&
                           isObjectOf(previousSize, sizeof(xercesc::BinMemInputStream));
    xercesc::BinMemInputStream* text = expansion
                                           ? reinterpret_cast<xercesc::BinMemInputStream*>(
                                                 static_cast<char*>(previous) + objectHeader())
                                           : nullptr;
    if (text && !holdsDocument_) allocated_ += text->getSize();
    const unsigned long long allowance = memoryAllowance();
    if (allocated_ <= allowance && s.requested / kParseMemoryTurnover <= allowance) return;
    if (isObjectOf(bytes, sizeof(xercesc::XMLReader))) {
        if (!text) {
            s.overLimit = true;
            return;
        }
        // The stream refers to the entity's text without owning it; deleting it gives its block
        // back through this manager.
        delete text;
    }
    failMemory();
}

unsigned long long ParseBounds::memoryAllowance() const {
    const unsigned long long relative = kParseMemoryBase + kParseMemoryPerByte * bytesRead_;
    return relative < limits_.maxMemory() ? relative : limits_.maxMemory();
}

// The absolute bound is named with its size, so that the caller can tell it from the bound
// relative to the input, which no setting raises.
void ParseBounds::failMemory() {
    if (memoryAllowance() < limits_.maxMemory()) fail("Parse memory limit exceeded");
    fail("Parse memory limit exceeded: more than " + std::to_string(limits_.maxMemory()) +
         " bytes");
}

void ParseBounds::checkMemory() {
    if (state_->overLimit) failMemory();
}

void ParseBounds::expanded(unsigned long long units) {
    State& s = *state_;
    s.expansion += units;
    unsigned long long beyondInput = s.attributes > bytesRead_ ? s.attributes - bytesRead_ : 0;
    if (s.expansion + beyondInput > kExpansionTextLimit) fail("Entity expansion limit exceeded");
}

void ParseBounds::enter() {
    if (++state_->depth > limits_.maxDepth()) fail("Nesting depth limit exceeded");
}

void ParseBounds::delivered(const unsigned char* bytes, std::size_t count) {
    State& s = *state_;
    if (!count) {
        s.ended = true;
        return;
    }
    bytesRead_ += count;
    for (std::size_t i = count > 4 ? count - 4 : 0; i < count; ++i) {
        for (unsigned int k = 3; k > 0; --k) s.tail[k] = s.tail[k - 1];
        s.tail[0] = bytes[i];
    }
    s.tailLength = s.tailLength + count > 4 ? 4 : static_cast<unsigned int>(s.tailLength + count);
}

// Records the failure and throws it; Xerces-C passes foreign exceptions through, and should it
// swallow one, Run::check() throws the record. Nothing fails twice, so unwinding never throws.
void ParseBounds::fail(const std::string& message) {
    fail(std::u16string(message.begin(), message.end()));
}

void ParseBounds::fail(const std::u16string& message) {
    State& s = *state_;
    if (!s.failure) {
        int line = -1, column = -1;
        if (const xercesc::Locator* where = boundedScanner()->getLocator()) {
            line = locationValue(where->getLineNumber());
            column = locationValue(where->getColumnNumber());
        }
        accounting_ = false;
        s.failure.reset(
            new Exception(9, Format("Fatal DOM error: Line %d, column %d, offset %d: %S", line,
                                    column, -1, message.c_str())));
    }
    throw Exception(*s.failure);
}

// In UTF-7 (and its variant for mail folder names) plain ASCII such as "+ADw-" decodes to
// markup, which every other reader of the bytes sees as text: such a document says one thing
// to filters and logs and another to this parser. An encoding is refused by what it does, not
// by its name, since the transcoding service matches names loosely. The encodings the scanner
// knows itself are none of these, and need no probe.
void ParseBounds::checkEncoding(const XMLCh* name, const XMLCh* written) {
    if (!name) return;
    State& s = *state_;
    s.encoding = name;
    for (char16_t& c : s.encoding) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    s.asciiMarkup = false;
    if (xercesc::XMLRecognizer::encodingForName(s.encoding.c_str()) !=
        xercesc::XMLRecognizer::OtherEncoding) {
        return;
    }
    if (decodeProbe(name, "+ADw-&ADw-").find(u'<') != std::u16string::npos) {
        fail(u"encoding '" + std::u16string(written ? written : name) +
             u"' refused: plain text in it decodes to markup");
    }
    s.asciiMarkup = decodeProbe(name, "> \t\r\n") == u"> \t\r\n";
}

// The encoding sensed from the first bytes, or the one the input names.
void ParseBounds::startDocument() {
    checkEncoding(boundedScanner()->getReaderMgr()->getCurrentEncodingStr(), nullptr);
}

void ParseBounds::XMLDecl(const XMLCh* version, const XMLCh* encoding,
                          const XMLCh* actualEncoding) {
    state_->xml11 = version && xercesc::XMLString::equals(version, XMLUni::fgVersion1_1);
    checkEncoding(actualEncoding, encoding && *encoding ? encoding : nullptr);
}

// The transcoders keep bytes that do not make a whole character until more input comes; at the
// end of the input they are dropped without a word. So the input must end where a character
// does: by the length of a UTF-8 sequence, by whole units of UTF-16 and UCS-4, and for other
// encodings that write markup as ASCII by the last byte, since an XML 1.0 document ends with
// ">" or white space. (XML 1.1 adds NEL and LINE SEPARATOR, which such encodings may write
// with other bytes.)
void ParseBounds::endDocument() {
    const State& s = *state_;
    if (!s.ended || !bytesRead_) return;
    bool inside = false;
    switch (xercesc::XMLRecognizer::encodingForName(s.encoding.c_str())) {
        case xercesc::XMLRecognizer::UTF_8:
            inside = endsInsideUtf8(s.tail, s.tailLength);
            break;
        case xercesc::XMLRecognizer::UTF_16B:
        case xercesc::XMLRecognizer::UTF_16L:
            inside = bytesRead_ % 2 != 0;
            break;
        case xercesc::XMLRecognizer::UCS_4B:
        case xercesc::XMLRecognizer::UCS_4L:
            inside = bytesRead_ % 4 != 0;
            break;
        case xercesc::XMLRecognizer::OtherEncoding: {
            const unsigned char last = s.tail[0];
            inside = s.asciiMarkup && !s.xml11 && last != '>' && last != ' ' && last != '\t' &&
                     last != '\r' && last != '\n';
            break;
        }
        default:
            break;
    }
    if (inside) fail(u"incomplete character at the end of the input (" + s.encoding + u")");
}

void ParseBounds::startEntityReference(const xercesc::XMLEntityDecl& entity) {
    checkMemory();
    // Everything an expansion produces stems from its replacement text, nested expansions
    // being charged on their own.
    expanded(entity.getValueLen());
    ++state_->entityDepth;
    enter();
}

void ParseBounds::endEntityReference() {
    State& s = *state_;
    if (s.entityDepth) --s.entityDepth;
    if (s.depth) --s.depth;
}

void ParseBounds::docPI(const XMLCh* data) {
    if (data && hasUnpairedSurrogate(data)) fail("unpaired surrogate character");
}

void ParseBounds::startElement(const xercesc::XMLElementDecl& element, const XMLCh* prefix,
                               const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                               std::size_t count) {
    State& s = *state_;
    checkMemory();
    // End tags follow empty elements too.
    enter();
    if (count > kAttributeLimit) fail("Attribute limit exceeded");
    unsigned long long defaulted = 0, lookups = 1;
    unsigned int declarations = 0, bound = 0, defaultedCount = 0;
    bool defaultedPrefixed = false;
    for (XMLSize_t i = 0; i < count; ++i) {
        const xercesc::XMLAttr* a = attributes.elementAt(i);
        // Prefixed attributes are looked up too.
        const XMLCh* p = a->getPrefix();
        if (declaredPrefix(p)) ++lookups;
        if (hasUnpairedSurrogate(a->getValue())) fail("unpaired surrogate character");
        unsigned long long units = length(a->getValue());
        // A value written in the document cannot be longer than the bytes read so far unless
        // entity references made it so; inside an expansion all of it is expansion output.
        if (!a->getSpecified() || s.entityDepth)
            defaulted += units;
        else
            s.attributes += units;
        if (!a->getSpecified()) ++defaultedCount;
        if (isDeclaration(*a)) {
            const XMLCh* declared = p && *p ? a->getName() : u"";
            if (a->getSpecified()) {
                ++declarations;
            } else {
                checkDeclaration(*a);
                rebinding(declared, a->getValue());
            }
            ++bound;
        } else if (!a->getSpecified() && p && *p) {
            defaultedPrefixed = true;
        }
    }
    expanded(defaulted);
    if (defaultedPrefixed) checkDefaultedNames(attributes, count);
    if (!s.rebound.empty()) checkRebound(prefix, attributes, count);
    // The scanner walks the open elements and the declarations in scope for the element's name
    // and each prefixed attribute, and it has done so before this callback: an element that
    // declares many prefixes and uses them pays here, and fails the parse once over the bound.
    s.declarations += declarations;
    s.open.push_back(State::Open{declarations, s.declared.size()});
    if (bound) {
        // Bound after the loop: a defaulted declaration is compared with the parent's scope.
        for (XMLSize_t i = 0; i < count; ++i) {
            const xercesc::XMLAttr* a = attributes.elementAt(i);
            if (!isDeclaration(*a)) continue;
            const XMLCh* p = a->getPrefix();
            s.declared.emplace_back(p && *p ? a->getName() : u"");
            s.bindings[s.declared.back()].emplace_back(a->getValue());
        }
    }
    const unsigned long long depth = limits_.maxDepth();
    if (s.declarations > std::max<unsigned long long>(kDeclarationLimit, depth)) {
        fail("Namespace declaration limit exceeded");
    }
    s.nestingCost += (s.depth + s.declarations) * lookups;
    // Fits 64 bits for any depth; the sum saturates.
    const unsigned long long chain = depth * (depth + 1);
    const unsigned long long rest = kNestingCostBase + kNestingCostPerByte * bytesRead_;
    if (s.nestingCost > (chain > ~0ull - rest ? ~0ull : chain + rest)) {
        fail("Nesting cost limit exceeded");
    }
    if (element.hasAttDefs()) {
        // Each DTD default becomes an attribute of the element, unless given, and an entry of
        // its map of defaults in a DOM: a short element with many defaults would make the parse
        // build far more than it reads.
        unsigned long long made = defaultedCount;
        xercesc::XMLAttDefList& definitions = element.getAttDefList();
        for (XMLSize_t i = 0; i < definitions.getAttDefCount(); ++i) {
            const xercesc::XMLAttDef::DefAttTypes type = definitions.getAttDef(i).getDefaultType();
            if (type == xercesc::XMLAttDef::Default || type == xercesc::XMLAttDef::Fixed) ++made;
        }
        s.defaultNodes += made;
        if (s.defaultNodes > kDefaultAttributeBase + bytesRead_ / 2) {
            fail("Attribute default limit exceeded");
        }
    }
}

// A namespace declaration defaulted from the DTD must obey what a written one does: xml bound
// to its own namespace only and that namespace to xml only, xmlns and its namespace never
// declared, and in XML 1.0 no prefix undeclared. Failing as for a written one gives the same
// message.
void ParseBounds::checkDeclaration(const xercesc::XMLAttr& declaration) {
    using xercesc::XMLErrs;
    using xercesc::XMLString;
    const XMLCh* p = declaration.getPrefix();
    const XMLCh* declared = p && *p ? declaration.getName() : nullptr;
    const XMLCh* value = declaration.getValue();
    xercesc::XMLScanner* scanner = boundedScanner();
    if (declared) {
        if (XMLString::equals(declared, XMLUni::fgXMLNSString)) {
            scanner->emitError(XMLErrs::NoUseOfxmlnsAsPrefix);
        } else if (XMLString::equals(declared, XMLUni::fgXMLString) &&
                   !XMLString::equals(value, XMLUni::fgXMLURIName)) {
            scanner->emitError(XMLErrs::PrefixXMLNotMatchXMLURI);
        }
        if (!*value && !state_->xml11) scanner->emitError(XMLErrs::NoEmptyStrNamespace, declared);
    }
    if (XMLString::equals(value, XMLUni::fgXMLNSURIName)) {
        scanner->emitError(XMLErrs::NoUseOfxmlnsURI);
    } else if (XMLString::equals(value, XMLUni::fgXMLURIName) &&
               !XMLString::equals(declared, XMLUni::fgXMLString)) {
        scanner->emitError(XMLErrs::XMLURINotMatchXMLPrefix);
    }
}

// The DTD-only scanner resolves names with the namespace declarations written in the
// document, never with those a DTD default adds. Such a declaration is recorded when it binds
// its prefix to another namespace than the one in force for the element (the bindings of the
// open elements; the xml prefix is bound by name), and a name using that prefix in its scope
// fails the parse: the document would get a namespace other parsers do not give it.
void ParseBounds::rebinding(const XMLCh* prefix, const XMLCh* value) {
    State& s = *state_;
    const std::u16string declared(prefix);
    const std::u16string* inForce = nullptr;
    auto b = s.bindings.find(declared);
    if (b != s.bindings.end() && !b->second.empty()) inForce = &b->second.back();
    const XMLCh* current = inForce                           ? inForce->c_str()
                           : declared == XMLUni::fgXMLString ? XMLUni::fgXMLURIName
                                                             : u"";
    if (!xercesc::XMLString::equals(current, value)) {
        s.rebound.emplace_back(declared, s.depth);
        ++s.reboundCount[declared];
    }
}

// A DTD default applies when no attribute of its qualified name is given, but another prefix
// can give the same namespace and local name: the DOM would keep one of the two (the default),
// and the document breaks the rule that an element's attributes have distinct names.
void ParseBounds::checkDefaultedNames(const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                      std::size_t count) {
    // Expanded names, the namespace's id in front; two written attributes cannot share one,
    // the scanner has refused that.
    std::unordered_set<std::u16string> names;
    for (XMLSize_t i = 0; i < count; ++i) {
        const xercesc::XMLAttr* a = attributes.elementAt(i);
        const unsigned int id = a->getURIId();
        std::u16string name{static_cast<char16_t>(id >> 16), static_cast<char16_t>(id & 0xFFFF)};
        name += a->getName();
        if (!names.insert(std::move(name)).second) {
            fail("attribute defaulted from the DTD has the name of another attribute");
        }
    }
}

void ParseBounds::checkRebound(const XMLCh* prefix,
                               const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                               std::size_t count) {
    auto check = [this](const XMLCh* used) {
        if (state_->reboundCount.count(std::u16string(used ? used : u""))) {
            fail("namespace declaration defaulted from the DTD changes the namespace of a name");
        }
    };
    check(prefix);
    // Unprefixed attributes are in no namespace.
    for (XMLSize_t i = 0; i < count; ++i) {
        const XMLCh* p = attributes.elementAt(i)->getPrefix();
        if (declaredPrefix(p)) check(p);
    }
}

// The scanner looks a prefix up by walking the open elements from the innermost out to the one
// that declares it, so a prefix declared at the root of a deep document costs a walk of the
// whole depth at each use. The binding a name of the innermost element resolved to is the one in
// force there; copied into that element's row of the stack, it ends the walks of later uses below
// it there instead of at the declaration, with the same namespace; and when the element ends, the
// binding of its name goes into its parent's row, for the siblings that follow, unless the
// element declared that prefix itself. Walks out of the first kShortWalk levels are short enough
// to leave as they are.
void ParseBounds::keepBindings(unsigned int uri, const XMLCh* prefix,
                               const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                               std::size_t count) {
    State& s = *state_;
    if (s.depth < kShortWalk) return;
    if (!prefix) prefix = XMLUni::fgZeroLenString;
    keepBinding(prefix, uri);
    // The parent's scope has the element's binding unless the element declares its prefix.
    bool inherited = true;
    for (XMLSize_t i = 0; i < count; ++i) {
        const xercesc::XMLAttr* a = attributes.elementAt(i);
        const XMLCh* p = a->getPrefix();
        if (isDeclaration(*a)) {
            if (xercesc::XMLString::equals(p && *p ? a->getName() : XMLUni::fgZeroLenString,
                                           prefix)) {
                inherited = false;
            }
        } else if (a->getSpecified() && declaredPrefix(p)) {
            keepBinding(p, a->getURIId());
        }
    }
    s.deepElements.emplace_back(s.depth,
                                inherited ? uri : boundedScanner()->getUnknownNamespaceId());
}

// Into the row of the innermost element on the scanner's stack, unless it maps the prefix.
void ParseBounds::keepBinding(const XMLCh* prefix, unsigned int uri) {
    xercesc::XMLScanner* scanner = boundedScanner();
    if (!prefix) prefix = XMLUni::fgZeroLenString;
    if (uri == scanner->getUnknownNamespaceId() ||
        xercesc::XMLString::equals(prefix, XMLUni::fgXMLString) ||
        xercesc::XMLString::equals(prefix, XMLUni::fgXMLNSString)) {
        return;
    }
    xercesc::ElemStack& stack = ElementStackOf::get(scanner);
    const xercesc::ElemStack::StackElem* row = stack.topElement();
    const unsigned int id = stack.getPrefixId(prefix);
    for (XMLSize_t i = 0; i < row->fMapCount; ++i) {
        if (row->fMap[i].fPrefId == id) return;
    }
    stack.addPrefix(prefix, uri);
}

void ParseBounds::endElement(const XMLCh* prefix) {
    State& s = *state_;
    // An element with content ends after the scanner took it off its stack: the parent's row
    // is the innermost. (An empty one ends before, and kept no bindings.)
    if (!s.deepElements.empty() && s.deepElements.back().first == s.depth) {
        const unsigned int uri = s.deepElements.back().second;
        s.deepElements.pop_back();
        if (s.depth > kShortWalk) keepBinding(prefix, uri);
    }
    if (s.depth) --s.depth;
    if (!s.open.empty()) {
        s.declarations -= s.open.back().written;
        while (s.declared.size() > s.open.back().declaredBefore) {
            s.bindings[s.declared.back()].pop_back();
            s.declared.pop_back();
        }
        s.open.pop_back();
    }
    while (!s.rebound.empty() && s.rebound.back().second > s.depth) {
        auto c = s.reboundCount.find(s.rebound.back().first);
        if (--c->second == 0) s.reboundCount.erase(c);
        s.rebound.pop_back();
    }
}

// The external subset is never read, and Xerces-C drops a reference to an entity that only it
// could declare without a word, losing the entity's text. For undeclared entities the document
// is taken as one without an external subset: the reference fails the parse, as other parsers
// make it fail.
void ParseBounds::doctypeDecl(bool hasExtSubset) {
    if (hasExtSubset) boundedScanner()->setHasNoDTD(true);
}

// The document type keeps its entities and notations in hash tables of 193 chains that never
// grow, and a DOM pools their names: declarations beyond the bound would cost their number
// squared.
void ParseBounds::declaration() {
    if (++state_->entityDeclarations > kEntityDeclarationLimit) {
        fail("Entity declaration limit exceeded");
    }
}

void delivered(const unsigned char* bytes, std::size_t count) {
    if (ParseBounds* parser = ParseBounds::active()) parser->delivered(bytes, count);
}

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite
