#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>
#include <ambrite/xml/xpath.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>

#include "foundation/internal.h"
#include "xpath/internal.h"

namespace Ambrite {
namespace XML {

using internal::OwnedIterator;
using internal::OwnedString;

namespace {

enum Id {
    POSITION = 1,
    COUNT,
    STRING_LENGTH,
    NUMBER,
    SUM,
    FLOOR,
    CEILING,
    ROUND,
    ID,
    LOCAL_NAME,
    NAMESPACE_URI,
    NAME,
    STRING,
    CONCAT,
    SUBSTRING_BEFORE,
    SUBSTRING_AFTER,
    SUBSTRING,
    NORMALIZE_SPACE,
    TRANSLATE,
    STARTS_WITH,
    CONTAINS,
    BOOLEAN,
    NOT,
    TRUE,
    FALSE,
    LANG
};

XPath::Type resultType(int id) {
    if (id <= ROUND) return XPath::NUMBER;
    if (id == ID) return XPath::NODE_SET;
    if (id <= TRANSLATE) return XPath::STRING;
    return XPath::BOOLEAN;
}

// The arguments of one call, evaluated on demand with the call's context.
struct Call {
    const std::vector<XPath*>& args;
    DOMNode* node;
    unsigned int position;
    const XPath::BindingMap& bindings;

    // Never null: a null string counts as empty.
    OwnedString string(std::size_t i) const {
        XMLCh* s = args[i]->string(node, position, bindings);
        return OwnedString(s ? s : StringUtil::dup(u""));
    }
    double number(std::size_t i) const { return args[i]->number(node, position, bindings); }
    bool boolean(std::size_t i) const { return args[i]->boolean(node, position, bindings); }
    OwnedIterator nodeSet(std::size_t i) const {
        return OwnedIterator(args[i]->nodeSet(node, position, bindings));
    }
    // The context node, or the first node of the argument in document order (null if none).
    DOMNode* subject() const {
        if (args.empty()) return node;
        internal::NodeStream nodes(args[0], node, position, bindings);
        return internal::firstInOrder(nodes.get());
    }
};

// Distinct nodes of a stream, counted without touching the heap for small sets.
unsigned int countDistinct(XPath::Iterator* it) {
    if (internal::distinctNodes(it)) return static_cast<StepIterator*>(it)->count();
    DOMNode* small[32];
    std::vector<DOMNode*> large;
    std::size_t n = 0;
    while (it->hasNext()) {
        DOMNode* node = it->next();
        if (n < 32) {
            small[n++] = node;
            continue;
        }
        if (large.empty()) large.assign(small, small + 32);
        large.push_back(node);
    }
    DOMNode** begin = large.empty() ? small : large.data();
    DOMNode** end = large.empty() ? small + n : large.data() + large.size();
    std::sort(begin, end);
    return static_cast<unsigned int>(std::unique(begin, end) - begin);
}

bool namedXmlns(DOMNode* attribute) { return StringUtil::eq(attribute->getNodeName(), u"xmlns"); }

bool namedXmlnsPrefix(DOMNode* attribute) {
    return StringUtil::ncmp(attribute->getNodeName(), u"xmlns:", 6) == 0;
}

const XMLCh* orEmpty(const XMLCh* s) { return s ? s : u""; }

const XMLCh* localName(DOMNode* n) {
    switch (n->getNodeType()) {
        case DOMNode::ATTRIBUTE_NODE:
            return namedXmlns(n) ? u"" : orEmpty(n->getLocalName());
        case DOMNode::PROCESSING_INSTRUCTION_NODE:
            return n->getNodeName();
        default:
            return orEmpty(n->getLocalName());
    }
}

const XMLCh* namespaceURI(DOMNode* n) {
    if (n->getNodeType() == DOMNode::ATTRIBUTE_NODE && (namedXmlns(n) || namedXmlnsPrefix(n))) {
        return u"";
    }
    return orEmpty(n->getNamespaceURI());
}

const XMLCh* qualifiedName(DOMNode* n) {
    switch (n->getNodeType()) {
        case DOMNode::ATTRIBUTE_NODE:
            if (namedXmlns(n)) return u"";
            if (namedXmlnsPrefix(n)) return n->getNodeName() + 6;
            return n->getNodeName();
        case DOMNode::ELEMENT_NODE:
        case DOMNode::PROCESSING_INSTRUCTION_NODE:
            return n->getNodeName();
        default:
            return u"";
    }
}

XMLCh lower(XMLCh c) { return c >= u'A' && c <= u'Z' ? static_cast<XMLCh>(c + 32) : c; }

// The nearest xml:lang of n or its ancestors is `language`, or a sublanguage of it.
bool lang(DOMNode* n, const XMLCh* language) {
    static const XMLCh kXmlNamespace[] = u"http://www.w3.org/XML/1998/namespace";
    for (; n; n = DOMUtil::getParentNode(n)) {
        if (n->getNodeType() != DOMNode::ELEMENT_NODE) continue;
        DOMElement* e = static_cast<DOMElement*>(n);
        DOMNode* a = e->getAttributeNodeNS(kXmlNamespace, u"lang");
        if (!a) a = e->getAttributeNode(u"xml:lang");
        if (!a) continue;
        const XMLCh* value = internal::attributeValue(a);
        std::size_t i = 0;
        for (; language[i]; ++i) {
            if (lower(value[i]) != lower(language[i])) return false;
        }
        return value[i] == 0 || value[i] == u'-';
    }
    return false;
}

// Indexes come from rounded positions: negative, NaN and infinite values are clamped here.
std::size_t clampIndex(double x, std::size_t length) {
    if (!(x > 0)) return 0;
    if (x > static_cast<double>(length)) return length;
    return static_cast<std::size_t>(x);
}

XMLCh* substring(const Call& c) {
    OwnedString s(c.string(0));
    const std::size_t length = internal::length(s.get());
    const double start = internal::roundHalfUp(c.number(1)) - 1;
    const double end = c.args.size() == 3 ? start + internal::roundHalfUp(c.number(2)) : INFINITY;
    if (std::isnan(start) || std::isnan(end) || end < start) return StringUtil::dup(u"");
    const std::size_t first = clampIndex(start, length);
    const std::size_t last = std::max(first, clampIndex(end, length));
    return internal::dupString(s.get() + first, last - first);
}

// Whitespace runs become one space, none is kept at either end; rewritten in place.
XMLCh* normalizeSpace(XMLCh* s) {
    XMLCh* out = s;
    bool pending = false;
    for (const XMLCh* p = s; *p; ++p) {
        if (XPathTokenizer::isWhitespace(*p)) {
            pending = out != s;
            continue;
        }
        if (pending) *out++ = u' ';
        pending = false;
        *out++ = *p;
    }
    *out = 0;
    return s;
}

XMLCh* translate(XMLCh* s, const XMLCh* from, const XMLCh* to) {
    const std::size_t toLength = internal::length(to);
    XMLCh* out = s;
    for (const XMLCh* p = s; *p; ++p) {
        const XMLCh* found = StringUtil::find(from, *p);
        if (!found) {
            *out++ = *p;
        } else if (static_cast<std::size_t>(found - from) < toLength) {
            *out++ = to[found - from];
        }
    }
    *out = 0;
    return s;
}

XPath::Iterator* elementsById(const Call& c) {
    std::u16string text;
    if (c.args[0]->type(c.bindings) == XPath::NODE_SET) {
        OwnedIterator it(c.nodeSet(0));
        // Each node's value is a separate list of tokens.
        while (it->hasNext()) {
            internal::appendStringValue(it->next(), text);
            text += u' ';
        }
    } else {
        OwnedString s(c.string(0));
        text = s.get();
    }
    DOMDocument* document = DOMUtil::getOwnerDocument(c.node);
    std::vector<DOMNode*> found;
    std::u16string token;
    for (std::size_t i = 0; i < text.size();) {
        while (i < text.size() && XPathTokenizer::isWhitespace(text[i])) ++i;
        std::size_t begin = i;
        while (i < text.size() && !XPathTokenizer::isWhitespace(text[i])) ++i;
        if (i == begin || !document) continue;
        token.assign(text, begin, i - begin);
        if (DOMElement* e = document->getElementById(token.c_str())) found.push_back(e);
    }
    return new BasicIterator(found);
}

}  // namespace

#define AMXML_FUNCTION(id, name) BaseFunction(id, u##name)
const BaseFunction BaseFunction::library_[26] = {
    AMXML_FUNCTION(POSITION, "position"),
    AMXML_FUNCTION(COUNT, "count"),
    AMXML_FUNCTION(STRING_LENGTH, "string-length"),
    AMXML_FUNCTION(NUMBER, "number"),
    AMXML_FUNCTION(SUM, "sum"),
    AMXML_FUNCTION(FLOOR, "floor"),
    AMXML_FUNCTION(CEILING, "ceiling"),
    AMXML_FUNCTION(ROUND, "round"),
    AMXML_FUNCTION(ID, "id"),
    AMXML_FUNCTION(LOCAL_NAME, "local-name"),
    AMXML_FUNCTION(NAMESPACE_URI, "namespace-uri"),
    AMXML_FUNCTION(NAME, "name"),
    AMXML_FUNCTION(STRING, "string"),
    AMXML_FUNCTION(CONCAT, "concat"),
    AMXML_FUNCTION(SUBSTRING_BEFORE, "substring-before"),
    AMXML_FUNCTION(SUBSTRING_AFTER, "substring-after"),
    AMXML_FUNCTION(SUBSTRING, "substring"),
    AMXML_FUNCTION(NORMALIZE_SPACE, "normalize-space"),
    AMXML_FUNCTION(TRANSLATE, "translate"),
    AMXML_FUNCTION(STARTS_WITH, "starts-with"),
    AMXML_FUNCTION(CONTAINS, "contains"),
    AMXML_FUNCTION(BOOLEAN, "boolean"),
    AMXML_FUNCTION(NOT, "not"),
    AMXML_FUNCTION(TRUE, "true"),
    AMXML_FUNCTION(FALSE, "false"),
    AMXML_FUNCTION(LANG, "lang"),
};
#undef AMXML_FUNCTION

BaseFunction::BaseFunction(int id, const XMLCh* name)
    : Function(resultType(id)), id_(id), name_(name) {}

BaseFunction::~BaseFunction() {}

const BaseFunction* BaseFunction::lookup(const XMLCh* name) {
    for (const BaseFunction& f : library_) {
        if (StringUtil::eq(f.name_, name)) return &f;
    }
    return nullptr;
}

const BaseFunction* BaseFunction::idFunction() { return &library_[ID - 1]; }

void BaseFunction::checkArguments(const std::vector<XPath*>& args, std::size_t min,
                                  std::size_t max) const {
    if (args.size() < min || args.size() > max) {
        throw Exception(14, Format("Invalid arguments to: %S()", name_));
    }
}

double BaseFunction::number(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                            const XPath::BindingMap& bindings) const {
    const Call c = {args, node, position, bindings};
    switch (id_) {
        case POSITION:
            checkArguments(args, 0, 0);
            return position;
        case COUNT: {
            checkArguments(args, 1, 1);
            internal::NodeStream nodes(args[0], node, position, bindings);
            return countDistinct(nodes.get());
        }
        case STRING_LENGTH: {
            checkArguments(args, 1, 1);
            OwnedString s(c.string(0));
            return static_cast<double>(internal::length(s.get()));
        }
        case NUMBER:
            checkArguments(args, 1, 1);
            return c.number(0);
        case SUM: {
            checkArguments(args, 1, 1);
            internal::NodeStream nodes(args[0], node, position, bindings);
            XPath::Iterator* it = nodes.get();
            double sum = 0;
            if (internal::distinctNodes(it)) {
                while (it->hasNext()) sum += XPathUtil::number(it->next());
                return sum;
            }
            NodeHashSet seen;
            while (it->hasNext()) {
                DOMNode* n = it->next();
                if (seen.contains(n)) continue;
                seen.insert(n);
                sum += XPathUtil::number(n);
            }
            return sum;
        }
        case FLOOR:
            checkArguments(args, 1, 1);
            return std::floor(c.number(0));
        case CEILING:
            checkArguments(args, 1, 1);
            return std::ceil(c.number(0));
        case ROUND: {
            checkArguments(args, 1, 1);
            const double d = c.number(0);
            if (d <= 0 && d >= -0.5) return 0.0;  // negative zero too
            return internal::roundHalfUp(d);
        }
        default:
            return Function::number(args, node, position, bindings);
    }
}

XPath::Iterator* BaseFunction::nodeSet(const std::vector<XPath*>& args, DOMNode* node,
                                       unsigned int position,
                                       const XPath::BindingMap& bindings) const {
    if (id_ != ID) return Function::nodeSet(args, node, position, bindings);
    checkArguments(args, 1, 1);
    return elementsById(Call{args, node, position, bindings});
}

XMLCh* BaseFunction::string(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                            const XPath::BindingMap& bindings) const {
    const Call c = {args, node, position, bindings};
    switch (id_) {
        case LOCAL_NAME:
        case NAMESPACE_URI:
        case NAME: {
            checkArguments(args, 0, 1);
            DOMNode* n = c.subject();
            if (!n) return StringUtil::dup(u"");
            return StringUtil::dup(id_ == LOCAL_NAME      ? localName(n)
                                   : id_ == NAMESPACE_URI ? namespaceURI(n)
                                                          : qualifiedName(n));
        }
        case STRING:
            checkArguments(args, 1, 1);
            return c.string(0).release();
        case CONCAT: {
            checkArguments(args, 2, UINT_MAX);
            StringBuffer buffer(128);
            for (std::size_t i = 0; i < args.size(); ++i) buffer.append(c.string(i).get());
            return buffer.release();
        }
        case SUBSTRING_BEFORE:
        case SUBSTRING_AFTER: {
            checkArguments(args, 2, 2);
            OwnedString s(c.string(0)), separator(c.string(1));
            const XMLCh* found = StringUtil::find(s.get(), separator.get());
            if (!found) return StringUtil::dup(u"");
            if (id_ == SUBSTRING_BEFORE) return internal::dupString(s.get(), found - s.get());
            return StringUtil::dup(found + internal::length(separator.get()));
        }
        case SUBSTRING:
            checkArguments(args, 2, 3);
            return substring(c);
        case NORMALIZE_SPACE: {
            checkArguments(args, 0, 1);
            OwnedString s(args.empty() ? XPathUtil::string(node) : c.string(0).release());
            return s ? normalizeSpace(s.release()) : StringUtil::dup(u"");
        }
        case TRANSLATE: {
            checkArguments(args, 3, 3);
            OwnedString s(c.string(0)), from(c.string(1)), to(c.string(2));
            return translate(s.release(), from.get(), to.get());
        }
        default:
            return Function::string(args, node, position, bindings);
    }
}

bool BaseFunction::boolean(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                           const XPath::BindingMap& bindings) const {
    const Call c = {args, node, position, bindings};
    switch (id_) {
        case STARTS_WITH:
        case CONTAINS: {
            checkArguments(args, 2, 2);
            OwnedString s(c.string(0)), part(c.string(1));
            if (id_ == CONTAINS) return StringUtil::find(s.get(), part.get()) != nullptr;
            return StringUtil::ncmp(s.get(), part.get(), StringUtil::length(part.get())) == 0;
        }
        case BOOLEAN:
            checkArguments(args, 1, 1);
            return c.boolean(0);
        case NOT:
            checkArguments(args, 1, 1);
            return !c.boolean(0);
        case TRUE:
        case FALSE:
            checkArguments(args, 0, 0);
            return id_ == TRUE;
        case LANG: {
            checkArguments(args, 1, 1);
            OwnedString language(c.string(0));
            return lang(node, language.get());
        }
        default:
            return Function::boolean(args, node, position, bindings);
    }
}

}  // namespace XML
}  // namespace Ambrite
