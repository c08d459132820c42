#include <ambrite/xml/dom.h>

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSParser.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "dom/internal.h"
#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace internal {

xercesc::DOMImplementation* domImplementation() {
    xercesc::DOMImplementation* impl =
        xercesc::DOMImplementationRegistry::getDOMImplementation(u"LS");
    if (!impl) throw Exception(10, "No DOM implementation");
    return impl;
}

Exception convert(const xercesc::DOMException& e) {
    return Exception(1000 + e.code, DOMUtil::format(e));
}

}  // namespace internal

DOMDocument* DOMUtil::newDocument() {
    try {
        return internal::domImplementation()->createDocument(
            xercesc::XMLPlatformUtils::fgMemoryManager);
    } catch (const xercesc::DOMException& e) {
        throw internal::convert(e);
    } catch (const xercesc::OutOfMemoryException&) {
        internal::outOfMemory();
    }
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

DOMNode* DOMUtil::getParentNode(DOMNode* n) { return n ? internal::parentOf(n) : nullptr; }

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

namespace internal {

DocumentLevel::DocumentLevel(DOMNode* top)
    : position_(NOT_AT_DOCUMENT_LEVEL), documentElement_(nullptr) {
    DOMDocument* document = DOMUtil::getOwnerDocument(top);
    if (!document) return;
    documentElement_ = document->getDocumentElement();
    if (top->getParentNode() != document) return;
    switch (DOMUtil::compareSiblings(top, documentElement_)) {
        case -1:
            position_ = BEFORE_ELEMENT;
            break;
        case 1:
            position_ = AFTER_ELEMENT;
            break;
        default:
            position_ = IN_ELEMENT;
            break;
    }
}

}  // namespace internal

}  // namespace XML
}  // namespace Ambrite
