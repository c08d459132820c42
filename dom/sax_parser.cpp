// The streaming parse: Xerces-C's SAX2 reader in the library's one parser configuration, handing
// a document's content to a StreamHandler as it is read instead of building a DOM.
#include <ambrite/xml/dom.h>

#include <memory>
#include <unordered_set>
#include <xercesc/dom/DOMDocumentType.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMLSInput.hpp>
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/framework/XMLAttDefList.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLBuffer.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/framework/XMLValidator.hpp>
#include <xercesc/internal/ElemStack.hpp>
#include <xercesc/internal/XMLReader.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/StringPool.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>

#include "dom/internal.h"
#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

using xercesc::XMLUni;

namespace internal {

// Namespace names as the DOM parser has them: the scanner leaves "xmlns" in no namespace. A
// declared namespace name is looked up in the scanner's pool of them, where the declarations
// written in the document have put it.
void StreamAttributes::get(std::size_t i, StreamAttribute& out) const {
    const xercesc::XMLAttr& a = *list_.elementAt(i);
    const XMLCh* prefix = a.getPrefix();
    out.name = a.getQName();
    out.localName = a.getName();
    out.prefix = prefix && *prefix ? prefix : nullptr;
    unsigned int uri = a.getURIId();
    if (!out.prefix && xercesc::XMLString::equals(out.localName, XMLUni::fgXMLNSString)) {
        uri = scanner_->getXMLNSNamespaceId();
    }
    out.namespaceURI = uri == scanner_->getEmptyNamespaceId() ? nullptr : scanner_->getURIText(uri);
    out.value = a.getValue();
    out.pooledValue = false;
    if (uri == scanner_->getXMLNSNamespaceId() && *out.value) {
        const xercesc::XMLStringPool* pool = scanner_->getURIStringPool();
        if (unsigned int id = pool->getId(out.value)) {
            out.value = pool->getValueForId(id);
            out.pooledValue = true;
        }
    }
    out.isId = a.getType() == xercesc::XMLAttDef::ID;
}

namespace {

// The scanner of a validator, which Xerces-C lets only validators ask for.
struct ScannerOf : xercesc::XMLValidator {
    static xercesc::XMLScanner* get(xercesc::XMLValidator* validator) {
        xercesc::XMLScanner* (xercesc::XMLValidator::*scanner)() = &ScannerOf::getScanner;
        return (validator->*scanner)();
    }
};

// Handlers the reader must have to pass the scanner's events on to its own overrides below;
// they receive nothing themselves.
xercesc::DefaultHandler inertHandler;

// The reader of every streaming parse, with the bounds of every parse. Its overrides of the
// scanner's callbacks replace the reader's SAX2 translation: the handler gets the scanner's own
// view of each start tag, as the DOM parser does.
class StreamParser : public xercesc::SAX2XMLReaderImpl, public ParseBounds {
public:
    StreamParser(StreamHandler& handler, const DOMUtil::Limits& limits)
        : SAX2XMLReaderImpl(parseMemoryManager(), nullptr),
          ParseBounds(limits, false),
          handler_(handler) {}

    void run(OctetSource* source);

    void startDocument() override { ParseBounds::startDocument(); }
    void endDocument() override { ParseBounds::endDocument(); }
    void XMLDecl(const XMLCh* version, const XMLCh* encoding, const XMLCh*,
                 const XMLCh* actualEncoding) override;
    void startElement(const xercesc::XMLElementDecl& element, unsigned int urlId,
                      const XMLCh* prefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                      XMLSize_t count, bool isEmpty, bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& element, unsigned int urlId, bool isRoot,
                    const XMLCh* prefix) override;
    void docCharacters(const XMLCh* chars, XMLSize_t length, bool cdataSection) override;
    void ignorableWhitespace(const XMLCh* chars, XMLSize_t length, bool cdataSection) override;
    void docComment(const XMLCh* comment) override { handler_.comment(comment); }
    void docPI(const XMLCh* target, const XMLCh* data) override {
        ParseBounds::docPI(data);
        handler_.processingInstruction(target, data);
    }
    void startEntityReference(const xercesc::XMLEntityDecl& entity) override {
        ParseBounds::startEntityReference(entity);
    }
    void endEntityReference(const xercesc::XMLEntityDecl&) override {
        ParseBounds::endEntityReference();
    }
    void doctypeDecl(const xercesc::DTDElementDecl& root, const XMLCh* publicId,
                     const XMLCh* systemId, bool hasIntSubset, bool hasExtSubset) override;
    void entityDecl(const xercesc::DTDEntityDecl& entity, bool isPE, bool isIgnored) override {
        ParseBounds::declaration();
        SAX2XMLReaderImpl::entityDecl(entity, isPE, isIgnored);
    }
    void notationDecl(const xercesc::XMLNotationDecl& notation, bool isIgnored) override {
        ParseBounds::declaration();
        SAX2XMLReaderImpl::notationDecl(notation, isIgnored);
    }

    void error(unsigned int code, const XMLCh* domain, xercesc::XMLErrorReporter::ErrTypes type,
               const XMLCh* text, const XMLCh* systemId, const XMLCh* publicId, XMLFileLoc line,
               XMLFileLoc column) override;
    void resetErrors() override {}

    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override {
        refuseEntity(resource->getPublicId(), resource->getSystemId());
    }

private:
    xercesc::XMLScanner* boundedScanner() const override { return ScannerOf::get(getValidator()); }
    xercesc::DOMDocumentImpl* scratch();
    void checkDefaults(const xercesc::XMLElementDecl& element);

    StreamHandler& handler_;
    std::unique_ptr<DOMDocument, DocumentRelease> scratch_;
    xercesc::XMLScanner* scanner_ = nullptr;
    std::size_t depth_ = 0;
    std::unique_ptr<Exception> diagnostic_;  // the first one the scanner reported
    // Element declarations whose defaults have been made on the scratch document.
    std::unordered_set<const xercesc::XMLElementDecl*> checkedDefaults_;
};

void StreamParser::run(OctetSource* source) {
    struct Release {
        void operator()(xercesc::DOMLSInput* input) const { input->release(); }
    };
    std::unique_ptr<xercesc::DOMLSInput, Release> input(
        DOMUtil::inputSourceAdapter(source, false, nullptr));
    // The configuration has chosen the scanner for good.
    scanner_ = ScannerOf::get(getValidator());
    Run run(*this);
    SAX2XMLReaderImpl::parse(*input->getByteStream());
    run.check();
    if (diagnostic_) throw Exception(*diagnostic_);
}

void StreamParser::startElement(const xercesc::XMLElementDecl& element, unsigned int urlId,
                                const XMLCh* prefix,
                                const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                XMLSize_t count, bool isEmpty, bool isRoot) {
    ParseBounds::startElement(element, prefix, attributes, count);
    if (element.hasAttDefs()) checkDefaults(element);
    ++depth_;
    const XMLCh* uri =
        urlId == scanner_->getEmptyNamespaceId() ? nullptr : scanner_->getURIText(urlId);
    handler_.startElement(element.getFullName(), element.getBaseName(),
                          prefix && *prefix ? prefix : nullptr, uri,
                          StreamAttributes(attributes, count, scanner_));
    if (isEmpty) {
        endElement(element, urlId, isRoot, prefix);
    } else {
        keepBindings(urlId, prefix, attributes, count);
    }
}

void StreamParser::endElement(const xercesc::XMLElementDecl& element, unsigned int, bool,
                              const XMLCh* prefix) {
    --depth_;
    handler_.endElement(element.getFullName());
    ParseBounds::endElement(prefix);
}

// The DOM parser makes nodes of the document type and of the DTD's attribute defaults, and the
// DOM refuses there what is no qualified name but passes the scanner (a document type "a:", a
// default for "z:"). A scratch document, of the document's version, makes the same nodes for
// the same refusals, in the same order.
xercesc::DOMDocumentImpl* StreamParser::scratch() {
    if (!scratch_) {
        scratch_.reset(domImplementation()->createDocument(parseMemoryManager()));
        if (scanner_->getXMLVersion() == xercesc::XMLReader::XMLV1_1) {
            scratch_->setXmlVersion(XMLUni::fgVersion1_1);
        }
    }
    return static_cast<xercesc::DOMDocumentImpl*>(scratch_.get());
}

// The scanner reads any version 1.x as 1.0; the DOM parser gives the document the version
// written, which the DOM refuses for any but 1.0 and 1.1. The scratch document refuses it alike.
void StreamParser::XMLDecl(const XMLCh* version, const XMLCh* encoding, const XMLCh*,
                           const XMLCh* actualEncoding) {
    ParseBounds::XMLDecl(version, encoding, actualEncoding);
    if (version && !xercesc::XMLString::equals(version, XMLUni::fgVersion1_0) &&
        !xercesc::XMLString::equals(version, XMLUni::fgVersion1_1)) {
        scratch()->setXmlVersion(version);
    }
}

void StreamParser::doctypeDecl(const xercesc::DTDElementDecl& root, const XMLCh* publicId,
                               const XMLCh* systemId, bool hasIntSubset, bool hasExtSubset) {
    scratch()->createDocumentType(root.getFullName(), publicId, systemId);
    SAX2XMLReaderImpl::doctypeDecl(root, publicId, systemId, hasIntSubset, hasExtSubset);
    ParseBounds::doctypeDecl(hasExtSubset);
}

// The DOM parser makes the DTD defaults of an element into attribute nodes, bound as in the
// element's scope, whenever an element with defaults starts, and the DOM refuses there what is
// no qualified name but passes the scanner (a default for "z:"). The same calls on the scratch
// document give the same refusals; a prefix gets the same namespace in every scope (one not
// bound fails the scanner first), so each declaration is tried once.
void StreamParser::checkDefaults(const xercesc::XMLElementDecl& element) {
    using xercesc::XMLAttDef;
    if (!checkedDefaults_.insert(&element).second) return;
    xercesc::DOMDocumentImpl* document = scratch();
    xercesc::XMLBuffer prefix(64, parseMemoryManager());
    xercesc::XMLAttDefList& definitions = element.getAttDefList();
    for (XMLSize_t i = 0; i < definitions.getAttDefCount(); ++i) {
        const XMLAttDef& definition = definitions.getAttDef(i);
        const XMLAttDef::DefAttTypes type = definition.getDefaultType();
        if (type != XMLAttDef::Default && type != XMLAttDef::Fixed) continue;
        const XMLCh* name = definition.getFullName();
        int colon = -1;
        unsigned int uriId =
            scanner_->resolveQName(name, prefix, xercesc::ElemStack::Mode_Attribute, colon);
        if (xercesc::XMLString::equals(name, XMLUni::fgXMLNSString)) {
            uriId = scanner_->getXMLNSNamespaceId();
        }
        document->createAttributeNS(
            uriId != scanner_->getEmptyNamespaceId() ? scanner_->getURIText(uriId) : nullptr, name);
    }
}

// Character data outside the document element is none of the document's content.
void StreamParser::docCharacters(const XMLCh* chars, XMLSize_t length, bool) {
    if (depth_) handler_.characters(chars, length);
}

void StreamParser::ignorableWhitespace(const XMLCh* chars, XMLSize_t length, bool) {
    if (depth_) handler_.characters(chars, length);
}

// As the DOM parser's error handler: the first diagnostic, warnings included, ends the parse.
void StreamParser::error(unsigned int code, const XMLCh*, xercesc::XMLErrorReporter::ErrTypes type,
                         const XMLCh* text, const XMLCh*, const XMLCh*, XMLFileLoc line,
                         XMLFileLoc column) {
    if (!diagnostic_) {
        const char* severity = type == xercesc::XMLErrorReporter::ErrType_Warning ? "DOM warning"
                               : type == xercesc::XMLErrorReporter::ErrType_Error
                                   ? "DOM error"
                                   : "Fatal DOM error";
        diagnostic_.reset(new Exception(parseFailure(severity, line, column, ~XMLUInt64(0), text)));
    }
    if (!scanner_->getInException()) throw static_cast<xercesc::XMLErrs::Codes>(code);
}

}  // namespace

void streamParse(OctetSource* source, StreamHandler& handler, const DOMUtil::Limits& limits) {
    try {
        std::unique_ptr<StreamParser> parser(new StreamParser(handler, limits));
        parser->setProperty(XMLUni::fgXercesScannerName,
                            const_cast<XMLCh*>(XMLUni::fgDGXMLScanner));
        parser->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
        parser->setFeature(XMLUni::fgSAX2CoreValidation, false);
        parser->setFeature(XMLUni::fgXercesSchema, false);
        parser->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
        parser->setFeature(XMLUni::fgXercesCacheGrammarFromParse, false);
        parser->setFeature(XMLUni::fgXercesUseCachedGrammarInParse, false);
        parser->setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
        parser->setProperty(XMLUni::fgXercesSecurityManager, entityExpansionLimit());
        // Each of these installs the reader with the scanner for the events it overrides.
        parser->setContentHandler(&inertHandler);
        parser->setErrorHandler(&inertHandler);
        parser->setEntityResolver(&inertHandler);
        parser->setLexicalHandler(&inertHandler);
        parser->run(source);
    } catch (const xercesc::DOMException& e) {
        throw convert(e);
    } catch (const xercesc::OutOfMemoryException&) {
        outOfMemory();
    }
}

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite
