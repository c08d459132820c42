#include <ambrite/xml/binding.h>

#include <memory>
#include <ostream>
#include <vector>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMText.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

typedef std::unique_ptr<XMLCh, AMXMLDelete> OwnedString;
typedef XStructure::NamespaceMap NamespaceMap;

const XMLCh kXmlns[] = u"xmlns";
const XMLCh kEmpty[] = u"";

// Decoding recurses through factories, one set of frames per nesting level; this many levels
// stay far inside a thread's stack also in a sanitized build.
const int kMaxDepth = 1000;

// What xmlns() gives a structure that declares nothing.
const NamespaceMap kNoDeclarations;

struct DeclarationsDelete {
    void operator()(NamespaceMap* map) const {
        for (auto it = map->begin(); it != map->end(); ++it) {
            if (it->key) utfree(it->key);
            if (it->value) utfree(it->value);
        }
        delete map;
    }
};
typedef std::unique_ptr<NamespaceMap, DeclarationsDelete> OwnedDeclarations;

// Stores copies of the pair, replacing the URI of a prefix already there.
void declare(NamespaceMap& map, const XMLCh* prefix, const XMLCh* uri) {
    OwnedString value(StringUtil::dup(uri));
    auto it = map.find(const_cast<XMLCh*>(prefix));
    if (it != map.end()) {
        if (it->value) utfree(it->value);
        it->value = value.release();
        return;
    }
    OwnedString key(StringUtil::dup(prefix));
    map.insert(NamespaceMap::Pair(key.get(), value.get()));
    key.release();
    value.release();
}

bool descends(const DOMNode* node) {
    return node->getNodeType() == DOMNode::ELEMENT_NODE ||
           node->getNodeType() == DOMNode::DOCUMENT_FRAGMENT_NODE;
}

// A deep copy of `source` owned by `document`. Xerces-C imports deep copies by recursion, which
// overflows the stack on the deep documents the parser accepts; this walk copies node by node
// (each with its attributes) without recursion. A copy joins its parent only once its own
// children are in, so that the ancestor check of every insertion finds a detached parent
// instead of walking a deep chain.
DOMNode* importTree(DOMDocument* document, DOMNode* source) {
    DOMNode* top = document->importNode(source, false);
    DOMNode* from = descends(source) ? source->getFirstChild() : nullptr;
    if (!from) return top;
    std::vector<DOMNode*> open(1, top);
    for (;;) {
        DOMNode* copy = document->importNode(from, false);
        if (descends(from) && from->getFirstChild()) {
            open.push_back(copy);
            from = from->getFirstChild();
            continue;
        }
        open.back()->appendChild(copy);
        while (!from->getNextSibling()) {
            from = from->getParentNode();
            if (from == source) return top;
            copy = open.back();
            open.pop_back();
            open.back()->appendChild(copy);
        }
        from = from->getNextSibling();
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// XStructure

XStructure::Builder::~Builder() {}

XStructure::XStructure(int flags, int type, const QualifiedName* elementName)
    : flags_(flags),
      type_(type),
      elementName_(nullptr),
      node_(nullptr),
      rawString_(nullptr),
      pending_(false),
      xmlnsMap_(nullptr) {
    if (elementName) elementName_ = elementName->clone();
}

XStructure::XStructure(const XStructure& other)
    : Transient(other),
      flags_(other.flags_),
      type_(other.type_),
      elementName_(nullptr),
      node_(nullptr),
      rawString_(nullptr),
      pending_(false),
      xmlnsMap_(nullptr) {
    // A copy of a structure decoded lazily carries what the decoding records.
    other.lazyDecode();
    std::unique_ptr<QualifiedName> name(other.elementName_ ? other.elementName_->clone() : nullptr);
    OwnedDeclarations declarations;
    if (other.xmlnsMap_) {
        declarations.reset(new NamespaceMap);
        for (auto it = other.xmlnsMap_->begin(); it != other.xmlnsMap_->end(); ++it) {
            declare(*declarations, it->key, it->value);
        }
    }
    elementName_ = name.release();
    xmlnsMap_ = declarations.release();
}

XStructure::~XStructure() {
    delete elementName_;
    if (rawString_) utfree(rawString_);
    if (xmlnsMap_) DeclarationsDelete()(xmlnsMap_);
}

DOMNode* XStructure::node() const {
    if (!node_) throw Exception(6, "Structure not yet encoded");
    return node_;
}

void XStructure::xmlns(const NamespaceMap& declarations) {
    if (node_) throw Exception(6, "Structure already processed");
    if (!xmlnsMap_) xmlnsMap_ = new NamespaceMap;
    for (auto it = declarations.begin(); it != declarations.end(); ++it) {
        declare(*xmlnsMap_, it->key, it->value);
    }
}

const NamespaceMap& XStructure::xmlns() const { return xmlnsMap_ ? *xmlnsMap_ : kNoDeclarations; }

void XStructure::install(Support* support) { supports_[support->identifier()] = support; }

Support* XStructure::lookup(int identifier) const {
    auto it = supports_.find(identifier);
    if (it != supports_.end()) return it->value;
    it = supports_.find(1);
    if (it == supports_.end()) return nullptr;
    const Context* context = dynamic_cast<const Context*>(it->value);
    return context ? context->lookup(identifier) : nullptr;
}

const XMLCh* XStructure::rawStringValue() const {
    if (!(flags_ & SIMPLE_CONTENT)) throw Exception(6, "Operation not supported");
    lazyDecode();
    if (!rawString_) throw Exception(6, "Structure not yet encoded");
    return rawString_;
}

void XStructure::replaceRawString(XMLCh* value) {
    if (rawString_) utfree(rawString_);
    rawString_ = value;
}

void XStructure::encode(DOMNode* parent, DOMNode* before, EncodeContext* context) {
    lazyDecode();
    if (!(flags_ & (SIMPLE_CONTENT | ELEMENT_ONLY))) {
        node_ = parent;
        install(context);
        return;
    }
    if (!(flags_ & ELEMENT_ONLY) && parent->getNodeType() == DOMNode::ATTRIBUTE_NODE) {
        node_ = parent;
        install(context);
        replaceRawString(encodeString(parent, context));
        if (rawString_) parent->setNodeValue(rawString_);
        return;
    }
    if (!elementName_) throw Exception(13052, "Operation not supported");
    DOMElement* element = context->createElement(parent, before, elementName_->namespaceURI(),
                                                 elementName_->localName());
    encodeImpl(element, context);
    context->callback(element);
}

XMLCh* XStructure::encodeString(DOMNode*, EncodeContext*) {
    throw Exception(6, "Operation not supported");
}

void XStructure::encodeImpl(DOMElement* element, EncodeContext* context) {
    lazyDecode();
    node_ = element;
    install(context);
    if (!elementName_) {
        elementName_ = new QualifiedName(element->getNamespaceURI(), element->getLocalName(), true);
    }
    if (flags_ & SIMPLE_CONTENT) {
        replaceRawString(encodeString(element, context));
        if (rawString_)
            element->appendChild(element->getOwnerDocument()->createTextNode(rawString_));
    }
    if (!xmlnsMap_) return;
    for (auto it = xmlnsMap_->begin(); it != xmlnsMap_->end(); ++it) {
        const Format name = it->key ? Format("xmlns:%S", it->key) : Format("%S", kXmlns);
        element->setAttributeNS(xercesc::XMLUni::fgXMLNSURIName, name,
                                it->value ? it->value : kEmpty);
    }
}

void XStructure::decode(DOMNode* node, DecodeContext* context) {
    node_ = node;
    install(context);
    if (!(flags_ & (SIMPLE_CONTENT | ELEMENT_ONLY))) return;
    if (!(flags_ & ELEMENT_ONLY) && node->getNodeType() == DOMNode::ATTRIBUTE_NODE) {
        replaceRawString(StringUtil::dup(node->getNodeValue()));
        pending_ = context->lazyDecode();
        if (!pending_) decodeString(rawString_, node, context);
        return;
    }
    if (node->getNodeType() != DOMNode::ELEMENT_NODE) throw Exception(13053, "Not an element node");
    DOMElement* element = static_cast<DOMElement*>(node);
    if (elementName_) {
        if (!StringUtil::eq(element->getLocalName(), elementName_->localName())) {
            throw Exception(13053, Format("Invalid element name: %S (expecting %S)",
                                          element->getLocalName(), elementName_->localName()));
        }
        if (!StringUtil::eq(element->getNamespaceURI(), elementName_->namespaceURI())) {
            throw Exception(13053,
                            Format("Invalid element namespace URI: %S (expecting %S)",
                                   element->getNamespaceURI(), elementName_->namespaceURI()));
        }
    } else {
        elementName_ = new QualifiedName(element->getNamespaceURI(), element->getLocalName(), true);
    }
    pending_ = context->lazyDecode();
    if (!pending_) decodeElement(element, context);
}

void XStructure::decodeElement(DOMElement* element, DecodeContext* context) {
    if (context->depth_ >= kMaxDepth) throw Exception(13053, "Nesting depth limit exceeded");
    struct Level {
        explicit Level(int& depth) : depth_(++depth) {}
        ~Level() { --depth_; }
        int& depth_;
    } level(context->depth_);
    ElementIterator iterator(element, context);
    decodeImpl(iterator, context);
    iterator.assertEmpty();
}

void XStructure::decodeImpl(ElementIterator& iterator, DecodeContext* context) {
    DOMElement* element = iterator.element();
    node_ = element;
    install(context);
    if (flags_ & SIMPLE_CONTENT) {
        replaceRawString(iterator.simpleContent());
        decodeString(rawString_, element, context);
    }
    if (flags_ & (SIMPLE_CONTENT | RECORD_NAMESPACES)) recordNamespaces(element);
}

void XStructure::recordNamespaces(DOMElement* element) {
    const xercesc::DOMNamedNodeMap* attributes = element->getAttributes();
    const XMLSize_t n = attributes ? attributes->getLength() : 0;
    for (XMLSize_t i = 0; i < n; ++i) {
        const DOMNode* a = attributes->item(i);
        const XMLCh* prefix;
        if (StringUtil::eq(a->getNodeName(), kXmlns)) {
            prefix = nullptr;
        } else if (StringUtil::eq(a->getPrefix(), kXmlns)) {
            prefix = a->getLocalName();
        } else {
            continue;
        }
        if (!xmlnsMap_) xmlnsMap_ = new NamespaceMap;
        declare(*xmlnsMap_, prefix, a->getNodeValue());
    }
}

void XStructure::decodeString(const XMLCh*, DOMNode*, DecodeContext*) {
    throw Exception(6, "Operation not supported");
}

// Pending is cleared while the work runs, so that a subclass reading its own fields from
// decodeImpl does not start it again, and set back when the work fails, so that the next read
// fails the same way instead of seeing half a structure.
void XStructure::lazyDecode() const {
    if (!pending_) return;
    DecodeContext* context = dynamic_cast<DecodeContext*>(lookup(1));
    if (!context) throw Exception(6, "Operation not supported");
    XStructure* self = const_cast<XStructure*>(this);
    pending_ = false;
    try {
        if (node_->getNodeType() == DOMNode::ATTRIBUTE_NODE) {
            self->decodeString(rawString_, node_, context);
        } else {
            self->decodeElement(static_cast<DOMElement*>(node_), context);
        }
    } catch (...) {
        pending_ = true;
        throw;
    }
}

bool XStructure::stringify(std::ostream& out, bool verbose) const {
    if (!verbose) return false;
    if (elementName_) {
        out << Format("%S[", elementName_->localName());
    } else {
        out << "[";
    }
    return false;
}

std::ostream& operator<<(std::ostream& out, const XStructure& structure) {
    structure.stringify(out, true);
    return out << "]";
}

// ---------------------------------------------------------------------------------------------
// TextStructure

TextStructure::TextStructure(const XMLCh* text)
    : XStructure(0, 1, nullptr), text_(StringUtil::dup(text)) {}

TextStructure::TextStructure(DOMNode* node, DecodeContext* context)
    : XStructure(0, 1, nullptr), text_(nullptr) {
    try {
        decode(node, context);
    } catch (...) {
        if (text_) utfree(text_);
        throw;
    }
}

TextStructure::~TextStructure() {
    if (text_) utfree(text_);
}

void TextStructure::encode(DOMNode* parent, DOMNode* before, EncodeContext* context) {
    DOMNode* text = DOMUtil::getOwnerDocument(parent)->createTextNode(text_ ? text_ : kEmpty);
    parent->insertBefore(text, before);
    XStructure::encode(text, nullptr, context);
}

XStructure* TextStructure::clone() const { return new TextStructure(text_); }

void TextStructure::decode(DOMNode* node, DecodeContext* context) {
    const short type = node->getNodeType();
    if (type != DOMNode::TEXT_NODE && type != DOMNode::CDATA_SECTION_NODE) {
        throw Exception(13053, Format("Node is not a text node: Type %d", static_cast<int>(type)));
    }
    XMLCh* text = StringUtil::dup(node->getNodeValue());
    if (text_) utfree(text_);
    text_ = text;
    XStructure::decode(node, context);
}

bool TextStructure::stringify(std::ostream& out, bool) const {
    out << Format("<text>[%S", text_);
    return true;
}

// ---------------------------------------------------------------------------------------------
// UnknownStructure

UnknownStructure::UnknownStructure(DOMNode* node, bool cloneNode)
    : XStructure(0, 2, nullptr), content_(node), cloneNode_(cloneNode), refCount_(nullptr) {}

UnknownStructure::UnknownStructure(DOMNode* node, RefCount* refCount)
    : XStructure(0, 2, nullptr), content_(node), cloneNode_(true), refCount_(refCount) {
    if (refCount_) refCount_->inc();
}

UnknownStructure::UnknownStructure(DOMNode* node, DecodeContext* context)
    : XStructure(0, 2, nullptr), content_(nullptr), cloneNode_(true), refCount_(nullptr) {
    decode(node, context);
}

UnknownStructure::UnknownStructure(const UnknownStructure& other)
    : XStructure(other), content_(other.content_), cloneNode_(true), refCount_(other.refCount_) {
    if (refCount_) refCount_->inc();
}

UnknownStructure::~UnknownStructure() {
    if (refCount_ && static_cast<unsigned int>(refCount_->dec()) == 0) delete refCount_;
}

void UnknownStructure::encode(DOMNode* parent, DOMNode* before, EncodeContext* context) {
    DOMNode* node = cloneNode_ ? importTree(DOMUtil::getOwnerDocument(parent), content_) : content_;
    parent->insertBefore(node, before);
    XStructure::encode(node, nullptr, context);
}

XStructure* UnknownStructure::clone() const { return new UnknownStructure(*this); }

void UnknownStructure::decode(DOMNode* node, DecodeContext* context) {
    content_ = node;
    cloneNode_ = true;
    XStructure::decode(node, context);
}

bool UnknownStructure::stringify(std::ostream& out, bool) const {
    out << Format("<unknown>[%X", static_cast<const DOMNode*>(content_));
    return true;
}

}  // namespace XML
}  // namespace Ambrite
