#include <ambrite/xml/dom.h>

#include <atomic>
#include <memory>
#include <string>
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
#include <xercesc/dom/impl/DOMDocumentTypeImpl.hpp>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLEntityDecl.hpp>
#include <xercesc/internal/XMLReader.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/DOMLSParserImpl.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/BinMemInputStream.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>

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
    XMLUInt64 unknown = ~XMLUInt64(0), line = unknown, column = unknown, offset = unknown;
    if (const xercesc::DOMLocator* location = error.getLocation()) {
        line = location->getLineNumber();
        column = location->getColumnNumber();
        offset = location->getByteOffset();
    }
    failure_.reset(
        new Exception(internal::parseFailure(severity, line, column, offset, error.getMessage())));
    return false;
}

xercesc::DOMLSInput* NullEntityResolver::resolveResource(const XMLCh*, const XMLCh*,
                                                         const XMLCh* publicId,
                                                         const XMLCh* systemId, const XMLCh*) {
    internal::refuseEntity(publicId, systemId);
}

FailureErrorHandler failureErrorHandler;
NullEntityResolver nullEntityResolver;

// Only read during parses, so every parser shares it.
class EntityExpansionLimit : public xercesc::SecurityManager {
public:
    EntityExpansionLimit() { fEntityExpansionLimit = internal::kEntityExpansionLimit; }
};

EntityExpansionLimit expansionLimit;

// The DOM parser of every parse, with the bounds of every parse.
class BoundedParser : public xercesc::DOMLSParserImpl, public internal::ParseBounds {
public:
    explicit BoundedParser(xercesc::MemoryManager* memory)
        : DOMLSParserImpl(nullptr, memory, nullptr), ParseBounds(true) {}

    xercesc::DOMDocument* parse(const xercesc::DOMLSInput* source) override;

    void startEntityReference(const xercesc::XMLEntityDecl& entity) override;
    void endEntityReference(const xercesc::XMLEntityDecl& entity) override;
    void startElement(const xercesc::XMLElementDecl& element, unsigned int urlId,
                      const XMLCh* prefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                      XMLSize_t count, bool isEmpty, bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& element, unsigned int urlId, bool isRoot,
                    const XMLCh* prefix) override;
    void docPI(const XMLCh* target, const XMLCh* data) override;
    void endAttList(const xercesc::DTDElementDecl& element) override;
    void doctypeDecl(const xercesc::DTDElementDecl& root, const XMLCh* publicId,
                     const XMLCh* systemId, bool hasIntSubset, bool hasExtSubset) override;

private:
    xercesc::XMLScanner* boundedScanner() const override { return getScanner(); }
    const XMLCh* namespaceInForce(const XMLCh* prefix) const override;
};

xercesc::DOMDocument* BoundedParser::parse(const xercesc::DOMLSInput* source) {
    Run run(*this);
    std::unique_ptr<DOMDocument, DocumentRelease> document(DOMLSParserImpl::parse(source));
    run.check();
    return document.release();
}

void BoundedParser::startEntityReference(const xercesc::XMLEntityDecl& entity) {
    ParseBounds::startEntityReference(entity);
    DOMLSParserImpl::startEntityReference(entity);
}

void BoundedParser::endEntityReference(const xercesc::XMLEntityDecl& entity) {
    DOMLSParserImpl::endEntityReference(entity);
    ParseBounds::endEntityReference();
}

void BoundedParser::docPI(const XMLCh* target, const XMLCh* data) {
    ParseBounds::docPI(data);
    DOMLSParserImpl::docPI(target, data);
}

void BoundedParser::startElement(const xercesc::XMLElementDecl& element, unsigned int urlId,
                                 const XMLCh* prefix,
                                 const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                 XMLSize_t count, bool isEmpty, bool isRoot) {
    ParseBounds::startElement(prefix, attributes, count);
    DOMLSParserImpl::startElement(element, urlId, prefix, attributes, count, isEmpty, isRoot);
}

void BoundedParser::endElement(const xercesc::XMLElementDecl& element, unsigned int urlId,
                               bool isRoot, const XMLCh* prefix) {
    DOMLSParserImpl::endElement(element, urlId, isRoot, prefix);
    ParseBounds::endElement();
}

void BoundedParser::doctypeDecl(const xercesc::DTDElementDecl& root, const XMLCh* publicId,
                                const XMLCh* systemId, bool hasIntSubset, bool hasExtSubset) {
    DOMLSParserImpl::doctypeDecl(root, publicId, systemId, hasIntSubset, hasExtSubset);
    ParseBounds::doctypeDecl(hasExtSubset);
}

// Entity references may stand between the element and its parent element; outside the
// document element nothing is bound.
const XMLCh* BoundedParser::namespaceInForce(const XMLCh* prefix) const {
    const xercesc::DOMNode* parent = fCurrentParent;
    while (parent && parent->getNodeType() == xercesc::DOMNode::ENTITY_REFERENCE_NODE) {
        parent = parent->getParentNode();
    }
    return parent && parent->getNodeType() == xercesc::DOMNode::ELEMENT_NODE
               ? parent->lookupNamespaceURI(*prefix ? prefix : nullptr)
               : nullptr;
}

// Xerces-C also records the DTD's attribute defaults on the document type and copies them onto
// every element of that name it makes, binding every prefix but xmlns to the XML namespace.
// The scanner already gives each element its defaulted attributes, correctly bound, so the
// copies would only add wrong duplicates (z:d twice, once in the XML namespace).
void BoundedParser::endAttList(const xercesc::DTDElementDecl& element) {
    DOMLSParserImpl::endAttList(element);
    if (!fDocumentType) return;
    xercesc::DOMNamedNodeMap* records = fDocumentType->getElements();
    if (records->getNamedItem(element.getFullName())) {
        records->removeNamedItem(element.getFullName())->release();
    }
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
        internal::ParseBounds* parser = internal::ParseBounds::active();
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
        internal::ParseBounds* parser = internal::ParseBounds::active();
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

namespace {

thread_local ParseBounds* activeParser = nullptr;
// Numbers the parses of all threads; a document may be released on another thread.
std::atomic<unsigned long long> parseSerial(0);

// Allocations below this size never fail the parse: they may come from the middle of a Xerces-C
// constructor, which would leave the object half built and its members leaked. The large ones
// (buffers, hash tables, document heap blocks, readers) are not made inside constructors.
constexpr XMLSize_t kCheckedAllocation = 16384;

// Xerces-C objects made with a memory manager come with a header holding it.
std::size_t objectHeader() {
    return xercesc::XMLPlatformUtils::alignPointerForNewBlockAllocation(sizeof(void*));
}

bool isObjectOf(XMLSize_t bytes, std::size_t size) { return bytes == objectHeader() + size; }

// An attribute prefix bound by a declaration in scope: any but the two bound by name (xml and
// xmlns), which the scanner needs not look up and no declaration can rebind.
bool declaredPrefix(const XMLCh* p) {
    return p && *p && !xercesc::XMLString::equals(p, XMLUni::fgXMLString) &&
           !xercesc::XMLString::equals(p, XMLUni::fgXMLNSString);
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

}  // namespace

ParseBounds* ParseBounds::active() { return activeParser; }

ParseBounds::Run::Run(ParseBounds& bounds) : bounds_(bounds), outer_(activeParser) {
    bounds.serial_ = ++parseSerial;  // never 0, which marks blocks allocated outside a parse
    bounds.bytesRead_ = bounds.allocated_ = bounds.requested_ = bounds.expansion_ =
        bounds.attributes_ = bounds.nestingCost_ = 0;
    bounds.depth_ = bounds.entityDepth_ = 0;
    bounds.overLimit_ = false;
    bounds.failure_.reset();
    bounds.rebound_.clear();
    activeParser = &bounds;
    bounds.accounting_ = true;
}

ParseBounds::Run::~Run() {
    activeParser = outer_;
    bounds_.accounting_ = false;
}

void ParseBounds::Run::check() const {
    if (bounds_.failure_) throw Exception(*bounds_.failure_);
}

// Every entity expansion makes an input stream over the replacement text and, as the very next
// allocation, a reader that adopts it. A reader found over the limit fails; the stream made
// just before it would be lost with it, so it is destroyed here first. Any other reader over the
// limit (not following a stream) fails the parse at the next callback instead.
void ParseBounds::allocating(std::size_t bytes, void* previous, std::size_t previousSize) {
    if (!accounting_) return;
    allocated_ += bytes;
    requested_ += bytes;
    if (bytes < kCheckedAllocation) return;
    const bool expansion = previous && isObjectOf(bytes, sizeof(xercesc::XMLReader)) &&
                           isObjectOf(previousSize, sizeof(xercesc::BinMemInputStream));
    xercesc::BinMemInputStream* text = expansion
                                           ? reinterpret_cast<xercesc::BinMemInputStream*>(
                                                 static_cast<char*>(previous) + objectHeader())
                                           : nullptr;
    if (text && !holdsDocument_) allocated_ += text->getSize();
    const unsigned long long allowance = kParseMemoryBase + kParseMemoryPerByte * bytesRead_;
    if (allocated_ <= allowance && requested_ / kParseMemoryTurnover <= allowance) return;
    if (!isObjectOf(bytes, sizeof(xercesc::XMLReader))) fail("Parse memory limit exceeded");
    if (!text) {
        overLimit_ = true;
        return;
    }
    // The stream refers to the entity's text without owning it; deleting it gives its block
    // back through this manager.
    delete text;
    fail("Parse memory limit exceeded");
}

void ParseBounds::checkMemory() {
    if (overLimit_) fail("Parse memory limit exceeded");
}

void ParseBounds::expanded(unsigned long long units) {
    expansion_ += units;
    unsigned long long beyondInput = attributes_ > bytesRead_ ? attributes_ - bytesRead_ : 0;
    if (expansion_ + beyondInput > kExpansionTextLimit) fail("Entity expansion limit exceeded");
}

void ParseBounds::enter() {
    if (++depth_ > kDepthLimit) fail("Nesting depth limit exceeded");
}

// Records the failure and throws it; Xerces-C passes foreign exceptions through, and should it
// swallow one, Run::check() throws the record. Nothing fails twice, so unwinding never throws.
void ParseBounds::fail(const char* message) {
    if (failure_) return;
    int line = -1, column = -1;
    if (const xercesc::Locator* where = boundedScanner()->getLocator()) {
        line = locationValue(where->getLineNumber());
        column = locationValue(where->getColumnNumber());
    }
    accounting_ = false;
    failure_.reset(new Exception(9, Format("Fatal DOM error: Line %d, column %d, offset %d: %s",
                                           line, column, -1, message)));
    throw Exception(*failure_);
}

void ParseBounds::startEntityReference(const xercesc::XMLEntityDecl& entity) {
    checkMemory();
    // Everything an expansion produces stems from its replacement text, nested expansions
    // being charged on their own.
    expanded(entity.getValueLen());
    ++entityDepth_;
    enter();
}

void ParseBounds::endEntityReference() {
    if (entityDepth_) --entityDepth_;
    if (depth_) --depth_;
}

void ParseBounds::docPI(const XMLCh* data) {
    if (data && hasUnpairedSurrogate(data)) fail("unpaired surrogate character");
}

void ParseBounds::startElement(const XMLCh* prefix,
                               const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                               std::size_t count) {
    checkMemory();
    // End tags follow empty elements too.
    enter();
    unsigned long long defaulted = 0, lookups = 1;
    for (XMLSize_t i = 0; i < count; ++i) {
        const xercesc::XMLAttr* a = attributes.elementAt(i);
        // Prefixed attributes are looked up too.
        const XMLCh* p = a->getPrefix();
        const bool prefixed = p && *p;
        if (declaredPrefix(p)) ++lookups;
        if (hasUnpairedSurrogate(a->getValue())) fail("unpaired surrogate character");
        unsigned long long units = length(a->getValue());
        // A value written in the document cannot be longer than the bytes read so far unless
        // entity references made it so; inside an expansion all of it is expansion output.
        if (!a->getSpecified() || entityDepth_)
            defaulted += units;
        else
            attributes_ += units;
        if (a->getSpecified()) continue;
        if (prefixed ? xercesc::XMLString::equals(p, XMLUni::fgXMLNSString)
                     : xercesc::XMLString::equals(a->getName(), XMLUni::fgXMLNSString)) {
            rebinding(*a);
        } else if (prefixed) {
            defaultedName(attributes, count, i);
        }
    }
    expanded(defaulted);
    if (!rebound_.empty()) checkRebound(prefix, attributes, count);
    nestingCost_ += depth_ * lookups;
    if (nestingCost_ > kNestingCostBase + kNestingCostPerByte * bytesRead_) {
        fail("Nesting cost limit exceeded");
    }
}

// The DTD-only scanner resolves names with the namespace declarations written in the
// document, never with those a DTD default adds. Such a declaration is recorded when it binds
// its prefix to another namespace than the one in force, and a name using that prefix in its
// scope fails the parse: the document would get a namespace other parsers do not give it.
void ParseBounds::rebinding(const xercesc::XMLAttr& declaration) {
    const bool isDefault = !declaration.getPrefix() || !*declaration.getPrefix();
    const XMLCh* declared = isDefault ? u"" : declaration.getName();
    const XMLCh* inForce = namespaceInForce(declared);
    if (!xercesc::XMLString::equals(inForce ? inForce : u"", declaration.getValue())) {
        rebound_.emplace_back(declared, depth_);
    }
}

// A DTD default applies when no attribute of its qualified name is given, but another prefix
// can give the same namespace and local name: the DOM would keep one of the two (the default),
// and the document breaks the rule that an element's attributes have distinct names.
void ParseBounds::defaultedName(const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                std::size_t count, std::size_t which) {
    const xercesc::XMLAttr* defaulted = attributes.elementAt(which);
    for (XMLSize_t i = 0; i < count; ++i) {
        const xercesc::XMLAttr* a = attributes.elementAt(i);
        if (i != which && a->getURIId() == defaulted->getURIId() &&
            xercesc::XMLString::equals(a->getName(), defaulted->getName())) {
            fail("attribute defaulted from the DTD has the name of another attribute");
        }
    }
}

void ParseBounds::checkRebound(const XMLCh* prefix,
                               const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                               std::size_t count) {
    auto check = [this](const XMLCh* used) {
        const std::u16string_view name(used ? used : u"");
        for (const auto& entry : rebound_) {
            if (entry.first == name) {
                fail(
                    "namespace declaration defaulted from the DTD changes the namespace of a "
                    "name");
            }
        }
    };
    check(prefix);
    // Unprefixed attributes are in no namespace.
    for (XMLSize_t i = 0; i < count; ++i) {
        const XMLCh* p = attributes.elementAt(i)->getPrefix();
        if (declaredPrefix(p)) check(p);
    }
}

void ParseBounds::endElement() {
    if (depth_) --depth_;
    while (!rebound_.empty() && rebound_.back().second > depth_) rebound_.pop_back();
}

// The external subset is never read, and Xerces-C drops a reference to an entity that only it
// could declare without a word, losing the entity's text. For undeclared entities the document
// is taken as one without an external subset: the reference fails the parse, as other parsers
// make it fail.
void ParseBounds::doctypeDecl(bool hasExtSubset) {
    if (hasExtSubset) boundedScanner()->setHasNoDTD(true);
}

void delivered(std::size_t bytes) {
    if (ParseBounds* parser = ParseBounds::active()) parser->delivered(bytes);
}

std::size_t parseMemoryBlocks() { return parseMemory.blocks; }

xercesc::MemoryManager* parseMemoryManager() { return &parseMemory; }

xercesc::SecurityManager* entityExpansionLimit() { return &expansionLimit; }

Exception parseFailure(const char* severity, XMLUInt64 line, XMLUInt64 column, XMLUInt64 offset,
                       const XMLCh* message) {
    return Exception(9,
                     Format("%s: Line %d, column %d, offset %d: %S", severity, locationValue(line),
                            locationValue(column), locationValue(offset), message));
}

void refuseEntity(const XMLCh* publicId, const XMLCh* systemId) {
    if (!systemId && !publicId) throw Exception(13050, "Entity without public or system ID");
    throw Exception(13050, Format("Unable to resolve entity: %S", systemId ? systemId : publicId));
}

}  // namespace internal

namespace {}  // namespace

xercesc::DOMLSParser* DOMUtil::wellFormedParser() {
    using xercesc::DOMConfiguration;
    try {
        internal::domImplementation();
        std::unique_ptr<xercesc::DOMLSParser, ParserRelease> parser(
            new BoundedParser(&parseMemory));
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
                             static_cast<xercesc::SecurityManager*>(&expansionLimit));
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

DOMDocument* DOMUtil::parse(OctetSource* source) {
    RecordingErrorHandler errors;
    std::unique_ptr<xercesc::DOMLSParser, ParserRelease> parser(wellFormedParser());
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
