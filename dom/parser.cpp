#include <ambrite/xml/dom.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
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
#include <xercesc/framework/XMLNotationDecl.hpp>
#include <xercesc/internal/ElemStack.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/DOMLSParserImpl.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
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

// The DOM parser of every parse, with the bounds of every parse (internal::ParseBounds). What
// it adds concerns the document it builds: Xerces-C's way of adding attributes and DTD defaults
// to elements and of pooling names costs the square of their number, so the parser builds
// elements itself and enlarges the document's pool of names as it fills.
class BoundedParser : public xercesc::DOMLSParserImpl, public internal::ParseBounds {
public:
    BoundedParser(xercesc::MemoryManager* memory, const DOMUtil::Limits& limits)
        : DOMLSParserImpl(nullptr, memory, nullptr), ParseBounds(limits, true) {}

    xercesc::DOMDocument* parse(const xercesc::DOMLSInput* source) override;

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
    xercesc::XMLScanner* boundedScanner() const override { return getScanner(); }
    void addAttributes(const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t count);
    const xercesc::XMLElementDecl& withoutDefaults(const xercesc::XMLElementDecl& element);
    void addDefaults(const xercesc::XMLElementDecl& element);
    void pooled(std::size_t names);
    void growNamePool();

    std::size_t namesPooled_ = 0;   // names the DOM may have pooled since its table was sized
    std::vector<XMLSize_t> order_;  // attributes in the order they go into the DOM
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

xercesc::DOMDocument* BoundedParser::parse(const xercesc::DOMLSInput* source) {
    namesPooled_ = 0;
    bare_.clear();
    internalSubset_ = false;
    Run run(*this);
    std::unique_ptr<DOMDocument, DocumentRelease> document(DOMLSParserImpl::parse(source));
    run.check();
    return document.release();
}

void BoundedParser::startDocument() {
    DOMLSParserImpl::startDocument();
    ParseBounds::startDocument();
}

void BoundedParser::XMLDecl(const XMLCh* version, const XMLCh* encoding, const XMLCh* standalone,
                            const XMLCh* actualEncoding) {
    ParseBounds::XMLDecl(version, encoding, actualEncoding);
    DOMLSParserImpl::XMLDecl(version, encoding, standalone, actualEncoding);
}

void BoundedParser::endDocument() {
    ParseBounds::endDocument();
    DOMLSParserImpl::endDocument();
}

void BoundedParser::startEntityReference(const xercesc::XMLEntityDecl& entity) {
    ParseBounds::startEntityReference(entity);
    DOMLSParserImpl::startEntityReference(entity);
    pooled(1);
}

void BoundedParser::endEntityReference(const xercesc::XMLEntityDecl& entity) {
    DOMLSParserImpl::endEntityReference(entity);
    ParseBounds::endEntityReference();
}

void BoundedParser::docPI(const XMLCh* target, const XMLCh* data) {
    ParseBounds::docPI(data);
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
    ParseBounds::startElement(element, prefix, attributes, count);
    if (getFilter()) {
        DOMLSParserImpl::startElement(element, urlId, prefix, attributes, count, isEmpty, isRoot);
        return;
    }
    const bool defaults = element.hasAttDefs();
    defaults_.clear();
    DOMLSParserImpl::startElement(defaults ? withoutDefaults(element) : element, urlId, prefix,
                                  attributes, 0, false, isRoot);
    addAttributes(attributes, count);
    if (defaults) addDefaults(element);
    // The element's names, its attributes' and its defaults'.
    pooled(4 * (1 + count + defaults_.size()));
    if (isEmpty) {
        endElement(element, urlId, isRoot, prefix);
    } else {
        keepBindings(urlId, prefix, attributes, count);
    }
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

void BoundedParser::endElement(const xercesc::XMLElementDecl& element, unsigned int urlId,
                               bool isRoot, const XMLCh* prefix) {
    DOMLSParserImpl::endElement(element, urlId, isRoot, prefix);
    ParseBounds::endElement(prefix);
}

void BoundedParser::doctypeDecl(const xercesc::DTDElementDecl& root, const XMLCh* publicId,
                                const XMLCh* systemId, bool hasIntSubset, bool hasExtSubset) {
    DOMLSParserImpl::doctypeDecl(root, publicId, systemId, hasIntSubset, hasExtSubset);
    ParseBounds::doctypeDecl(hasExtSubset);
}

void BoundedParser::entityDecl(const xercesc::DTDEntityDecl& entity, bool isPE, bool isIgnored) {
    ParseBounds::declaration();
    DOMLSParserImpl::entityDecl(entity, isPE, isIgnored);
    pooled(1);
}

void BoundedParser::notationDecl(const xercesc::XMLNotationDecl& notation, bool isIgnored) {
    ParseBounds::declaration();
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
