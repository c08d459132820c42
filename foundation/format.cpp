#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <xercesc/dom/DOMNode.hpp>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

const XMLCh kNull[] = u"Null";
const XMLCh kTrue[] = u"true";
const XMLCh kFalse[] = u"false";

// The text under construction: a C-heap block that grows by doubling plus what is needed.
class Builder {
public:
    Builder()
        : text_(static_cast<XMLCh*>(internal::heapAlloc(128 * sizeof(XMLCh)))),
          length_(0),
          capacity_(128) {}
    ~Builder() { std::free(text_); }

    void reserve(std::size_t k) {
        if (length_ + k < capacity_) return;
        std::size_t capacity = 2 * capacity_ + k;
        XMLCh* text = static_cast<XMLCh*>(internal::heapAlloc(capacity * sizeof(XMLCh)));
        std::memcpy(text, text_, length_ * sizeof(XMLCh));
        std::free(text_);
        text_ = text;
        capacity_ = capacity;
    }
    void append(const XMLCh* s, std::size_t k) {
        reserve(k);
        std::memcpy(text_ + length_, s, k * sizeof(XMLCh));
        length_ += k;
    }
    void append(const XMLCh* s) { append(s, internal::length(s)); }
    void appendNarrow(const char* s, std::size_t k) {
        reserve(k);
        for (std::size_t i = 0; i < k; ++i) {
            text_[length_ + i] = static_cast<XMLCh>(static_cast<signed char>(s[i]));
        }
        length_ += k;
    }
    void appendUnit(XMLCh c) { append(&c, 1); }
    XMLCh* finish() {
        if (length_ + 1 >= capacity_) {
            std::size_t capacity = 2 * capacity_ + 1;
            XMLCh* text = static_cast<XMLCh*>(internal::heapAlloc(capacity * sizeof(XMLCh)));
            std::memcpy(text, text_, length_ * sizeof(XMLCh));
            std::free(text_);
            text_ = text;
            capacity_ = capacity;
        }
        text_[length_] = 0;
        XMLCh* text = text_;
        text_ = nullptr;
        return text;
    }

private:
    XMLCh* text_;
    std::size_t length_;
    std::size_t capacity_;
};

void appendNumber(Builder& b, const char* directive, int value) {
    char scratch[128];
    int n = std::snprintf(scratch, sizeof scratch, directive, value);
    if (n < 0) n = 0;
    if (n >= static_cast<int>(sizeof scratch)) n = sizeof scratch - 1;
    b.appendNarrow(scratch, static_cast<std::size_t>(n));
}

char narrowUnit(XMLCh c) { return c < 256 ? static_cast<char>(c) : '?'; }

}  // namespace

Format::Format(const char* format, ...) : text_(nullptr), narrow_(nullptr) {
    Builder b;
    std::va_list ap;
    va_start(ap, format);
    try {
        const char* p = format;
        while (*p) {
            const char* run = p;
            while (*p && *p != '%') ++p;
            if (p != run) b.appendNarrow(run, static_cast<std::size_t>(p - run));
            if (!*p) break;
            char directive = *++p;
            if (!directive) {
                b.appendUnit(u'?');
                break;
            }
            ++p;
            switch (directive) {
                case 'S':
                case 'W': {
                    const XMLCh* s = va_arg(ap, const XMLCh*);
                    b.append(s ? s : kNull);
                    break;
                }
                case 's':
                case 'w': {
                    const char* s = va_arg(ap, const char*);
                    if (s)
                        b.appendNarrow(s, std::strlen(s));
                    else
                        b.append(kNull);
                    break;
                }
                case 'X': {
                    const DOMNode* node = va_arg(ap, const DOMNode*);
                    const XMLCh* name = node ? node->getNodeName() : nullptr;
                    b.append(name ? name : kNull);
                    break;
                }
                case 'b':
                    b.append(va_arg(ap, int) ? kTrue : kFalse);
                    break;
                case 'd':
                    appendNumber(b, "%d", va_arg(ap, int));
                    break;
                case 'x':
                    appendNumber(b, "%x", va_arg(ap, int));
                    break;
                case 'c':
                    appendNumber(b, "%c", va_arg(ap, int));
                    break;
                case '%':
                    b.appendUnit(u'%');
                    break;
                default:
                    b.appendUnit(u'?');
                    break;
            }
        }
    } catch (...) {
        va_end(ap);
        throw;
    }
    va_end(ap);
    text_ = b.finish();
}

Format::Format(const Format& other) : text_(nullptr), narrow_(nullptr) {
    std::size_t n = internal::length(other.text_) + 1;
    text_ = static_cast<XMLCh*>(internal::heapAlloc(n * sizeof(XMLCh)));
    std::memcpy(text_, other.text_, n * sizeof(XMLCh));
}

Format::~Format() {
    std::free(text_);
    std::free(narrow_);
}

const char* Format::c_str() const {
    if (!narrow_) {
        std::size_t n = internal::length(text_);
        char* narrow = static_cast<char*>(internal::heapAlloc(n + 1));
        for (std::size_t i = 0; i <= n; ++i) narrow[i] = narrowUnit(text_[i]);
        narrow_ = narrow;
    }
    return narrow_;
}

std::ostream& operator<<(std::ostream& out, const Format& f) {
    for (const XMLCh* p = f.str(); *p; ++p) out.put(narrowUnit(*p));
    return out;
}

}  // namespace XML
}  // namespace Ambrite
