#include <ambrite/xml/dom.h>

#include <memory>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMDocumentType.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include "dom/internal.h"
#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

typedef std::unique_ptr<XMLCh, AMXMLDelete> OwnedString;

const XMLCh kXmlns[] = u"xmlns";
const XMLCh kLineFeed[] = u"\n";

// An unprefixed element in no namespace under a default namespace needs xmlns="" to stay in
// no namespace when its text is read again. `inForce` tells whether a default namespace is in
// force for the children of the element's parent (see defaultInForce).
bool needsUndeclaration(DOMElement* element, DOMNode* top, bool inForce) {
    return inForce && element != top && !element->getPrefix() && !element->getNamespaceURI() &&
           !element->getAttributeNode(kXmlns);
}

// Whether a default namespace is in force for the children of n, given the answer for n's
// siblings: an unprefixed element decides by its namespace, a prefixed one by its own xmlns
// attribute or else as its parent; the top node and non-elements end the search. Kept on a
// stack during the walk, so that no element looks up through its ancestors.
bool defaultInForce(DOMNode* n, DOMNode* top, bool parentInForce) {
    if (n == top || n->getNodeType() != DOMNode::ELEMENT_NODE) return false;
    if (!n->getPrefix()) return n->getNamespaceURI() != nullptr;
    if (const DOMAttr* a = static_cast<DOMElement*>(n)->getAttributeNode(kXmlns)) {
        const XMLCh* value = a->getValue();
        return value && *value;
    }
    return parentInForce;
}

template <bool xml11>
void writeAttribute(const DOMNode* attr, CharacterSink& out) {
    out.write(u" ");
    out.write(attr->getNodeName());
    out.write(u"=\"");
    internal::escapeTo<xml11 ? internal::kAttribute11Escapes : internal::kAttributeEscapes>(
        attr->getNodeValue(), out);
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

// The content of node, in document order.
template <bool xml11>
void writeContent(DOMNode* node, CharacterSink& out) {
    internal::DocumentLevel level(node);
    // Kept for every node whose children are being written: defaultInForce for them.
    internal::Walker<bool> walk(node);
    do {
        DOMNode* current = walk.node();
        if (!walk.entering()) {
            if (current->getNodeType() == DOMNode::ELEMENT_NODE) {
                out.write(u"</");
                out.write(current->getNodeName());
                out.write(u">");
            }
            level.done(current);
            continue;
        }
        level.enter(current);
        const bool inForce = walk.depth() > 0 && walk.data();
        switch (current->getNodeType()) {
            case DOMNode::ELEMENT_NODE: {
                DOMElement* element = static_cast<DOMElement*>(current);
                out.write(u"<");
                out.write(element->getNodeName());
                if (needsUndeclaration(element, node, inForce)) out.write(u" xmlns=\"\"");
                if (xercesc::DOMNamedNodeMap* attributes = element->getAttributes()) {
                    const XMLSize_t n = attributes->getLength();
                    for (XMLSize_t i = 0; i < n; ++i)
                        writeAttribute<xml11>(attributes->item(i), out);
                }
                if (walk.descend(defaultInForce(element, node, inForce))) {
                    out.write(u">");
                } else {
                    out.write(u" />");
                }
                break;
            }
            case DOMNode::ATTRIBUTE_NODE:
                writeAttribute<xml11>(current, out);
                break;
            case DOMNode::TEXT_NODE:
            case DOMNode::CDATA_SECTION_NODE:
                internal::escapeTo<xml11 ? internal::kText11Escapes : internal::kTextEscapes>(
                    current->getNodeValue(), out);
                break;
            case DOMNode::ENTITY_REFERENCE_NODE:
            case DOMNode::DOCUMENT_FRAGMENT_NODE:
            case DOMNode::DOCUMENT_NODE:
                walk.descend(defaultInForce(current, node, inForce));
                break;
            case DOMNode::PROCESSING_INSTRUCTION_NODE: {
                if (level.lineBefore()) out.write(kLineFeed);
                out.write(u"<?");
                out.write(current->getNodeName());
                const XMLCh* data = current->getNodeValue();
                if (data && *data) {
                    out.write(u" ");
                    out.write(data);
                }
                out.write(u"?>");
                if (level.lineAfter()) out.write(kLineFeed);
                break;
            }
            case DOMNode::COMMENT_NODE:
                if (level.lineBefore()) out.write(kLineFeed);
                out.write(u"<!--");
                out.write(current->getNodeValue());
                out.write(u"-->");
                if (level.lineAfter()) out.write(kLineFeed);
                break;
            case DOMNode::ENTITY_NODE:
            case DOMNode::DOCUMENT_TYPE_NODE:
            case DOMNode::NOTATION_NODE:
            default:
                break;
        }
        if (!walk.descended()) level.done(current);
    } while (walk.next());
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

    // XML 1.1 text keeps its version: it may hold references to controls that XML 1.0 has not.
    const DOMDocument* document = DOMUtil::getOwnerDocument(node);
    const XMLCh* version = document ? document->getXmlVersion() : nullptr;
    const bool xml11 = version && StringUtil::eq(version, u"1.1");
    if (preamble) {
        out.write(xml11 ? u"<?xml version=\"1.1" : u"<?xml version=\"1.0");
        if (const XMLCh* encoding = out.encoding()) {
            out.write(u"\" encoding=\"");
            out.write(encoding);
        }
        out.write(u"\"?>\n");
    }
    if (systemId || publicId || internalSubset) {
        writeDoctype(node, systemId, publicId, internalSubset, out);
    }

    if (xml11) {
        writeContent<true>(node, out);
    } else {
        writeContent<false>(node, out);
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
