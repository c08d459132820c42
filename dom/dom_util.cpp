#include <ambrite/xml/dom.h>

#include "dom/dom_internal.h"
#include "foundation/internal.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMConfiguration.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMError.hpp>
#include <xercesc/dom/DOMErrorHandler.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationLS.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSInput.hpp>
#include <xercesc/dom/DOMLSParser.hpp>
#include <xercesc/dom/DOMLSResourceResolver.hpp>
#include <xercesc/dom/DOMLocator.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <climits>
#include <memory>

namespace Ambrite {
namespace XML {

using xercesc::XMLUni;

namespace {

const XMLCh kLS[] = u"LS";

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

// The bytes of an OctetSource as Xerces reads them, one read per request.
class OctetInputStream : public xercesc::BinInputStream {
public:
    OctetInputStream(OctetSource* source, bool adopt)
        : source_(source), adopt_(adopt), position_(0) {}
    ~OctetInputStream() override {
        if (adopt_) delete source_;
    }
    OctetInputStream(const OctetInputStream&) = delete;
    OctetInputStream& operator=(const OctetInputStream&) = delete;

    // The parser deletes the stream; it lives in library memory like the rest.
    static void* operator new(std::size_t size) { return internal::checkedAlloc(size); }
    static void operator delete(void* block) {
        if (block) utfree(block);
    }

    XMLFilePos curPos() const override { return position_; }
    XMLSize_t readBytes(XMLByte* buffer, XMLSize_t max) override {
        unsigned int n =
            source_->read(buffer, max > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(max));
        position_ += n;
        return n;
    }
    const XMLCh* getContentType() const override { return nullptr; }

private:
    OctetSource* source_;
    bool adopt_;
    XMLFilePos position_;
};

// Hands its source to the first stream made from it, so the source is read (and, when
// adopted, deleted) exactly once.
class OctetInputSource : public xercesc::InputSource {
public:
    OctetInputSource(OctetSource* source, bool adopt) : source_(source), adopt_(adopt) {}
    ~OctetInputSource() override {
        if (adopt_) delete source_;
    }
    OctetInputSource(const OctetInputSource&) = delete;
    OctetInputSource& operator=(const OctetInputSource&) = delete;

    xercesc::BinInputStream* makeStream() const override {
        if (!source_) return nullptr;
        OctetInputStream* stream = new OctetInputStream(source_, adopt_);
        source_ = nullptr;
        return stream;
    }

private:
    mutable OctetSource* source_;
    bool adopt_;
};

// The input handed to parsers: its byte stream reads the OctetSource as the parser asks.
class InputSourceAdapter : public xercesc::DOMLSInput, public Allocated {
public:
    InputSourceAdapter(OctetSource* source, bool adopt, const XMLCh* systemId)
        : bytes_(source, adopt), systemId_(StringUtil::dup(systemId)) {}
    ~InputSourceAdapter() override {
        if (systemId_) utfree(systemId_);
    }
    InputSourceAdapter(const InputSourceAdapter&) = delete;
    InputSourceAdapter& operator=(const InputSourceAdapter&) = delete;

    const XMLCh* getStringData() const override { return nullptr; }
    xercesc::InputSource* getByteStream() const override {
        return const_cast<OctetInputSource*>(&bytes_);
    }
    const XMLCh* getEncoding() const override { return nullptr; }
    const XMLCh* getPublicId() const override { return nullptr; }
    const XMLCh* getSystemId() const override { return systemId_; }
    const XMLCh* getBaseURI() const override { return nullptr; }
    void setStringData(const XMLCh*) override {}
    void setByteStream(xercesc::InputSource*) override {}
    void setEncoding(const XMLCh*) override {}
    void setPublicId(const XMLCh*) override {}
    void setSystemId(const XMLCh*) override {}
    void setBaseURI(const XMLCh*) override {}
    void setIssueFatalErrorIfNotFound(bool) override {}
    bool getIssueFatalErrorIfNotFound() const override { return true; }
    void release() override { delete this; }

private:
    OctetInputSource bytes_;
    XMLCh* systemId_;
};

xercesc::DOMImplementation* implementation() {
    xercesc::DOMImplementation* impl =
        xercesc::DOMImplementationRegistry::getDOMImplementation(kLS);
    if (!impl) throw Exception(10, "No DOM implementation");
    return impl;
}

}  // namespace

namespace internal {

Exception convert(const xercesc::DOMException& e) {
    return Exception(1000 + e.code, DOMUtil::format(e));
}

}  // namespace internal

xercesc::DOMLSParser* DOMUtil::wellFormedParser() {
    using xercesc::DOMConfiguration;
    try {
        xercesc::DOMImplementationLS* impl = implementation();
        std::unique_ptr<xercesc::DOMLSParser, ParserRelease> parser(
            impl->createLSParser(xercesc::DOMImplementationLS::MODE_SYNCHRONOUS, nullptr,
                                 xercesc::XMLPlatformUtils::fgMemoryManager, nullptr));
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
        throw Exception(18, "Out of memory");
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
        InputSourceAdapter input(source, false, nullptr);
        // A stopped parse still hands over what it built so far.
        std::unique_ptr<DOMDocument, DocumentRelease> document(parser->parse(&input));
        errors.check();
        return document.release();
    } catch (const xercesc::DOMException& e) {
        throw internal::convert(e);
    } catch (const xercesc::OutOfMemoryException&) {
        throw Exception(18, "Out of memory");
    }
}

DOMDocument* DOMUtil::newDocument() {
    try {
        return implementation()->createDocument(xercesc::XMLPlatformUtils::fgMemoryManager);
    } catch (const xercesc::DOMException& e) {
        throw internal::convert(e);
    } catch (const xercesc::OutOfMemoryException&) {
        throw Exception(18, "Out of memory");
    }
}

xercesc::DOMLSInput* DOMUtil::inputSourceAdapter(OctetSource* source, bool adopt,
                                                 const XMLCh* systemId) {
    return new InputSourceAdapter(source, adopt, systemId);
}

Format DOMUtil::format(const xercesc::DOMException& e) {
    static const char* const kNames[] = {"INDEX_SIZE_ERR",
                                         "DOMSTRING_SIZE_ERR",
                                         "HIERARCHY_REQUEST_ERR",
                                         "WRONG_DOCUMENT_ERR",
                                         "INVALID_CHARACTER_ERR",
                                         "NO_DATA_ALLOWED_ERR",
                                         "NO_MODIFICATION_ALLOWED_ERR",
                                         "NOT_FOUND_ERR",
                                         "NOT_SUPPORTED_ERR",
                                         "INUSE_ATTRIBUTE_ERR",
                                         "INVALID_STATE_ERR",
                                         "SYNTAX_ERR",
                                         "INVALID_MODIFICATION_ERR",
                                         "NAMESPACE_ERR",
                                         "INVALID_ACCESS_ERR",
                                         "VALIDATION_ERR"};
    const int count = static_cast<int>(sizeof kNames / sizeof kNames[0]);
    const char* name = e.code >= 1 && e.code <= count ? kNames[e.code - 1] : "UNKNOWN";
    return Format("%s%s%S", name, e.msg ? ": " : "", e.msg ? e.msg : u"");
}

DOMDocument* DOMUtil::getOwnerDocument(DOMNode* n) {
    if (!n) return nullptr;
    if (n->getNodeType() == DOMNode::DOCUMENT_NODE) return static_cast<DOMDocument*>(n);
    return n->getOwnerDocument();
}

DOMNode* DOMUtil::getParentNode(DOMNode* n) {
    if (!n) return nullptr;
    if (n->getNodeType() == DOMNode::ATTRIBUTE_NODE) {
        return static_cast<xercesc::DOMAttr*>(n)->getOwnerElement();
    }
    return n->getParentNode();
}

int DOMUtil::compareSiblings(DOMNode* a, DOMNode* b) {
    if (!a || !b || a == b) return 0;
    for (DOMNode* n = a->getNextSibling(); n; n = n->getNextSibling()) {
        if (n == b) return -1;
    }
    for (DOMNode* n = a->getPreviousSibling(); n; n = n->getPreviousSibling()) {
        if (n == b) return 1;
    }
    return 0;
}

void ParserRelease::operator()(xercesc::DOMLSParser* parser) const { parser->release(); }

void DocumentRelease::operator()(DOMDocument* document) const { document->release(); }

void AMXML_Element_setIdAttributeNode(DOMElement* element, DOMAttr* attr) {
    if (attr->isId()) return;
    try {
        element->setIdAttributeNode(attr, true);
    } catch (const xercesc::DOMException& e) {
        throw internal::convert(e);
    }
}

}  // namespace XML
}  // namespace Ambrite
