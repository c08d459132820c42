#include <ambrite/xml/dom.h>

#include "foundation/internal.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMDocumentType.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include <memory>

namespace Ambrite {
namespace XML {

namespace {

typedef std::unique_ptr<XMLCh, AMXMLDelete> OwnedString;

const XMLCh kXmlns[] = u"xmlns";
const XMLCh kLineFeed[] = u"\n";

// Where the walk stands relative to the document element; decides document-level line breaks.
enum Position { NOT_AT_DOCUMENT_LEVEL, BEFORE_ELEMENT, IN_ELEMENT, AFTER_ELEMENT };

Position initialPosition(DOMNode* node) {
    DOMDocument* owner = node->getOwnerDocument();
    if (!owner || node->getParentNode() != owner) return NOT_AT_DOCUMENT_LEVEL;
    switch (DOMUtil::compareSiblings(node, owner->getDocumentElement())) {
        case -1:
            return BEFORE_ELEMENT;
        case 1:
            return AFTER_ELEMENT;
        default:
            return IN_ELEMENT;
    }
}

bool isDocumentElement(const DOMNode* element) {
    const DOMNode* parent = element->getParentNode();
    return parent && parent == element->getOwnerDocument();
}

// An unprefixed element in no namespace under a default namespace needs xmlns="" to stay in
// no namespace when its text is read again.
bool needsUndeclaration(DOMElement* element, DOMNode* top) {
    if (element == top || element->getPrefix() || element->getNamespaceURI() ||
        element->getAttributeNode(kXmlns)) {
        return false;
    }
    for (DOMNode* p = element->getParentNode();
         p && p != top && p->getNodeType() == DOMNode::ELEMENT_NODE; p = p->getParentNode()) {
        if (!p->getPrefix()) return p->getNamespaceURI() != nullptr;
        if (const DOMAttr* a = static_cast<DOMElement*>(p)->getAttributeNode(kXmlns)) {
            const XMLCh* value = a->getValue();
            return value && *value;
        }
    }
    return false;
}

void writeAttribute(const DOMNode* attr, CharacterSink& out) {
    out.write(u" ");
    out.write(attr->getNodeName());
    out.write(u"=\"");
    escapeAttr(attr->getNodeValue(), out);
    out.write(u"\"");
}

void writeDoctype(DOMNode* node, const XMLCh* systemId, const XMLCh* publicId,
                  const XMLCh* internalSubset, CharacterSink& out) {
    const XMLCh* name;
    if (node->getNodeType() == DOMNode::DOCUMENT_NODE) {
        DOMElement* root = static_cast<DOMDocument*>(node)->getDocumentElement();
        name = root ? root->getNodeName() : nullptr;
    } else {
        name = node->getNodeName();
    }
    // A document without an element has nothing to name the DOCTYPE after, and a nameless one
    // would not be XML: it is left out.
    if (!name) return;
    out.write(u"<!DOCTYPE ");
    out.write(name);
    if (systemId) {
        // Xerces-C reports the public id of a SYSTEM declaration as empty rather than null, so an
        // empty one counts as absent; PUBLIC "" would change what was declared.
        if (publicId && *publicId) {
            out.write(u" PUBLIC \"");
            out.write(publicId);
            out.write(u"\" ");
        } else {
            out.write(u" SYSTEM ");
        }
        const XMLCh* quote = StringUtil::find(systemId, u'"') ? u"'" : u"\"";
        out.write(quote);
        out.write(systemId);
        out.write(quote);
    }
    if (internalSubset) {
        out.write(u" [");
        out.write(internalSubset);
        out.write(u"]");
    }
    out.write(u">\n");
}

}  // namespace

DOMSerializer::Parameters::Parameters(bool preamble, const XMLCh* systemID, const XMLCh* publicID,
                                      const XMLCh* internalSubset)
    : preamble_(preamble), systemID_(nullptr), publicID_(nullptr), internalSubset_(nullptr) {
    OwnedString system(StringUtil::dup(systemID));
    OwnedString pub(StringUtil::dup(publicID));
    OwnedString subset(StringUtil::dup(internalSubset));
    systemID_ = system.release();
    publicID_ = pub.release();
    internalSubset_ = subset.release();
}

DOMSerializer::Parameters::~Parameters() {
    if (systemID_) utfree(systemID_);
    if (publicID_) utfree(publicID_);
    if (internalSubset_) utfree(internalSubset_);
}

void DOMSerializer::serialize(DOMNode* node, CharacterSink& out, const Parameters* parameters) {
    const bool isDocument = node->getNodeType() == DOMNode::DOCUMENT_NODE;
    bool preamble = true;
    const XMLCh* systemId = nullptr;
    const XMLCh* publicId = nullptr;
    const XMLCh* internalSubset = nullptr;
    if (parameters) {
        preamble = parameters->preamble();
        systemId = parameters->systemID();
        publicId = parameters->publicID();
        internalSubset = parameters->internalSubset();
    } else if (isDocument) {
        if (xercesc::DOMDocumentType* type = static_cast<DOMDocument*>(node)->getDoctype()) {
            systemId = type->getSystemId();
            publicId = type->getPublicId();
            internalSubset = type->getInternalSubset();
        }
    }

    if (preamble) {
        out.write(u"<?xml version=\"1.0");
        if (const XMLCh* encoding = out.encoding()) {
            out.write(u"\" encoding=\"");
            out.write(encoding);
        }
        out.write(u"\"?>\n");
    }
    if (systemId || publicId || internalSubset) {
        writeDoctype(node, systemId, publicId, internalSubset, out);
    }

    Position position = initialPosition(node);
    DOMNode* current = node;
    while (current) {
        DOMNode* child = nullptr;
        switch (current->getNodeType()) {
            case DOMNode::ELEMENT_NODE: {
                DOMElement* element = static_cast<DOMElement*>(current);
                if (position == BEFORE_ELEMENT) position = IN_ELEMENT;
                out.write(u"<");
                out.write(element->getNodeName());
                if (needsUndeclaration(element, node)) out.write(u" xmlns=\"\"");
                if (xercesc::DOMNamedNodeMap* attributes = element->getAttributes()) {
                    const XMLSize_t n = attributes->getLength();
                    for (XMLSize_t i = 0; i < n; ++i) writeAttribute(attributes->item(i), out);
                }
                child = element->getFirstChild();
                if (child) {
                    out.write(u">");
                } else {
                    out.write(u" />");
                    // An empty document element ends here as surely as one with an end tag.
                    if (position == IN_ELEMENT && isDocumentElement(element)) {
                        position = AFTER_ELEMENT;
                    }
                }
                break;
            }
            case DOMNode::ATTRIBUTE_NODE:
                writeAttribute(current, out);
                break;
            case DOMNode::TEXT_NODE:
            case DOMNode::CDATA_SECTION_NODE:
                escapeText(current->getNodeValue(), out);
                break;
            case DOMNode::ENTITY_REFERENCE_NODE:
            case DOMNode::DOCUMENT_FRAGMENT_NODE:
                child = current->getFirstChild();
                break;
            case DOMNode::DOCUMENT_NODE:
                if (position == NOT_AT_DOCUMENT_LEVEL) position = BEFORE_ELEMENT;
                child = current->getFirstChild();
                break;
            case DOMNode::PROCESSING_INSTRUCTION_NODE: {
                if (position == AFTER_ELEMENT) out.write(kLineFeed);
                out.write(u"<?");
                out.write(current->getNodeName());
                const XMLCh* data = current->getNodeValue();
                if (data && *data) {
                    out.write(u" ");
                    out.write(data);
                }
                out.write(u"?>");
                if (position == BEFORE_ELEMENT) out.write(kLineFeed);
                break;
            }
            case DOMNode::COMMENT_NODE:
                if (position == AFTER_ELEMENT) out.write(kLineFeed);
                out.write(u"<!--");
                out.write(current->getNodeValue());
                out.write(u"-->");
                if (position == BEFORE_ELEMENT) out.write(kLineFeed);
                break;
            case DOMNode::ENTITY_NODE:
            case DOMNode::DOCUMENT_TYPE_NODE:
            case DOMNode::NOTATION_NODE:
            default:
                break;
        }
        if (child) {
            current = child;
            continue;
        }
        // Climb until a next sibling is found, closing the elements left on the way; the
        // siblings of node itself are never visited.
        for (;;) {
            if (current == node) {
                current = nullptr;
                break;
            }
            if (DOMNode* sibling = current->getNextSibling()) {
                current = sibling;
                break;
            }
            current = current->getParentNode();
            if (current->getNodeType() == DOMNode::ELEMENT_NODE) {
                out.write(u"</");
                out.write(current->getNodeName());
                out.write(u">");
                if (position == IN_ELEMENT && isDocumentElement(current)) position = AFTER_ELEMENT;
            }
        }
    }

    if (preamble || isDocument) out.write(kLineFeed);
}

void DOMSerializer::serialize(DOMNode* node, OctetSink& out, const Parameters* parameters) {
    UTF8Sink sink(out, 4096);
    serialize(node, sink, parameters);
    sink.flush();
}

}  // namespace XML
}  // namespace Ambrite
