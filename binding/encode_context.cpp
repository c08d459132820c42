#include <ambrite/xml/binding.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <utility>
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

const XMLCh kXmlns[] = u"xmlns";
const XMLCh kX[] = u"x";
const XMLCh kEmpty[] = u"";
constexpr XMLCh kBase64[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// A line feed followed by 0 to 16 spaces: the indentation strings that are never allocated.
struct IndentTable {
    XMLCh text[17][18];
    constexpr IndentTable() : text() {
        for (int n = 0; n < 17; ++n) {
            text[n][0] = u'\n';
            for (int i = 1; i <= n; ++i) text[n][i] = u' ';
        }
    }
};
constexpr IndentTable kIndents;

// The indentation strings of one finish step: the constants, and beyond them one buffer of
// spaces whose terminator moves to the length asked for.
class Indents {
public:
    Indents() : buffer_(nullptr), capacity_(0), end_(0) {}
    ~Indents() {
        if (buffer_) utfree(buffer_);
    }
    Indents(const Indents&) = delete;
    Indents& operator=(const Indents&) = delete;

    const XMLCh* get(int n) {
        if (n < 0) n = 0;
        if (n <= 16) return kIndents.text[n];
        const std::size_t size = static_cast<std::size_t>(n);
        if (size > capacity_) {
            XMLCh* buffer = static_cast<XMLCh*>(internal::checkedAlloc((size + 2) * sizeof(XMLCh)));
            buffer[0] = u'\n';
            std::fill(buffer + 1, buffer + size + 1, u' ');
            if (buffer_) utfree(buffer_);
            buffer_ = buffer;
            capacity_ = size;
        } else {
            buffer_[end_] = u' ';
        }
        end_ = size + 1;
        buffer_[end_] = 0;
        return buffer_;
    }

private:
    XMLCh* buffer_;
    std::size_t capacity_;
    std::size_t end_;
};

int saturated(long long value) {
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// A prefix-and-local name assembled on the stack when it is short, as it nearly always is.
class Name {
public:
    Name(const XMLCh* prefix, const XMLCh* localName) : text_(inline_) {
        if (!prefix) {
            text_ = const_cast<XMLCh*>(localName);
            return;
        }
        const std::size_t p = internal::length(prefix), l = internal::length(localName);
        if (p + l + 2 > sizeof inline_ / sizeof inline_[0]) {
            heap_.reset(static_cast<XMLCh*>(internal::checkedAlloc((p + l + 2) * sizeof(XMLCh))));
            text_ = heap_.get();
        }
        std::memcpy(text_, prefix, p * sizeof(XMLCh));
        text_[p] = u':';
        std::memcpy(text_ + p + 1, localName, l * sizeof(XMLCh));
        text_[p + l + 1] = 0;
    }
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;
    operator const XMLCh*() const { return text_; }

private:
    XMLCh inline_[64];
    OwnedString heap_;
    XMLCh* text_;
};

const XMLCh* prefixOf(const DOMNode* node) {
    const XMLCh* prefix = node->getPrefix();
    return prefix && *prefix ? prefix : nullptr;
}

// Whether `element` binds `prefix` (null: the default namespace), and to what: its own prefix
// first, then its attributes in index order, the first match deciding.
bool binds(const DOMElement* element, const XMLCh* prefix, const XMLCh** uri) {
    if (StringUtil::eq(prefixOf(element), prefix)) {
        *uri = element->getNamespaceURI();
        return true;
    }
    const xercesc::DOMNamedNodeMap* attributes = element->getAttributes();
    const XMLSize_t n = attributes ? attributes->getLength() : 0;
    for (XMLSize_t i = 0; i < n; ++i) {
        const DOMNode* a = attributes->item(i);
        if (prefix) {
            const XMLCh* p = prefixOf(a);
            if (StringUtil::eq(p, prefix)) {
                *uri = a->getNamespaceURI();
                return true;
            }
            if (StringUtil::eq(p, kXmlns) && StringUtil::eq(a->getLocalName(), prefix)) {
                *uri = a->getNodeValue();
                return true;
            }
        } else if (StringUtil::eq(a->getNodeName(), kXmlns)) {
            const XMLCh* value = a->getNodeValue();
            *uri = value && *value ? value : nullptr;
            return true;
        }
    }
    return false;
}

// Whether some element from `node` upwards binds `prefix`; *uri receives the binding.
bool bindsInScope(DOMNode* node, const XMLCh* prefix, const XMLCh** uri) {
    for (; node; node = node->getParentNode()) {
        if (node->getNodeType() == DOMNode::ELEMENT_NODE &&
            binds(static_cast<const DOMElement*>(node), prefix, uri)) {
            return true;
        }
    }
    return false;
}

void declare(DOMElement* element, const XMLCh* prefix, const XMLCh* namespaceURI) {
    Name name(prefix ? kXmlns : nullptr, prefix ? prefix : kXmlns);
    element->setAttributeNS(xercesc::XMLUni::fgXMLNSURIName, name,
                            namespaceURI ? namespaceURI : kEmpty);
}

bool contains(const std::vector<DOMNode*>& nodes, const DOMNode* node) {
    return std::find(nodes.begin(), nodes.end(), node) != nodes.end();
}

// Whether the walk up from `anchor`, stopping on reaching `limit`, meets a node of `covered`.
bool inside(DOMNode* anchor, const std::vector<DOMNode*>& covered, const DOMNode* limit) {
    for (DOMNode* n = anchor; n && n != limit; n = DOMUtil::getParentNode(n)) {
        if (contains(covered, n)) return true;
    }
    return false;
}

// The Base64 characters of every 12-bit value, two per entry, so that a group of three bytes
// takes two look-ups and two four-byte copies.
struct PairTable {
    XMLCh pair[4096][2];
    constexpr PairTable() : pair() {
        for (int v = 0; v < 4096; ++v) {
            pair[v][0] = kBase64[v >> 6];
            pair[v][1] = kBase64[v & 63];
        }
    }
};
constexpr PairTable kPairs;

XMLCh* encodeGroups(XMLCh* out, const unsigned char* in, std::size_t groups) {
    for (std::size_t g = 0; g < groups; ++g, in += 3, out += 4) {
        const unsigned v = (unsigned(in[0]) << 16) | (unsigned(in[1]) << 8) | in[2];
        std::memcpy(out, kPairs.pair[v >> 12], 2 * sizeof(XMLCh));
        std::memcpy(out + 2, kPairs.pair[v & 4095], 2 * sizeof(XMLCh));
    }
    return out;
}

XMLCh* encodeLast(XMLCh* out, const unsigned char* in, std::size_t bytes) {
    const unsigned v = (unsigned(in[0]) << 16) | (bytes == 2 ? unsigned(in[1]) << 8 : 0);
    out[0] = kBase64[v >> 18];
    out[1] = kBase64[(v >> 12) & 63];
    out[2] = bytes == 2 ? kBase64[(v >> 6) & 63] : u'=';
    out[3] = u'=';
    return out + 4;
}

XMLCh* lineBreak(XMLCh* out, std::size_t indent) {
    *out++ = u'\n';
    std::fill(out, out + indent, u' ');
    return out + indent;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Callbacks

EncodeContext::Callback::~Callback() {}

int EncodeContext::Callback::cmp(const Callback* other) const {
    if (covered_.empty()) return other->covered_.empty() ? 0 : -1;
    if (other->covered_.empty()) return 1;
    if (tag_ && contains(other->follows_, tag_)) return -1;
    if (other->tag_ && contains(follows_, other->tag_)) return 1;
    const bool x = inside(anchor_, other->covered_, other->limit_);
    const bool y = inside(other->anchor_, covered_, limit_);
    if (x != y) return x ? -1 : 1;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The context

EncodeContext::EncodeContext()
    : Context(ENCODE),
      indentationBase_(-1),
      indentationStep_(0),
      superIndentation_(false),
      root_(nullptr) {}

EncodeContext::~EncodeContext() {
    for (auto it = namespacePrefixes_.begin(); it != namespacePrefixes_.end(); ++it) {
        if (it->key) utfree(it->key);
        utfree(it->value);
    }
    for (Callback* c : callbacks_) delete c;
}

void EncodeContext::indentation(int base, int step, bool superIndentation) {
    indentationBase_ = base;
    indentationStep_ = step;
    superIndentation_ = superIndentation;
}

int EncodeContext::indentation(DOMNode* node) const {
    if (indentationBase_ < 0) return -1;
    long long n = indentationBase_;
    for (; node && node != root_; node = node->getParentNode()) n += indentationStep_;
    return saturated(n);
}

void EncodeContext::namespacePrefix(const XMLCh* namespaceURI, const XMLCh* prefix) {
    auto it = namespacePrefixes_.find(const_cast<XMLCh*>(namespaceURI));
    if (!prefix) {
        if (it == namespacePrefixes_.end()) return;
        if (it->key) utfree(it->key);
        utfree(it->value);
        namespacePrefixes_.erase(it);
        return;
    }
    OwnedString value(StringUtil::dup(prefix));
    if (it != namespacePrefixes_.end()) {
        utfree(it->value);
        it->value = value.release();
        return;
    }
    OwnedString key(StringUtil::dup(namespaceURI));
    namespacePrefixes_.insert(PrefixMap::Pair(key.get(), value.get()));
    key.release();
    value.release();
}

void EncodeContext::callback(Callback* callback) {
    try {
        callbacks_.push_back(callback);
    } catch (...) {
        delete callback;
        throw;
    }
}

DOMElement* EncodeContext::createElement(DOMNode* parent, DOMNode* before,
                                         const XMLCh* namespaceURI, const XMLCh* localName) {
    if (namespaceURI && !*namespaceURI) namespaceURI = nullptr;
    DOMDocument* document = parent->getNodeType() == DOMNode::DOCUMENT_NODE
                                ? static_cast<DOMDocument*>(parent)
                                : parent->getOwnerDocument();
    // An element in no namespace cannot carry a prefix, whatever the table says for "no URI".
    const XMLCh* prefix = nullptr;
    if (namespaceURI) {
        auto it = namespacePrefixes_.find(const_cast<XMLCh*>(namespaceURI));
        if (it != namespacePrefixes_.end()) prefix = it->value;
    }
    DOMElement* element = document->createElementNS(namespaceURI, Name(prefix, localName));
    parent->insertBefore(element, before);
    const XMLCh* inScope = nullptr;
    bindsInScope(parent, prefix, &inScope);
    if (!StringUtil::eq(inScope, namespaceURI)) declare(element, prefix, namespaceURI);
    if (!root_) root_ = element;
    if (indentationBase_ >= 0) created_.push_back(element);
    return element;
}

DOMAttr* EncodeContext::createAttribute(DOMElement* element, const XMLCh* namespaceURI,
                                        const XMLCh* localName) {
    if (namespaceURI && !*namespaceURI) namespaceURI = nullptr;
    const XMLCh* prefix = nullptr;
    XMLCh generated[16];
    if (namespaceURI) {
        auto it = namespacePrefixes_.find(const_cast<XMLCh*>(namespaceURI));
        prefix = it != namespacePrefixes_.end() ? it->value : kX;
        const XMLCh* bound = nullptr;
        bool usable = false;
        for (unsigned counter = 0; binds(element, prefix, &bound); ++counter) {
            if (StringUtil::eq(bound, namespaceURI)) {
                usable = true;
                break;
            }
            // "x" and a decimal counter; the preferred prefix is not reused as a stem.
            XMLCh digits[12];
            int d = 0;
            unsigned v = counter;
            do {
                digits[d++] = static_cast<XMLCh>(u'0' + v % 10);
                v /= 10;
            } while (v);
            generated[0] = u'x';
            for (int i = 0; i < d; ++i) generated[i + 1] = digits[d - 1 - i];
            generated[d + 1] = 0;
            prefix = generated;
        }
        if (!usable) {
            if (!bindsInScope(element->getParentNode(), prefix, &bound) ||
                !StringUtil::eq(bound, namespaceURI)) {
                declare(element, prefix, namespaceURI);
            }
        }
    }
    DOMAttr* attribute =
        element->getOwnerDocument()->createAttributeNS(namespaceURI, Name(prefix, localName));
    element->setAttributeNodeNS(attribute);
    return attribute;
}

XMLCh* EncodeContext::createBase64String(const Block* data, unsigned int lineLength,
                                         DOMNode* node) const {
    const std::size_t n = data->length();
    if (n == 0) return internal::dupString(kEmpty, 0);
    long long indent = 0;
    if (lineLength != 0) {
        indent = static_cast<long long>(indentation(node)) + indentationStep_;
        if (indent < 0 && indentationStep_ >= 0) indent = 0;
    }
    const std::size_t groups = (n + 2) / 3;
    const std::size_t encoded = groups * 4;
    std::size_t width = lineLength != 0 && indent >= 0 ? lineLength : encoded;
    width = (width + 3) / 4 * 4;
    const bool lines = indent >= 0 && 2 * encoded >= width;

    const std::size_t margin = lines ? static_cast<std::size_t>(indent) : 0;
    const std::size_t closing =
        lines ? static_cast<std::size_t>(std::max(0LL, indent - indentationStep_)) : 0;
    const std::size_t lineCount = lines ? (encoded + width - 1) / width : 0;
    // At most some 1.4e9 lines of 4.3e9 units: the sum stays far from overflowing 64 bits, and
    // checkedAlloc refuses what the allocator cannot take.
    const std::size_t size = encoded + lineCount * (1 + margin) + (lines ? 1 + closing : 0) + 1;
    XMLCh* result = static_cast<XMLCh*>(internal::checkedAlloc(size * sizeof(XMLCh)));

    XMLCh* out = result;
    const unsigned char* in = data->data();
    const std::size_t perLine = lines ? width / 4 : groups;
    const std::size_t last = n % 3;
    for (std::size_t left = groups; left;) {
        if (lines) out = lineBreak(out, margin);
        const std::size_t take = std::min(perLine, left);
        left -= take;
        // The final group of one or two bytes, with its padding, ends the last line.
        const std::size_t full = left == 0 && last ? take - 1 : take;
        out = encodeGroups(out, in, full);
        in += 3 * full;
        if (full != take) out = encodeLast(out, in, last);
    }
    if (lines) out = lineBreak(out, closing);
    *out = 0;
    return result;
}

void EncodeContext::callback(DOMNode* node) {
    if (!node || node != root_) return;
    if (indentationBase_ >= 0 && indentationStep_ >= 0) prettyPrint();
    created_.clear();
    for (Callback* c : callbacks_) c->prepare();
    std::vector<Callback*> order = ordered();
    // The callbacks are the run's from here on: each is deleted once it ran, and those left
    // when one fails are deleted unrun, so the context is ready for another run either way.
    // The root stays until the end, as callbacks lay out their text by it.
    callbacks_.clear();
    std::size_t i = 0;
    try {
        for (; i < order.size(); ++i) {
            std::unique_ptr<Callback> c(order[i]);
            order[i] = nullptr;
            c->run();
        }
    } catch (...) {
        for (; i < order.size(); ++i) delete order[i];
        root_ = nullptr;
        throw;
    }
    root_ = nullptr;
}

std::vector<EncodeContext::Callback*> EncodeContext::ordered() const {
    const std::size_t n = callbacks_.size();
    std::vector<Callback*> result;
    if (n == 0) return result;
    // before[i][j] set: callback i must run before callback j. Every pair is compared once,
    // the earlier against the later.
    std::unique_ptr<unsigned char, AMXMLDelete> table(
        static_cast<unsigned char*>(internal::checkedAlloc(n * n)));
    unsigned char* before = table.get();
    std::memset(before, 0, n * n);
    std::vector<std::size_t> waiting(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            const int c = callbacks_[i]->cmp(callbacks_[j]);
            if (c < 0) {
                before[i * n + j] = 1;
                ++waiting[j];
            } else if (c > 0) {
                before[j * n + i] = 1;
                ++waiting[i];
            }
        }
    }
    std::vector<std::size_t> queue;
    queue.reserve(n);
    for (std::size_t k = 0; k < n; ++k) {
        if (!waiting[k]) queue.push_back(k);
    }
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::size_t k = queue[head];
        for (std::size_t r = 0; r < n; ++r) {
            if (before[k * n + r]) {
                before[k * n + r] = 0;
                if (--waiting[r] == 0) queue.push_back(r);
            }
        }
    }
    if (queue.size() < n) throw Exception(6, "Dependency loop in callbacks");
    result.reserve(n);
    for (std::size_t k : queue) result.push_back(callbacks_[k]);
    return result;
}

void EncodeContext::prettyPrint() {
    DOMDocument* document = root_->getOwnerDocument();
    const int base = indentationBase_, step = indentationStep_;
    Indents indents;
    // The indentation of each created element, by creation index. Parents are created before
    // their children, so a child's is found from its parent's by one look-up instead of a walk
    // to the root: the whole layout takes time in proportion to the elements.
    const std::size_t count = created_.size();
    std::vector<std::pair<const DOMNode*, std::size_t>> index(count);
    for (std::size_t i = 0; i < count; ++i) index[i] = {created_[i], i};
    std::sort(index.begin(), index.end());
    std::vector<int> depth(count);
    for (std::size_t i = 0; i < count; ++i) {
        DOMElement* element = created_[i];
        DOMNode* parent = element->getParentNode();
        if (element == root_) {
            depth[i] = base;
        } else if (!parent || parent == root_) {
            depth[i] = saturated(static_cast<long long>(base) + step);
        } else {
            auto at = std::lower_bound(
                index.begin(), index.end(),
                std::make_pair(static_cast<const DOMNode*>(parent), std::size_t(0)));
            depth[i] = at != index.end() && at->first == parent && at->second < i
                           ? saturated(static_cast<long long>(depth[at->second]) + step)
                           : indentation(element);
        }
        DOMNode* first = element->getFirstChild();
        if (!first || first->getNodeType() != DOMNode::ELEMENT_NODE) continue;
        const int d = first == root_ ? base : saturated(static_cast<long long>(depth[i]) + step);
        for (DOMNode* child = first; child; child = child->getNextSibling()) {
            element->insertBefore(document->createTextNode(indents.get(d)), child);
        }
        element->appendChild(document->createTextNode(indents.get(d - step)));
    }
    DOMNode* parent = root_->getParentNode();
    if (!superIndentation_ || !parent || parent->getNodeType() != DOMNode::ELEMENT_NODE) return;
    DOMNode* previous = root_->getPreviousSibling();
    if (!previous || previous->getNodeType() == DOMNode::ELEMENT_NODE) {
        parent->insertBefore(document->createTextNode(indents.get(base)), root_);
    }
    DOMNode* next = root_->getNextSibling();
    if (!next) {
        parent->appendChild(document->createTextNode(indents.get(base - step)));
    } else if (next->getNodeType() == DOMNode::ELEMENT_NODE) {
        parent->insertBefore(document->createTextNode(indents.get(base)), next);
    }
}

}  // namespace XML
}  // namespace Ambrite
