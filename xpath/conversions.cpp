#include <ambrite/xml/xpath.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMText.hpp>

#include "foundation/internal.h"
#include "xpath/internal.h"

namespace Ambrite {
namespace XML {

namespace internal {

void evaluationError(const char* message) { throw Exception(14, message); }

AttributeKind attributeKind(DOMNode* attribute) {
    const XMLCh* name = attribute->getNodeName();
    if (name[0] != u'x' || StringUtil::ncmp(name, u"xmlns", 5) != 0) return ORDINARY_ATTRIBUTE;
    if (name[5] == u':') return NAMESPACE_DECLARATION;
    if (name[5] != 0) return ORDINARY_ATTRIBUTE;
    return *attributeValue(attribute) ? NAMESPACE_DECLARATION : EMPTY_DEFAULT_DECLARATION;
}

namespace {

bool isText(DOMNode::NodeType type) {
    return type == DOMNode::TEXT_NODE || type == DOMNode::CDATA_SECTION_NODE;
}

// The text below `root` in document order, through entity references.
void appendTextBelow(DOMNode* root, std::u16string& out) {
    Walker<NoData, true> walk(root);
    walk.descend();
    while (walk.next()) {
        if (!walk.entering()) continue;
        DOMNode* n = walk.node();
        const DOMNode::NodeType type = n->getNodeType();
        if (isText(type)) {
            out += static_cast<xercesc::DOMText*>(n)->getData();
        } else if (type == DOMNode::ELEMENT_NODE) {
            walk.descend();
        }
    }
}

}  // namespace

// Text under elements, and under entity references, whose content XPath sees in their place.
void appendStringValue(DOMNode* node, std::u16string& out) {
    switch (node->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
        case DOMNode::DOCUMENT_NODE:
            break;
        case DOMNode::ATTRIBUTE_NODE:
            out += attributeValue(node);
            return;
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE:
        case DOMNode::PROCESSING_INSTRUCTION_NODE:
        case DOMNode::COMMENT_NODE:
            if (const XMLCh* value = node->getNodeValue()) out += value;
            return;
        default:
            throw Exception(
                14, Format("Unhandled node: Type %d", static_cast<int>(node->getNodeType())));
    }
    // Most elements hold text only and need no walk (whose stack would be allocated).
    const std::size_t mark = out.size();
    for (DOMNode* c = node->getFirstChild(); c; c = c->getNextSibling()) {
        const DOMNode::NodeType type = c->getNodeType();
        if (isText(type)) {
            out += static_cast<xercesc::DOMText*>(c)->getData();
        } else if ((type == DOMNode::ELEMENT_NODE || type == DOMNode::ENTITY_REFERENCE_NODE) &&
                   c->getFirstChild()) {
            out.resize(mark);
            appendTextBelow(node, out);
            return;
        }
    }
}

double parseNumber(const XMLCh* s, std::size_t n) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::size_t i = 0;
    while (i < n && XPathTokenizer::isWhitespace(s[i])) ++i;
    const std::size_t begin = i;
    if (i < n && s[i] == u'-') ++i;
    const std::size_t digits = i;
    while (i < n && XPathTokenizer::isDigit(s[i])) ++i;
    if (i == digits) return nan;
    const std::size_t integerEnd = i;
    if (i < n && s[i] == u'.') {
        ++i;
        while (i < n && XPathTokenizer::isDigit(s[i])) ++i;
    }
    const std::size_t end = i;
    while (i < n && XPathTokenizer::isWhitespace(s[i])) ++i;
    if (i != n) return nan;

    char small[64];
    std::string large;
    char* text = small;
    if (end - begin > sizeof small) {
        large.resize(end - begin);
        text = &large[0];
    }
    for (std::size_t k = begin; k < end; ++k) text[k - begin] = static_cast<char>(s[k]);
    double value = 0;
    std::from_chars_result r = std::from_chars(text, text + (end - begin), value);
    if (r.ec == std::errc::result_out_of_range) {
        // Past the largest double, or a fraction below the smallest: the limits a correctly
        // rounding conversion reaches.
        bool big = false;
        for (std::size_t k = digits; k < integerEnd; ++k) big = big || s[k] != u'0';
        value = big ? std::numeric_limits<double>::infinity() : 0.0;
        if (s[begin] == u'-') value = -value;
    }
    return value;
}

std::size_t formatNumber(double d, XMLCh* out) {
    const char* named = nullptr;
    if (std::isnan(d)) {
        named = "NaN";
    } else if (std::isinf(d)) {
        named = d > 0 ? "Infinity" : "-Infinity";
    } else if (d == 0) {
        named = "0";
    }
    std::size_t n = 0;
    if (named) {
        while (named[n]) {
            out[n] = static_cast<XMLCh>(named[n]);
            ++n;
        }
        out[n] = 0;
        return n;
    }
    // The shortest digits that read back as d, then written out without an exponent.
    char buffer[40];
    std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::scientific);
    *r.ptr = 0;
    const char* p = buffer;
    if (*p == '-') {
        out[n++] = u'-';
        ++p;
    }
    char digits[20];
    int count = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits[count++] = *p;
    }
    const int exponent = std::atoi(p + 1);
    if (exponent < 0) {
        out[n++] = u'0';
        out[n++] = u'.';
        for (int z = -1; z > exponent; --z) out[n++] = u'0';
        for (int k = 0; k < count; ++k) out[n++] = static_cast<XMLCh>(digits[k]);
    } else {
        for (int k = 0; k < count || k <= exponent; ++k) {
            if (k == exponent + 1) out[n++] = u'.';
            out[n++] = k < count ? static_cast<XMLCh>(digits[k]) : u'0';
        }
    }
    out[n] = 0;
    return n;
}

double roundHalfUp(double d) {
    double f = std::floor(d);
    if (f == d || std::isnan(d)) return d;
    return d - f >= 0.5 ? f + 1 : f;
}

}  // namespace internal

bool XPathUtil::boolean(double d) { return d != 0 && !std::isnan(d); }

bool XPathUtil::boolean(const XMLCh* s) { return *s != 0; }

bool XPathUtil::boolean(XPath::Iterator* it) { return it->hasNext(); }

double XPathUtil::number(bool b) { return b ? 1.0 : 0.0; }

double XPathUtil::number(const XMLCh* s) { return internal::parseNumber(s, internal::length(s)); }

double XPathUtil::number(XPath::Iterator* it) {
    internal::OwnedString s(string(it));
    return number(s.get());
}

double XPathUtil::number(DOMNode* node) {
    if (node && node->getNodeType() == DOMNode::ATTRIBUTE_NODE) {
        const XMLCh* value = internal::attributeValue(node);
        return internal::parseNumber(value, internal::length(value));
    }
    std::u16string value;
    if (node) internal::appendStringValue(node, value);
    return internal::parseNumber(value.data(), value.size());
}

XMLCh* XPathUtil::string(bool b) { return StringUtil::dup(b ? u"true" : u"false"); }

XMLCh* XPathUtil::string(double d) {
    XMLCh text[internal::kNumberUnits];
    return internal::dupString(text, internal::formatNumber(d, text));
}

XMLCh* XPathUtil::string(XPath::Iterator* it) { return string(internal::firstInOrder(it)); }

XMLCh* XPathUtil::string(DOMNode* node) {
    if (!node) return StringUtil::dup(u"");
    switch (node->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
        case DOMNode::DOCUMENT_NODE:
            break;
        case DOMNode::ATTRIBUTE_NODE:
            return StringUtil::dup(internal::attributeValue(node));
        default:
            if (internal::isVisible(node)) return StringUtil::dup(node->getNodeValue());
            break;
    }
    std::u16string value;
    internal::appendStringValue(node, value);
    return internal::dupString(value.data(), value.size());
}

XPath::Iterator* XPathUtil::nodeSet(const std::vector<DOMNode*>& nodes) {
    return new BasicIterator(nodes);
}

XPath::Iterator* XPathUtil::documentOrder(XPath::Iterator* source) {
    return new OrderedIterator(source);
}

}  // namespace XML
}  // namespace Ambrite
