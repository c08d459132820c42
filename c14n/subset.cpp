#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>

#include <memory>
#include <string>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>

#include "c14n/internal.h"

namespace Ambrite {
namespace XML {

namespace internal {

namespace {

const XMLCh kSignatureNamespace[] = u"http://www.w3.org/2000/09/xmldsig#";

bool equals(const XMLCh* s, const XMLCh* literal) { return s && StringUtil::cmp(s, literal) == 0; }

std::u16string text(const XMLCh* s) { return s ? std::u16string(s) : std::u16string(); }

// A child sequence as written in messages: /1/2/3.
std::u16string sequenceText(const std::vector<unsigned int>& steps) {
    std::u16string s;
    for (unsigned int step : steps) {
        s += u'/';
        std::string digits = std::to_string(step);
        s.append(digits.begin(), digits.end());
    }
    return s;
}

}  // namespace

SubsetMatcher::SubsetMatcher(const C14n::DocumentSubset::Choices& choices)
    : choices_(choices),
      children_(1, 0),
      elements_(0),
      apex_(false),
      excluded_(false),
      duplicate_(nullptr) {
    auto add = [this](const C14n::DocumentSubset::Choices::Locator& l, bool apex) {
        if (!l.steps.empty()) {
            sequences_.push_back(Sequence{&l, apex, false, 0});
            return;
        }
        Id& id = ids_.emplace(l.id, Id{false, false, false, 0, 0}).first->second;
        (apex ? id.apex : id.excluded) = true;
    };
    if (choices.hasApex) add(choices.apex, true);
    for (const C14n::DocumentSubset::Choices::Locator& l : choices.excluded) add(l, false);
}

bool SubsetMatcher::holdsIds(const XMLCh* namespaceURI, const XMLCh* localName) const {
    for (const auto& named : choices_.idAttributes) {
        if (named.second == text(localName) && named.first == text(namespaceURI)) return true;
    }
    return false;
}

// Positions count the element children of each open node; a sequence is matched one step per
// level, so that its element is the one whose ancestors matched all steps before.
void SubsetMatcher::startElement(const XMLCh* namespaceURI, const XMLCh* localName) {
    ++elements_;
    const std::size_t depth = children_.size();  // of this element; the document element's is 1
    const unsigned int position = ++children_.back();
    children_.push_back(0);
    apex_ = excluded_ = false;
    for (Sequence& s : sequences_) {
        const std::vector<unsigned int>& steps = s.locator->steps;
        if (s.matched + 1 != depth || depth > steps.size() || steps[depth - 1] != position) {
            continue;
        }
        s.matched = depth;
        if (depth == steps.size()) {
            s.found = true;
            (s.apex ? apex_ : excluded_) = true;
        }
    }
    if (choices_.signatures && equals(namespaceURI, kSignatureNamespace) &&
        equals(localName, u"Signature")) {
        excluded_ = true;
    }
}

void SubsetMatcher::idValue(const XMLCh* value) {
    auto found = ids_.find(text(value));
    if (found == ids_.end()) return;
    Id& id = found->second;
    if (id.element == elements_) return;  // another ID attribute of the same element
    id.element = elements_;
    id.found = true;
    if (++id.carriers == 2 && !duplicate_) duplicate_ = &found->first;
    if (id.apex) apex_ = true;
    if (id.excluded) excluded_ = true;
}

void SubsetMatcher::endElement() {
    children_.pop_back();
    const std::size_t depth = children_.size();  // of the element that ends
    for (Sequence& s : sequences_) {
        if (s.matched == depth) s.matched = depth - 1;
    }
}

void SubsetMatcher::finish() const {
    if (duplicate_) {
        throw Exception(13006, Format("More than one element with ID %S", duplicate_->c_str()));
    }
    auto check = [this](const C14n::DocumentSubset::Choices::Locator& l) {
        if (l.steps.empty()) {
            if (!ids_.find(l.id)->second.found) {
                throw Exception(13006, Format("No element with ID %S", l.id.c_str()));
            }
            return;
        }
        for (const Sequence& s : sequences_) {
            if (s.locator == &l && !s.found) {
                throw Exception(13006, Format("No element at child sequence %S",
                                              sequenceText(l.steps).c_str()));
            }
        }
    };
    if (choices_.hasApex) check(choices_.apex);
    for (const C14n::DocumentSubset::Choices::Locator& l : choices_.excluded) check(l);
}

}  // namespace internal

namespace C14n {

namespace {

DocumentSubset::Choices::Locator sequence(const unsigned int* steps, unsigned int count) {
    DocumentSubset::Choices::Locator l;
    l.steps.assign(steps, steps + count);
    return l;
}

DocumentSubset::Choices::Locator byId(const XMLCh* id) {
    DocumentSubset::Choices::Locator l;
    l.id = id;
    return l;
}

}  // namespace

DocumentSubset::DocumentSubset() : choices_(new Choices) {}

DocumentSubset::~DocumentSubset() { delete choices_; }

void DocumentSubset::apex(const unsigned int* steps, unsigned int count) {
    choices_->hasApex = steps && count;
    choices_->apex = choices_->hasApex ? sequence(steps, count) : Choices::Locator();
}

void DocumentSubset::apexId(const XMLCh* id) {
    choices_->hasApex = id != nullptr;
    choices_->apex = id ? byId(id) : Choices::Locator();
}

void DocumentSubset::exclude(const unsigned int* steps, unsigned int count) {
    if (steps && count) choices_->excluded.push_back(sequence(steps, count));
}

void DocumentSubset::excludeId(const XMLCh* id) {
    if (id) choices_->excluded.push_back(byId(id));
}

void DocumentSubset::excludeSignatures(bool exclude) { choices_->signatures = exclude; }

bool DocumentSubset::excludeSignatures() const { return choices_->signatures; }

void DocumentSubset::idAttribute(const XMLCh* namespaceURI, const XMLCh* localName) {
    choices_->idAttributes.emplace_back(namespaceURI ? namespaceURI : u"",
                                        localName ? localName : u"");
}

// The document is walked as the XPath data model sees it, every element matched.
NodeSet* DocumentSubset::nodeSet(DOMDocument* document) const {
    internal::SubsetMatcher matcher(*choices_);
    DOMNode* apex = nullptr;
    NodeHashSet excluded(4);
    internal::Walker<internal::NoData, true> walk(document);
    walk.descend();
    while (walk.next()) {
        DOMNode* node = walk.node();
        if (node->getNodeType() != DOMNode::ELEMENT_NODE) continue;
        if (!walk.entering()) {
            matcher.endElement();
            continue;
        }
        matcher.startElement(node->getNamespaceURI(), node->getLocalName());
        if (matcher.seeksIds()) {
            xercesc::DOMNamedNodeMap* attributes = node->getAttributes();
            for (XMLSize_t i = 0, n = attributes->getLength(); i < n; ++i) {
                DOMAttr* a = static_cast<DOMAttr*>(attributes->item(i));
                if (a->isId() || matcher.holdsIds(a->getNamespaceURI(), a->getLocalName())) {
                    matcher.idValue(internal::attributeValue(a));
                }
            }
        }
        if (matcher.apex() && !apex) apex = node;
        if (matcher.excluded()) excluded.insert(node);
        if (!walk.descend()) matcher.endElement();
    }
    matcher.finish();

    std::unique_ptr<NodeSet::Filter> filter;
    if (apex) filter.reset(new NodeTreeFilter(apex));
    if (excluded.size()) {
        std::unique_ptr<NodeSet::Filter> notExcluded(new NotFilter(new NodeTreeFilter(excluded)));
        filter.reset(filter ? new AndFilter(filter.release(), notExcluded.release())
                            : notExcluded.release());
    }
    return new NodeSet(document, filter.release(), nullptr, false);
}

}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite
