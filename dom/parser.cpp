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
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMConfiguration.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMError.hpp>
#include <xercesc/dom/DOMErrorHandler.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationLS.hpp>
#include <xercesc/dom/DOMLSInput.hpp>
#include <xercesc/dom/DOMLSParser.hpp>
#include <xercesc/dom/DOMLSResourceResolver.hpp>
#include <xercesc/dom/DOMLocator.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/impl/DOMAttrImpl.hpp>
#include <xercesc/dom/impl/DOMAttrMapImpl.hpp>
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/dom/impl/DOMDocumentTypeImpl.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>
#include <xercesc/dom/impl/DOMStringPool.hpp>
#include <xercesc/dom/impl/DOMTypeInfoImpl.hpp>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLEntityDecl.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/framework/XMLNotationDecl.hpp>
#include <xercesc/framework/XMLRecognizer.hpp>
#include <xercesc/internal/ElemStack.hpp>
#include <xercesc/internal/ReaderMgr.hpp>
#include <xercesc/internal/XMLReader.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/DOMLSParserImpl.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/BinMemInputStream.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/QName.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/util/XMLUniDefs.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>
#include <xercesc/validators/DTD/DTDEntityDecl.hpp>

#include "dom/internal.h"
#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

using xercesc::XMLUni;

namespace {

// Every diagnostic, warnings included, stops the parse: Xerces-C swallows whatever a handler
// throws, so the handler asks it to stop instead.
class FailureErrorHandler : public xercesc::DOMErrorHandler {
public:
    bool handleError(const xercesc::DOMError&) override { return false; }
};

// Also keeps the first diagnostic, which DOMUtil::parse throws once the parser has returned.
class RecordingErrorHandler : public FailureErrorHandler {
public:
    bool handleError(const xercesc::DOMError& error) override;
    /// Throws the recorded failure, if any.
    void check() const {
        if (failure_) throw Exception(*failure_);
    }

private:
    std::unique_ptr<Exception> failure_;
};

// No external entity is ever read: every request for one fails.
class NullEntityResolver : public xercesc::DOMLSResourceResolver {
public:
    xercesc::DOMLSInput* resolveResource(const XMLCh* resourceType, const XMLCh* namespaceUri,
                                         const XMLCh* publicId, const XMLCh* systemId,
                                         const XMLCh* baseURI) override;
};

// Locations are 64-bit and unknown ones are all bits set; messages carry them as int.
int locationValue(XMLUInt64 value) {
    return value > static_cast<XMLUInt64>(INT_MAX) ? -1 : static_cast<int>(value);
}

bool RecordingErrorHandler::handleError(const xercesc::DOMError& error) {
    if (failure_) return false;
    const char* severity;
    switch (error.getSeverity()) {
        case xercesc::DOMError::DOM_SEVERITY_WARNING:
            severity = "DOM warning";
            break;
        case xercesc::DOMError::DOM_SEVERITY_ERROR:
            severity = "DOM error";
            break;
        case xercesc::DOMError::DOM_SEVERITY_FATAL_ERROR:
        default:
            severity = "Fatal DOM error";
            break;
    }
    int line = -1, column = -1, offset = -1;
    if (const xercesc::DOMLocator* location = error.getLocation()) {
        line = locationValue(location->getLineNumber());
        column = locationValue(location->getColumnNumber());
        offset = locationValue(location->getByteOffset());
    }
    failure_.reset(new Exception(9, Format("%s: Line %d, column %d, offset %d: %S", severity, line,
                                           column, offset, error.getMessage())));
    return false;
}

xercesc::DOMLSInput* NullEntityResolver::resolveResource(const XMLCh*, const XMLCh*,
                                                         const XMLCh* publicId,
                                                         const XMLCh* systemId, const XMLCh*) {
    if (!systemId && !publicId) throw Exception(13050, "Entity without public or system ID");
    throw Exception(13050, Format("Unable to resolve entity: %S", systemId ? systemId : publicId));
}

FailureErrorHandler failureErrorHandler;
NullEntityResolver nullEntityResolver;

// Only read during parses, so every parser shares it.
class EntityExpansionLimit : public xercesc::SecurityManager {
public:
    EntityExpansionLimit() { fEntityExpansionLimit = internal::kEntityExpansionLimit; }
};

EntityExpansionLimit entityExpansionLimit;

// The parser of every parse. Besides the configuration it bounds what a document can make the
// parse produce or hold, since the scanner itself only counts entity expansions:
// - text beyond the input: entity replacement text, DTD default attribute values and attribute
//   values longer than the bytes read (entity references inside them), kExpansionTextLimit
//   units in all;
// - nesting: Limits::maxDepth() elements and entity references, and the time the scanner's
//   namespace lookup takes, which for every element and prefixed attribute is in proportion to
//   the depth and the declarations in scope;
// - attributes: kAttributeLimit per element and namespace declarations in scope;
// - memory: everything the parse allocates (scanner buffers, DTD, the document), which also
//   covers what is built inside the scanner before any callback sees it (an attribute default
//   made of entity references, parameter entities replayed in the internal subset), never more
//   than Limits::maxMemory(); and what it requests in all, which bounds the expansions the
//   scanner does not count.
// Each ends the parse with Exception 9 in the shape of the parser's own fatal errors. It also
// refuses what the scanner lets through: UTF-7, input that ends inside a character, and DTD
// defaults that would declare what no document may write.
class BoundedParser : public xercesc::DOMLSParserImpl {
public:
    BoundedParser(xercesc::MemoryManager* memory, const DOMUtil::Limits& limits)
        : DOMLSParserImpl(nullptr, memory, nullptr), limits_(limits) {}

    xercesc::DOMDocument* parse(const xercesc::DOMLSInput* source) override;

    /// The parse running on this thread, if any.
    static BoundedParser* active();
    /// Input handed to the running parse: `count` bytes ending at `bytes`, 0 at its end.
    void delivered(const unsigned char* bytes, XMLSize_t count);
    /// Charges an allocation of the running parse, which has just made `previous` (a block of
    /// `previousSize` bytes, still live) unless that is null.
    void allocating(XMLSize_t bytes, void* previous, XMLSize_t previousSize);
    /// Credits a block that was charged to this parse and is given back during it.
    void released(XMLSize_t bytes) { allocated_ -= bytes < allocated_ ? bytes : allocated_; }
    /// Tells the parses apart, so that blocks of an earlier parse are not credited to a later.
    unsigned long long serial() const { return serial_; }

    void startDocument() override;
    void XMLDecl(const XMLCh* version, const XMLCh* encoding, const XMLCh* standalone,
                 const XMLCh* actualEncoding) override;
    void endDocument() override;
    void startEntityReference(const xercesc::XMLEntityDecl& entity) override;
    void endEntityReference(const xercesc::XMLEntityDecl& entity) override;
    void startElement(const xercesc::XMLElementDecl& element, unsigned int urlId,
                      const XMLCh* prefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                      XMLSize_t count, bool isEmpty, bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& element, unsigned int urlId, bool isRoot,
                    const XMLCh* prefix) override;
    void docPI(const XMLCh* target, const XMLCh* data) override;
    void entityDecl(const xercesc::DTDEntityDecl& entity, bool isPE, bool isIgnored) override;
    void notationDecl(const xercesc::XMLNotationDecl& notation, bool isIgnored) override;
    void startIntSubset() override;
    void endIntSubset() override;
    void endAttList(const xercesc::DTDElementDecl& element) override;
    void doctypeDecl(const xercesc::DTDElementDecl& root, const XMLCh* publicId,
                     const XMLCh* systemId, bool hasIntSubset, bool hasExtSubset) override;

private:
    void enter();
    void checkEncoding(const XMLCh* name, const XMLCh* written);
    void checkDeclaration(const xercesc::XMLAttr& declaration);
    void rebinding(const XMLCh* prefix, const XMLCh* value);
    void checkDefaultedNames(const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                             XMLSize_t count);
    void checkRebound(const XMLCh* prefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                      XMLSize_t count);
    void addAttributes(const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t count);
    const xercesc::XMLElementDecl& withoutDefaults(const xercesc::XMLElementDecl& element);
    void addDefaults(const xercesc::XMLElementDecl& element);
    unsigned long long memoryAllowance() const;
    [[noreturn]] void failMemory();
    void checkMemory();
    void expanded(unsigned long long units);
    void pooled(std::size_t names);
    void growNamePool();
    [[noreturn]] void fail(const std::string& message);
    [[noreturn]] void fail(const std::u16string& message);

    const DOMUtil::Limits limits_;
    unsigned long long serial_ = 0;
    unsigned long long bytesRead_ = 0;
    unsigned long long allocated_ = 0;   // live bytes of this parse
    unsigned long long requested_ = 0;   // all bytes it asked for
    unsigned long long expansion_ = 0;   // units produced by expansion and defaults
    unsigned long long attributes_ = 0;  // units of attribute values given outside entities
    unsigned long long nestingCost_ = 0;
    unsigned long long declarations_ = 0;      // namespace declarations written in scope
    unsigned long long attributeObjects_ = 0;  // attributes the scanner has made room for
    std::size_t namesPooled_ = 0;  // names the DOM may have pooled since its table was sized
    unsigned int entityDeclarations_ = 0;  // entity and notation declarations
    unsigned long long defaultNodes_ = 0;  // attributes made from DTD defaults
    unsigned int depth_ = 0;
    unsigned int entityDepth_ = 0;
    bool accounting_ = false;
    bool overLimit_ = false;  // found over the memory limit where failing was not safe
    // How the input ends: its last bytes (tail_[0] the very last), how many there are, and
    // whether the end was seen.
    unsigned char tail_[4] = {};
    unsigned int tailLength_ = 0;
    bool ended_ = false;
    // The encoding of the document entity, upper case, and whether it writes markup as ASCII.
    std::u16string encoding_;
    bool asciiMarkup_ = false;
    std::unique_ptr<Exception> failure_;
    // Per open element: the namespace declarations it writes, and how many of the prefixes in
    // `declared_` were declared before it.
    struct Open {
        unsigned int written;
        std::size_t declaredBefore;
    };
    std::vector<Open> open_;
    // The namespaces bound in the open elements, by prefix ("" for the default namespace),
    // innermost last, by written and defaulted declarations alike; and the prefixes in the order
    // they were declared, to undo the bindings when their element ends.
    std::unordered_map<std::u16string, std::vector<std::u16string>> bindings_;
    std::vector<std::u16string> declared_;
    // Prefixes ("" for the default namespace) that a namespace declaration defaulted from the
    // DTD binds anew, with the depth of the element it belongs to; and how many times each is.
    std::vector<std::pair<std::u16string, unsigned int>> rebound_;
    std::unordered_map<std::u16string, unsigned int> reboundCount_;
    std::vector<XMLSize_t> order_;                 // attributes in the order they go into the DOM
    std::vector<xercesc::DOMAttrImpl*> defaults_;  // an element's DTD defaults, likewise
    // For each element declaration with attribute definitions, one without them.
    std::unordered_map<const xercesc::XMLElementDecl*, std::unique_ptr<xercesc::DTDElementDecl>>
        bare_;
    bool internalSubset_ = false;  // reading the internal subset
};

// The DOM pools the names of a document (qualified and local names, prefixes, namespaces) in a
// hash table of 257 chains that Xerces-C never enlarges, so that n distinct names took n^2/514
// comparisons to pool (a minute for 200,000 element names). The parser enlarges the table of
// the document it builds; the table is protected, and reached through this derived class.
struct NamePool : xercesc::DOMDocumentImpl {
    static constexpr auto kTable = &NamePool::fNameTable;
    static constexpr auto kSize = &NamePool::fNameTableSize;
};

thread_local BoundedParser* activeParser = nullptr;
// Numbers the parses of all threads; a document may be released on another thread.
std::atomic<unsigned long long> parseSerial(0);

BoundedParser* BoundedParser::active() { return activeParser; }

// Allocations below this size never fail the parse: they may come from the middle of a Xerces-C
// constructor, which would leave the object half built and its members leaked. The large ones
// (buffers, hash tables, document heap blocks, readers) are not made inside constructors.
constexpr XMLSize_t kCheckedAllocation = 16384;

// Xerces-C objects made with a memory manager come with a header holding it.
std::size_t objectHeader() {
    return xercesc::XMLPlatformUtils::alignPointerForNewBlockAllocation(sizeof(void*));
}

bool isObjectOf(XMLSize_t bytes, std::size_t size) { return bytes == objectHeader() + size; }

// The scanner keeps the attributes of a start tag in a list of XMLAttr objects that it reuses
// and extends as needed; each new one makes its QName as its very next allocation. So the pairs
// seen count the attributes of the largest start tag so far, before the element is reported.
// Once they are twice the bound, the tag being scanned is over the bound whatever comes next:
// the next attribute fails where the scanner asks for its XMLAttr, before any constructor runs.
void BoundedParser::allocating(XMLSize_t bytes, void* previous, XMLSize_t previousSize) {
    if (!accounting_) return;
    allocated_ += bytes;
    requested_ += bytes;
    if (isObjectOf(bytes, sizeof(xercesc::XMLAttr))) {
        if (attributeObjects_ >= 2ull * internal::kAttributeLimit) {
            fail("Attribute limit exceeded");
        }
    } else if (previous && isObjectOf(bytes, sizeof(xercesc::QName)) &&
               isObjectOf(previousSize, sizeof(xercesc::XMLAttr))) {
        ++attributeObjects_;
    }
    if (bytes < kCheckedAllocation) return;
    const unsigned long long allowance = memoryAllowance();
    if (allocated_ <= allowance && requested_ / internal::kParseMemoryTurnover <= allowance) return;
    // Every entity expansion makes an input stream over the replacement text and, as the very
    // next allocation, a reader that adopts it. A reader found over the limit fails; the stream
    // made just before it would be lost with it, so it is destroyed here first. Any other reader
    // over the limit (not following a stream) fails the parse at the next callback instead.
    if (isObjectOf(bytes, sizeof(xercesc::XMLReader))) {
        if (!previous || !isObjectOf(previousSize, sizeof(xercesc::BinMemInputStream))) {
            overLimit_ = true;
            return;
        }
        // The stream refers to the entity's text without owning it; deleting it gives its block
        // back through this manager.
        delete reinterpret_cast<xercesc::BinMemInputStream*>(static_cast<char*>(previous) +
                                                             objectHeader());
    }
    failMemory();
}

unsigned long long BoundedParser::memoryAllowance() const {
    const unsigned long long relative =
        internal::kParseMemoryBase + internal::kParseMemoryPerByte * bytesRead_;
    return relative < limits_.maxMemory() ? relative : limits_.maxMemory();
}

// The absolute bound is named with its size, so that the caller can tell it from the bound
// relative to the input, which no setting raises.
void BoundedParser::failMemory() {
    if (memoryAllowance() < limits_.maxMemory()) fail("Parse memory limit exceeded");
    fail("Parse memory limit exceeded: more than " + std::to_string(limits_.maxMemory()) +
         " bytes");
}

void BoundedParser::checkMemory() {
    if (overLimit_) failMemory();
}

void BoundedParser::expanded(unsigned long long units) {
    expansion_ += units;
    unsigned long long beyondInput = attributes_ > bytesRead_ ? attributes_ - bytesRead_ : 0;
    if (expansion_ + beyondInput > internal::kExpansionTextLimit) {
        fail("Entity expansion limit exceeded");
    }
}

// Names go into the pool with each element, attribute and entity reference made; once they may
// have filled it, the chains are counted, and the table is rebuilt with four chains per name
// when they hold more names than half its chains. Each rebuild costs as much as the names added
// since the last, so the pool stays linear.
void BoundedParser::pooled(std::size_t names) {
    namesPooled_ += names;
    if (fDocument && namesPooled_ > fDocument->*NamePool::kSize) growNamePool();
}

void BoundedParser::growNamePool() {
    namesPooled_ = 0;
    xercesc::DOMStringPoolEntry** table = fDocument->*NamePool::kTable;
    const XMLSize_t size = fDocument->*NamePool::kSize;
    XMLSize_t names = 0;
    for (XMLSize_t i = 0; i < size; ++i) {
        for (const xercesc::DOMStringPoolEntry* e = table[i]; e; e = e->fNext) ++names;
    }
    if (names <= size / 2) return;
    const XMLSize_t grown = 4 * names + 1;
    xercesc::DOMStringPoolEntry** fresh = static_cast<xercesc::DOMStringPoolEntry**>(
        fDocument->allocate(grown * sizeof(xercesc::DOMStringPoolEntry*)));
    std::fill(fresh, fresh + grown, nullptr);
    for (XMLSize_t i = 0; i < size; ++i) {
        for (xercesc::DOMStringPoolEntry* e = table[i]; e;) {
            xercesc::DOMStringPoolEntry* next = e->fNext;
            xercesc::DOMStringPoolEntry*& chain =
                fresh[xercesc::XMLString::hash(e->fString, grown)];
            e->fNext = chain;
            chain = e;
            e = next;
        }
    }
    fDocument->*NamePool::kTable = fresh;
    fDocument->*NamePool::kSize = grown;
}

void BoundedParser::enter() {
    if (++depth_ > limits_.maxDepth()) fail("Nesting depth limit exceeded");
}

void BoundedParser::delivered(const unsigned char* bytes, XMLSize_t count) {
    if (!count) {
        ended_ = true;
        return;
    }
    bytesRead_ += count;
    for (XMLSize_t i = count > 4 ? count - 4 : 0; i < count; ++i) {
        for (unsigned int k = 3; k > 0; --k) tail_[k] = tail_[k - 1];
        tail_[0] = bytes[i];
    }
    tailLength_ = tailLength_ + count > 4 ? 4 : static_cast<unsigned int>(tailLength_ + count);
}

// Records the failure and throws it; Xerces-C passes foreign exceptions through, and should it
// swallow one, parse() throws the record. Nothing fails twice, so unwinding never throws.
void BoundedParser::fail(const std::string& message) {
    fail(std::u16string(message.begin(), message.end()));
}

void BoundedParser::fail(const std::u16string& message) {
    if (!failure_) {
        int line = -1, column = -1;
        if (const xercesc::Locator* where = getScanner()->getLocator()) {
            line = locationValue(where->getLineNumber());
            column = locationValue(where->getColumnNumber());
        }
        accounting_ = false;
        failure_.reset(new Exception(9, Format("Fatal DOM error: Line %d, column %d, offset %d: %S",
                                               line, column, -1, message.c_str())));
    }
    throw Exception(*failure_);
}

xercesc::DOMDocument* BoundedParser::parse(const xercesc::DOMLSInput* source) {
    serial_ = ++parseSerial;  // never 0, which marks blocks allocated outside a parse
    bytesRead_ = allocated_ = requested_ = expansion_ = attributes_ = nestingCost_ = 0;
    declarations_ = attributeObjects_ = 0;
    namesPooled_ = 0;
    entityDeclarations_ = 0;
    defaultNodes_ = 0;
    depth_ = entityDepth_ = tailLength_ = 0;
    overLimit_ = ended_ = asciiMarkup_ = false;
    encoding_.clear();
    failure_.reset();
    open_.clear();
    bare_.clear();
    internalSubset_ = false;
    bindings_.clear();
    declared_.clear();
    rebound_.clear();
    reboundCount_.clear();
    struct Activation {
        BoundedParser* outer;
        bool& accounting;
        explicit Activation(BoundedParser* p) : outer(activeParser), accounting(p->accounting_) {
            activeParser = p;
            accounting = true;
        }
        ~Activation() {
            activeParser = outer;
            accounting = false;
        }
    } activation(this);
    std::unique_ptr<DOMDocument, DocumentRelease> document(DOMLSParserImpl::parse(source));
    if (failure_) throw Exception(*failure_);
    return document.release();
}

// Decodes `bytes` (ASCII text) with the transcoder of an encoding; empty when there is none.
std::u16string decodeProbe(const XMLCh* encoding, const char* bytes,
                           xercesc::MemoryManager* memory) {
    xercesc::XMLTransService::Codes result;
    std::unique_ptr<xercesc::XMLTranscoder> transcoder(
        xercesc::XMLPlatformUtils::fgTransService->makeNewTranscoderFor(encoding, result, 64,
                                                                        memory));
    if (!transcoder) return std::u16string();
    XMLCh units[32];
    unsigned char sizes[32];
    XMLSize_t eaten = 0;
    const XMLSize_t n = transcoder->transcodeFrom(reinterpret_cast<const XMLByte*>(bytes),
                                                  std::strlen(bytes), units, 32, eaten, sizes);
    return std::u16string(units, n);
}

// In UTF-7 (and its variant for mail folder names) plain ASCII such as "+ADw-" decodes to
// markup, which every other reader of the bytes sees as text: such a document says one thing
// to filters and logs and another to this parser. An encoding is refused by what it does, not
// by its name, since the transcoding service matches names loosely. The encodings the scanner
// knows itself are none of these, and need no probe.
void BoundedParser::checkEncoding(const XMLCh* name, const XMLCh* written) {
    if (!name) return;
    encoding_ = name;
    for (char16_t& c : encoding_) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    asciiMarkup_ = false;
    if (xercesc::XMLRecognizer::encodingForName(encoding_.c_str()) !=
        xercesc::XMLRecognizer::OtherEncoding) {
        return;
    }
    xercesc::MemoryManager* memory = getMemoryManager();
    if (decodeProbe(name, "+ADw-&ADw-", memory).find(u'<') != std::u16string::npos) {
        fail(u"encoding '" + std::u16string(written ? written : name) +
             u"' refused: plain text in it decodes to markup");
    }
    asciiMarkup_ = decodeProbe(name, "> \t\r\n", memory) == u"> \t\r\n";
}

void BoundedParser::startDocument() {
    DOMLSParserImpl::startDocument();
    // The encoding sensed from the first bytes, or the one the input names.
    checkEncoding(getScanner()->getReaderMgr()->getCurrentEncodingStr(), nullptr);
}

void BoundedParser::XMLDecl(const XMLCh* version, const XMLCh* encoding, const XMLCh* standalone,
                            const XMLCh* actualEncoding) {
    checkEncoding(actualEncoding, encoding && *encoding ? encoding : nullptr);
    DOMLSParserImpl::XMLDecl(version, encoding, standalone, actualEncoding);
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

// The transcoders keep bytes that do not make a whole character until more input comes; at the
// end of the input they are dropped without a word. So the input must end where a character
// does: by the length of a UTF-8 sequence, by whole units of UTF-16 and UCS-4, and for other
// encodings that write markup as ASCII by the last byte, since an XML 1.0 document ends with
// ">" or white space. (XML 1.1 adds NEL and LINE SEPARATOR, which such encodings may write
// with other bytes.)
void BoundedParser::endDocument() {
    if (ended_ && bytesRead_) {
        bool inside = false;
        switch (xercesc::XMLRecognizer::encodingForName(encoding_.c_str())) {
            case xercesc::XMLRecognizer::UTF_8:
                inside = endsInsideUtf8(tail_, tailLength_);
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
                const XMLCh* version = fDocument ? fDocument->getXmlVersion() : nullptr;
                const unsigned char last = tail_[0];
                inside = asciiMarkup_ &&
                         (!version || xercesc::XMLString::equals(version, u"1.0")) && last != '>' &&
                         last != ' ' && last != '\t' && last != '\r' && last != '\n';
                break;
            }
            default:
                break;
        }
        if (inside) {
            fail(u"incomplete character at the end of the input (" + encoding_ + u")");
        }
    }
    DOMLSParserImpl::endDocument();
}

void BoundedParser::startEntityReference(const xercesc::XMLEntityDecl& entity) {
    checkMemory();
    // Everything an expansion produces stems from its replacement text, nested expansions
    // being charged on their own.
    expanded(entity.getValueLen());
    ++entityDepth_;
    enter();
    DOMLSParserImpl::startEntityReference(entity);
    pooled(1);
}

void BoundedParser::endEntityReference(const xercesc::XMLEntityDecl& entity) {
    DOMLSParserImpl::endEntityReference(entity);
    if (entityDepth_) --entityDepth_;
    if (depth_) --depth_;
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

void BoundedParser::docPI(const XMLCh* target, const XMLCh* data) {
    if (data && hasUnpairedSurrogate(data)) fail("unpaired surrogate character");
    DOMLSParserImpl::docPI(target, data);
}

const xercesc::DOMTypeInfoImpl* typeInfo(xercesc::XMLAttDef::AttTypes type) {
    using xercesc::DOMTypeInfoImpl;
    using xercesc::XMLAttDef;
    switch (type) {
        case XMLAttDef::CData:
            return &DOMTypeInfoImpl::g_DtdValidatedCDATAAttribute;
        case XMLAttDef::ID:
            return &DOMTypeInfoImpl::g_DtdValidatedIDAttribute;
        case XMLAttDef::IDRef:
            return &DOMTypeInfoImpl::g_DtdValidatedIDREFAttribute;
        case XMLAttDef::IDRefs:
            return &DOMTypeInfoImpl::g_DtdValidatedIDREFSAttribute;
        case XMLAttDef::Entity:
            return &DOMTypeInfoImpl::g_DtdValidatedENTITYAttribute;
        case XMLAttDef::Entities:
            return &DOMTypeInfoImpl::g_DtdValidatedENTITIESAttribute;
        case XMLAttDef::NmToken:
            return &DOMTypeInfoImpl::g_DtdValidatedNMTOKENAttribute;
        case XMLAttDef::NmTokens:
            return &DOMTypeInfoImpl::g_DtdValidatedNMTOKENSAttribute;
        case XMLAttDef::Notation:
            return &DOMTypeInfoImpl::g_DtdValidatedNOTATIONAttribute;
        case XMLAttDef::Enumeration:
            return &DOMTypeInfoImpl::g_DtdValidatedENUMERATIONAttribute;
        default:
            return &DOMTypeInfoImpl::g_DtdNotValidatedAttribute;
    }
}

void BoundedParser::startElement(const xercesc::XMLElementDecl& element, unsigned int urlId,
                                 const XMLCh* prefix,
                                 const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                 XMLSize_t count, bool isEmpty, bool isRoot) {
    checkMemory();
    // End tags follow empty elements too.
    enter();
    if (count > internal::kAttributeLimit) fail("Attribute limit exceeded");
    unsigned long long defaulted = 0, lookups = 1;
    unsigned int declarations = 0, bound = 0, defaultedCount = 0;
    bool defaultedPrefixed = false;
    for (XMLSize_t i = 0; i < count; ++i) {
        const xercesc::XMLAttr* a = attributes.elementAt(i);
        // Prefixed attributes are looked up too.
        const XMLCh* p = a->getPrefix();
        if (declaredPrefix(p)) ++lookups;
        if (hasUnpairedSurrogate(a->getValue())) fail("unpaired surrogate character");
        unsigned long long units = internal::length(a->getValue());
        // A value written in the document cannot be longer than the bytes read so far unless
        // entity references made it so; inside an expansion all of it is expansion output.
        if (!a->getSpecified() || entityDepth_)
            defaulted += units;
        else
            attributes_ += units;
        if (!a->getSpecified()) ++defaultedCount;
        const bool declaration = isDeclaration(*a);
        if (declaration) {
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
    if (!rebound_.empty()) checkRebound(prefix, attributes, count);
    // The scanner walks the open elements and the declarations in scope for the element's name
    // and each prefixed attribute, and it has done so before this callback: an element that
    // declares many prefixes and uses them pays here, and fails the parse once over the bound.
    declarations_ += declarations;
    open_.push_back(Open{declarations, declared_.size()});
    if (bound) {
        // Bound after the loop: a defaulted declaration is compared with the parent's scope.
        for (XMLSize_t i = 0; i < count; ++i) {
            const xercesc::XMLAttr* a = attributes.elementAt(i);
            if (!isDeclaration(*a)) continue;
            const XMLCh* p = a->getPrefix();
            declared_.emplace_back(p && *p ? a->getName() : u"");
            bindings_[declared_.back()].emplace_back(a->getValue());
        }
    }
    const unsigned long long depth = limits_.maxDepth();
    if (declarations_ > std::max<unsigned long long>(internal::kDeclarationLimit, depth)) {
        fail("Namespace declaration limit exceeded");
    }
    nestingCost_ += (depth_ + declarations_) * lookups;
    // Fits 64 bits for any depth; the sum saturates.
    const unsigned long long chain = depth * (depth + 1);
    const unsigned long long rest =
        internal::kNestingCostBase + internal::kNestingCostPerByte * bytesRead_;
    if (nestingCost_ > (chain > ~0ull - rest ? ~0ull : chain + rest)) {
        fail("Nesting cost limit exceeded");
    }
    const bool defaults = element.hasAttDefs();
    if (defaults) {
        // Each DTD default becomes an attribute of the element, unless given, and an entry of
        // its map of defaults: a short element with many defaults would make the parse build
        // far more than it reads.
        unsigned long long made = defaultedCount;
        xercesc::XMLAttDefList& definitions = element.getAttDefList();
        for (XMLSize_t i = 0; i < definitions.getAttDefCount(); ++i) {
            const xercesc::XMLAttDef::DefAttTypes type = definitions.getAttDef(i).getDefaultType();
            if (type == xercesc::XMLAttDef::Default || type == xercesc::XMLAttDef::Fixed) ++made;
        }
        defaultNodes_ += made;
        if (defaultNodes_ > internal::kDefaultAttributeBase + bytesRead_ / 2) {
            fail("Attribute default limit exceeded");
        }
    }
    if (getFilter()) {
        DOMLSParserImpl::startElement(element, urlId, prefix, attributes, count, isEmpty, isRoot);
        return;
    }
    defaults_.clear();
    DOMLSParserImpl::startElement(defaults ? withoutDefaults(element) : element, urlId, prefix,
                                  attributes, 0, false, isRoot);
    addAttributes(attributes, count);
    if (defaults) addDefaults(element);
    // The element's names, its attributes' and its defaults'.
    pooled(4 * (1 + count + defaults_.size()));
    if (isEmpty) endElement(element, urlId, isRoot, prefix);
}

// Xerces-C would also copy the DTD's defaults of the element into its map of defaults, after a
// linear search of that map each (see addDefaults); the element is made from a declaration of
// the same name without them. Such a declaration is made once per declaration and parse.
const xercesc::XMLElementDecl& BoundedParser::withoutDefaults(
    const xercesc::XMLElementDecl& element) {
    std::unique_ptr<xercesc::DTDElementDecl>& bare = bare_[&element];
    if (!bare) {
        bare.reset(new (getMemoryManager())
                       xercesc::DTDElementDecl(element.getFullName(), element.getURI(),
                                               xercesc::DTDElementDecl::Any, getMemoryManager()));
    }
    return *bare;
}

// The element's DTD defaults, also those its attributes override, as Xerces-C keeps them for
// a removed attribute to come back: they go in as there, namespace bound as in the scope of the
// element, and in the order of the map, each at its end.
void BoundedParser::addDefaults(const xercesc::XMLElementDecl& element) {
    using xercesc::XMLAttDef;
    xercesc::XMLScanner* scanner = getScanner();
    xercesc::XMLAttDefList& definitions = element.getAttDefList();
    xercesc::XMLBuffer prefix(64, getMemoryManager());
    for (XMLSize_t i = 0; i < definitions.getAttDefCount(); ++i) {
        XMLAttDef& definition = definitions.getAttDef(i);
        const XMLAttDef::DefAttTypes type = definition.getDefaultType();
        if (type == XMLAttDef::Default || type == XMLAttDef::Fixed) {
            const XMLCh* name = definition.getFullName();
            int colon = -1;
            unsigned int uriId =
                scanner->resolveQName(name, prefix, xercesc::ElemStack::Mode_Attribute, colon);
            if (xercesc::XMLString::equals(name, XMLUni::fgXMLNSString)) {
                uriId = scanner->getXMLNSNamespaceId();
            }
            xercesc::DOMAttrImpl* attr =
                static_cast<xercesc::DOMAttrImpl*>(fDocument->createAttributeNS(
                    uriId != scanner->getEmptyNamespaceId() ? scanner->getURIText(uriId) : nullptr,
                    name));
            defaults_.push_back(attr);
            if (definition.getValue()) {
                attr->setValueFast(definition.getValue());
                attr->setSpecified(false);
            }
            if (getCreateSchemaInfo()) attr->setSchemaTypeInfo(typeInfo(definition.getType()));
        }
        definition.reset();
    }
    if (defaults_.empty()) return;
    std::sort(defaults_.begin(), defaults_.end(),
              [](const xercesc::DOMAttrImpl* a, const xercesc::DOMAttrImpl* b) {
                  return xercesc::XMLString::compareString(a->getNodeName(), b->getNodeName()) < 0;
              });
    xercesc::DOMElementImpl* e = static_cast<xercesc::DOMElementImpl*>(fCurrentNode);
    xercesc::DOMAttrMapImpl* map = e->getDefaultAttributes();
    map->reserve(defaults_.size());
    for (xercesc::DOMAttrImpl* attr : defaults_) map->setNamedItemFast(attr);
    static_cast<xercesc::DOMAttrMapImpl*>(e->getAttributes())->hasDefaults(true);
}

// Xerces-C adds every attribute to its element's map after a linear search of the map for its
// namespace and local name, n^2/2 steps for n attributes. The scanner has refused duplicate
// names already (and checkDefaultedNames the defaults that would make one), so the attributes
// go in here in the order of the map, by qualified name, each at its end. A parser with a
// filter keeps the scanner's way, so that the filter sees the element with its attributes.
void BoundedParser::addAttributes(const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                  XMLSize_t count) {
    if (!count) return;
    xercesc::DOMAttrMapImpl* map =
        static_cast<xercesc::DOMAttrMapImpl*>(fCurrentNode->getAttributes());
    map->reserve(count);
    order_.resize(count);
    for (XMLSize_t i = 0; i < count; ++i) order_[i] = i;
    std::sort(order_.begin(), order_.end(), [&attributes](XMLSize_t a, XMLSize_t b) {
        return xercesc::XMLString::compareString(attributes.elementAt(a)->getQName(),
                                                 attributes.elementAt(b)->getQName()) < 0;
    });
    xercesc::XMLScanner* scanner = getScanner();
    const unsigned int xmlnsId = scanner->getXMLNSNamespaceId();
    const unsigned int emptyId = scanner->getEmptyNamespaceId();
    for (XMLSize_t i : order_) {
        const xercesc::XMLAttr* a = attributes.elementAt(i);
        const XMLCh* p = a->getPrefix();
        unsigned int uriId = a->getURIId();
        if (!(p && *p) && xercesc::XMLString::equals(a->getName(), XMLUni::fgXMLNSString)) {
            uriId = xmlnsId;
        }
        xercesc::DOMAttrImpl* attr = static_cast<xercesc::DOMAttrImpl*>(
            createAttrNS(uriId != emptyId ? scanner->getURIText(uriId) : nullptr, p, a->getName(),
                         a->getQName()));
        map->setNamedItemFast(attr);
        attr->setValueFast(a->getValue());
        if (a->getType() == xercesc::XMLAttDef::ID) attr->addAttrToIDNodeMap();
        attr->setSpecified(a->getSpecified());
        if (getCreateSchemaInfo()) attr->setSchemaTypeInfo(typeInfo(a->getType()));
    }
}

// A namespace declaration defaulted from the DTD must obey what a written one does: xml bound
// to its own namespace only and that namespace to xml only, xmlns and its namespace never
// declared, and in XML 1.0 no prefix undeclared. Failing as for a written one gives the same
// message.
void BoundedParser::checkDeclaration(const xercesc::XMLAttr& declaration) {
    using xercesc::XMLErrs;
    using xercesc::XMLString;
    const XMLCh* p = declaration.getPrefix();
    const XMLCh* declared = p && *p ? declaration.getName() : nullptr;
    const XMLCh* value = declaration.getValue();
    xercesc::XMLScanner* scanner = getScanner();
    if (declared) {
        if (XMLString::equals(declared, XMLUni::fgXMLNSString)) {
            scanner->emitError(XMLErrs::NoUseOfxmlnsAsPrefix);
        } else if (XMLString::equals(declared, XMLUni::fgXMLString) &&
                   !XMLString::equals(value, XMLUni::fgXMLURIName)) {
            scanner->emitError(XMLErrs::PrefixXMLNotMatchXMLURI);
        }
        const XMLCh* version = fDocument ? fDocument->getXmlVersion() : nullptr;
        if (!*value && (!version || XMLString::equals(version, u"1.0"))) {
            scanner->emitError(XMLErrs::NoEmptyStrNamespace, declared);
        }
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
void BoundedParser::rebinding(const XMLCh* prefix, const XMLCh* value) {
    const std::u16string declared(prefix);
    const std::u16string* inForce = nullptr;
    auto b = bindings_.find(declared);
    if (b != bindings_.end() && !b->second.empty()) inForce = &b->second.back();
    const XMLCh* current = inForce                           ? inForce->c_str()
                           : declared == XMLUni::fgXMLString ? XMLUni::fgXMLURIName
                                                             : u"";
    if (!xercesc::XMLString::equals(current, value)) {
        rebound_.emplace_back(declared, depth_);
        ++reboundCount_[declared];
    }
}

// A DTD default applies when no attribute of its qualified name is given, but another prefix
// can give the same namespace and local name: the DOM would keep one of the two (the default),
// and the document breaks the rule that an element's attributes have distinct names.
void BoundedParser::checkDefaultedNames(const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                        XMLSize_t count) {
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

void BoundedParser::checkRebound(const XMLCh* prefix,
                                 const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                 XMLSize_t count) {
    auto check = [this](const XMLCh* used) {
        if (reboundCount_.count(std::u16string(used ? used : u""))) {
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

void BoundedParser::endElement(const xercesc::XMLElementDecl& element, unsigned int urlId,
                               bool isRoot, const XMLCh* prefix) {
    DOMLSParserImpl::endElement(element, urlId, isRoot, prefix);
    if (depth_) --depth_;
    if (!open_.empty()) {
        declarations_ -= open_.back().written;
        while (declared_.size() > open_.back().declaredBefore) {
            bindings_[declared_.back()].pop_back();
            declared_.pop_back();
        }
        open_.pop_back();
    }
    while (!rebound_.empty() && rebound_.back().second > depth_) {
        auto c = reboundCount_.find(rebound_.back().first);
        if (--c->second == 0) reboundCount_.erase(c);
        rebound_.pop_back();
    }
}

// The external subset is never read, and Xerces-C drops a reference to an entity that only it
// could declare without a word, losing the entity's text. For undeclared entities the document
// is taken as one without an external subset: the reference fails the parse, as other parsers
// make it fail.
void BoundedParser::doctypeDecl(const xercesc::DTDElementDecl& root, const XMLCh* publicId,
                                const XMLCh* systemId, bool hasIntSubset, bool hasExtSubset) {
    DOMLSParserImpl::doctypeDecl(root, publicId, systemId, hasIntSubset, hasExtSubset);
    if (hasExtSubset) getScanner()->setHasNoDTD(true);
}

// The document type keeps its entities and notations in hash tables of 193 chains that never
// grow, and the DOM pools their names: declarations beyond the bound would cost their number
// squared.
void BoundedParser::entityDecl(const xercesc::DTDEntityDecl& entity, bool isPE, bool isIgnored) {
    if (++entityDeclarations_ > internal::kEntityDeclarationLimit) {
        fail("Entity declaration limit exceeded");
    }
    DOMLSParserImpl::entityDecl(entity, isPE, isIgnored);
    pooled(1);
}

void BoundedParser::notationDecl(const xercesc::XMLNotationDecl& notation, bool isIgnored) {
    if (++entityDeclarations_ > internal::kEntityDeclarationLimit) {
        fail("Entity declaration limit exceeded");
    }
    DOMLSParserImpl::notationDecl(notation, isIgnored);
    pooled(1);
}

void BoundedParser::startIntSubset() {
    DOMLSParserImpl::startIntSubset();
    internalSubset_ = true;
}

void BoundedParser::endIntSubset() {
    DOMLSParserImpl::endIntSubset();
    internalSubset_ = false;
}

// Xerces-C also records the DTD's attribute defaults on the document type (rebuilding the
// record of an element, with a linear search per attribute, at every attribute-list declaration
// for it) and copies them onto every element of that name it makes, binding every prefix but
// xmlns to the XML namespace. The scanner already gives each element its defaulted attributes,
// correctly bound, and addDefaults keeps them as Xerces-C does, so no record is made: only the
// text of the internal subset is kept.
void BoundedParser::endAttList(const xercesc::DTDElementDecl&) {
    if (internalSubset_) fInternalSubset.append(xercesc::chCloseAngle);
}

// Xerces-C allocates for a parser and its documents through this; while a bounded parse runs on
// the thread, its allocations are charged to it and the blocks it gives back credited. Each
// block carries its size and the parse it was charged to. Documents keep this manager after the
// parse, when it merely passes requests on.
class ParseMemory : public xercesc::MemoryManager {
public:
    xercesc::MemoryManager* getExceptionMemoryManager() override {
        return xercesc::XMLPlatformUtils::fgMemoryManager;
    }
    void* allocate(XMLSize_t size) override {
        BoundedParser* parser = BoundedParser::active();
        if (parser) parser->allocating(size, lastBlock, lastSize);
        Header* h = static_cast<Header*>(
            xercesc::XMLPlatformUtils::fgMemoryManager->allocate(sizeof(Header) + size));
        h->size = size;
        h->serial = parser ? parser->serial() : 0;
        ++blocks;
        lastBlock = parser ? h + 1 : nullptr;
        lastSize = size;
        return h + 1;
    }
    void deallocate(void* p) override {
        if (!p) return;
        Header* h = static_cast<Header*>(p) - 1;
        BoundedParser* parser = BoundedParser::active();
        if (parser && h->serial && h->serial == parser->serial()) parser->released(h->size);
        if (p == lastBlock) lastBlock = nullptr;
        --blocks;
        xercesc::XMLPlatformUtils::fgMemoryManager->deallocate(h);
    }

    /// Blocks given out and not yet returned, by every thread.
    std::atomic<std::size_t> blocks{0};

private:
    // Two words, so that blocks keep the alignment of the underlying manager.
    struct Header {
        unsigned long long size;
        unsigned long long serial;
    };
    // The block this thread's parse allocated last, while it is still live.
    static thread_local void* lastBlock;
    static thread_local XMLSize_t lastSize;
};

thread_local void* ParseMemory::lastBlock = nullptr;
thread_local XMLSize_t ParseMemory::lastSize = 0;

ParseMemory parseMemory;

}  // namespace

namespace internal {

void delivered(const unsigned char* bytes, std::size_t count) {
    if (BoundedParser* parser = BoundedParser::active()) parser->delivered(bytes, count);
}

std::size_t parseMemoryBlocks() { return parseMemory.blocks; }

}  // namespace internal

xercesc::DOMLSParser* DOMUtil::wellFormedParser() { return wellFormedParser(Limits()); }

xercesc::DOMLSParser* DOMUtil::wellFormedParser(const Limits& limits) {
    using xercesc::DOMConfiguration;
    try {
        internal::domImplementation();
        std::unique_ptr<xercesc::DOMLSParser, ParserRelease> parser(
            new BoundedParser(&parseMemory, limits));
        DOMConfiguration* config = parser->getDomConfig();
        config->setParameter(XMLUni::fgDOMErrorHandler,
                             static_cast<xercesc::DOMErrorHandler*>(&failureErrorHandler));
        config->setParameter(XMLUni::fgDOMNamespaces, true);
        config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
        config->setParameter(XMLUni::fgXercesUserAdoptsDOMDocument, true);
        config->setParameter(XMLUni::fgXercesScannerName, XMLUni::fgDGXMLScanner);
        config->setParameter(XMLUni::fgDOMValidate, false);
        config->setParameter(XMLUni::fgDOMValidateIfSchema, false);
        config->setParameter(XMLUni::fgXercesSchema, false);
        config->setParameter(XMLUni::fgXercesCacheGrammarFromParse, false);
        config->setParameter(XMLUni::fgXercesUseCachedGrammarInParse, false);
        // A parser without a resolver of its own must not fetch entities by itself either.
        config->setParameter(XMLUni::fgXercesDisableDefaultEntityResolution, true);
        // Counted entity expansion stops "billion laughs" documents early.
        config->setParameter(XMLUni::fgXercesSecurityManager,
                             static_cast<xercesc::SecurityManager*>(&entityExpansionLimit));
        // Canonical output depends on these: entity references, CDATA sections, comments and
        // namespace declarations stay in the tree as written.
        config->setParameter(XMLUni::fgDOMEntities, true);
        config->setParameter(XMLUni::fgDOMCDATASections, true);
        config->setParameter(XMLUni::fgDOMComments, true);
        config->setParameter(XMLUni::fgDOMNamespaceDeclarations, true);
        return parser.release();
    } catch (const xercesc::DOMException& e) {
        throw internal::convert(e);
    } catch (const xercesc::OutOfMemoryException&) {
        internal::outOfMemory();
    }
}

DOMDocument* DOMUtil::parse(OctetSource* source) { return parse(source, Limits()); }

DOMDocument* DOMUtil::parse(OctetSource* source, const Limits& limits) {
    RecordingErrorHandler errors;
    std::unique_ptr<xercesc::DOMLSParser, ParserRelease> parser(wellFormedParser(limits));
    try {
        xercesc::DOMConfiguration* config = parser->getDomConfig();
        config->setParameter(XMLUni::fgDOMErrorHandler,
                             static_cast<xercesc::DOMErrorHandler*>(&errors));
        config->setParameter(XMLUni::fgDOMResourceResolver,
                             static_cast<xercesc::DOMLSResourceResolver*>(&nullEntityResolver));
        struct Release {
            void operator()(xercesc::DOMLSInput* input) const { input->release(); }
        };
        std::unique_ptr<xercesc::DOMLSInput, Release> input(
            DOMUtil::inputSourceAdapter(source, false, nullptr));
        // A stopped parse still hands over what it built so far.
        std::unique_ptr<DOMDocument, DocumentRelease> document(parser->parse(input.get()));
        errors.check();
        return document.release();
    } catch (const xercesc::DOMException& e) {
        throw internal::convert(e);
    } catch (const xercesc::OutOfMemoryException&) {
        internal::outOfMemory();
    }
}

}  // namespace XML
}  // namespace Ambrite
