#include <ambrite/xml/binding.h>

#include <memory>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMElement.hpp>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

bool isText(const DOMNode* node) {
    return node->getNodeType() == DOMNode::TEXT_NODE ||
           node->getNodeType() == DOMNode::CDATA_SECTION_NODE;
}

bool isBlank(const XMLCh* s) {
    if (s) {
        for (; *s; ++s) {
            if (*s != u' ' && *s != u'\t' && *s != u'\r' && *s != u'\n') return false;
        }
    }
    return true;
}

bool ignorable(const DOMNode* node) {
    return node->getNodeType() == DOMNode::COMMENT_NODE ||
           (isText(node) && isBlank(node->getNodeValue()));
}

const DOMNode* asNode(const DOMNode* node) { return node; }

}  // namespace

const XMLCh ElementIterator::Any[] = u"*";
const XMLCh ElementIterator::Other[] = u"!*";

ElementIterator::ElementIterator(DOMElement* element, DecodeContext* context)
    : element_(element), context_(context), current_(element->getFirstChild()), factory_(nullptr) {
    next(true);
}

void ElementIterator::next(bool stay) {
    if (!stay) {
        current_ = current_->getNextSibling();
        factory_ = nullptr;
    }
    while (current_ && ignorable(current_)) current_ = current_->getNextSibling();
}

DOMAttr* ElementIterator::attribute(const XMLCh* namespaceURI, const XMLCh* localName,
                                    bool required) {
    DOMAttr* a = element_->getAttributeNodeNS(namespaceURI, localName);
    if (!a && required) {
        throw Exception(13053, Format("No %S attribute in %X", localName, asNode(element_)));
    }
    return a;
}

XMLCh* ElementIterator::simpleContent() {
    DOMNode* end = current_;
    unsigned int length = 0, pieces = 0;
    const XMLCh* only = nullptr;
    for (; end && (isText(end) || end->getNodeType() == DOMNode::COMMENT_NODE);
         end = end->getNextSibling()) {
        if (isText(end)) {
            only = end->getNodeValue();
            length += StringUtil::length(only);
            ++pieces;
        }
    }
    // One text node, the usual case, is copied in one go.
    XMLCh* text;
    if (pieces <= 1) {
        text = internal::dupString(only ? only : u"", only ? internal::length(only) : 0);
    } else {
        StringBuffer buffer(length + 1);
        for (DOMNode* n = current_; n != end; n = n->getNextSibling()) {
            if (isText(n)) buffer.append(n->getNodeValue());
        }
        text = buffer.release();
    }
    current_ = end;
    factory_ = nullptr;
    return text;
}

bool ElementIterator::hasNextText() const { return current_ && isText(current_); }

DOMNode* ElementIterator::nextNode() {
    if (!current_) throw Exception(13053, Format("No next node in %X", asNode(element_)));
    DOMNode* node = current_;
    next(false);
    return node;
}

bool ElementIterator::hasNextElement(const XMLCh* namespaceURI, const XMLCh* localName) const {
    if (!current_ || current_->getNodeType() != DOMNode::ELEMENT_NODE) return false;
    const XMLCh* uri = current_->getNamespaceURI();
    if (StringUtil::eq(localName, Other)) return !StringUtil::eq(uri, namespaceURI);
    if (StringUtil::eq(localName, Any)) {
        return StringUtil::eq(namespaceURI, Any) || StringUtil::eq(uri, namespaceURI);
    }
    return StringUtil::eq(current_->getLocalName(), localName) && StringUtil::eq(uri, namespaceURI);
}

DOMElement* ElementIterator::nextElement(const XMLCh* namespaceURI, const XMLCh* localName) {
    if (!hasNextElement(namespaceURI, localName)) {
        throw Exception(
            13053, Format("No next %S in %X: %X", localName, asNode(element_), asNode(current_)));
    }
    DOMElement* element = static_cast<DOMElement*>(current_);
    next(false);
    return element;
}

bool ElementIterator::hasNextStructure(const QualifiedName* expected) const {
    if (!current_ || current_->getNodeType() != DOMNode::ELEMENT_NODE) return false;
    const Provider* provider = dynamic_cast<const Provider*>(context_->lookup(0));
    if (!provider) throw Exception(13053, "Provider not installed");
    const Provider::ElementMap& elements = provider->elementMap();
    const QualifiedName name(current_->getNamespaceURI(), current_->getLocalName(), false);
    if (!factory_) {
        auto it = elements.find(&name);
        if (it == elements.end()) return false;
        factory_ = it->value;
    }
    if (!expected || expected->cmp(&name) == 0) return true;
    // A chain of parents longer than the registry must run in a circle: it ends there.
    const ElementFactory* factory = factory_;
    for (unsigned int steps = 0; steps <= elements.size(); ++steps) {
        const QualifiedName* parent = factory->parent();
        if (!parent) return false;
        if (expected->cmp(parent) == 0) return true;
        auto it = elements.find(parent);
        if (it == elements.end()) return false;
        factory = it->value;
    }
    return false;
}

XStructure* ElementIterator::nextStructure(const QualifiedName* expected) {
    std::unique_ptr<XStructure> structure;
    if (hasNextStructure(expected)) {
        structure.reset(factory_->create(current_, context_));
    } else if (!current_) {
        if (expected) {
            throw Exception(13053, Format("No next %S in %X: %X", expected->localName(),
                                          asNode(element_), asNode(nullptr)));
        }
        throw Exception(13053,
                        Format("No next structure in %X: %X", asNode(element_), asNode(nullptr)));
    } else if (expected) {
        throw Exception(13053, Format("No next %S in %X: %X", expected->localName(),
                                      asNode(element_), asNode(current_)));
    } else if (isText(current_)) {
        structure.reset(new TextStructure(current_, context_));
    } else {
        structure.reset(new UnknownStructure(current_, context_));
    }
    next(false);
    return structure.release();
}

void ElementIterator::assertEmpty() const {
    if (current_) {
        throw Exception(13053, Format("Trailing %X in %X", asNode(current_), asNode(element_)));
    }
}

}  // namespace XML
}  // namespace Ambrite
