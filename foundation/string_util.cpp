#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

XMLCh* StringUtil::ncopy(XMLCh* destination, const XMLCh* source, unsigned int n) {
    std::memcpy(destination, source, sizeof(XMLCh) * n);
    destination[n] = 0;
    return destination;
}

XMLCh* StringUtil::copy(XMLCh* destination, const char* source) {
    XMLCh* d = destination;
    do {
        // Widened as a signed byte: 0x80..0xFF become 0xFF80..0xFFFF.
        *d = static_cast<XMLCh>(static_cast<signed char>(*source));
        ++d;
    } while (*source++);
    return destination;
}

unsigned int StringUtil::length(const XMLCh* s) {
    return static_cast<unsigned int>(internal::length(s));
}

int StringUtil::cmp(const XMLCh* a, const XMLCh* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<int>(*a) - static_cast<int>(*b);
}

int StringUtil::ncmp(const XMLCh* a, const XMLCh* b, unsigned int n) {
    for (; n; --n, ++a, ++b) {
        if (*a != *b || !*a) return static_cast<int>(*a) - static_cast<int>(*b);
    }
    return 0;
}

bool StringUtil::eq(const XMLCh* a, const XMLCh* b) {
    if (!a || !b) return a == b;
    return cmp(a, b) == 0;
}

const XMLCh* StringUtil::find(const XMLCh* s, XMLCh c) {
    if (!c) return nullptr;
    for (; *s; ++s) {
        if (*s == c) return s;
    }
    return nullptr;
}

const XMLCh* StringUtil::find(const XMLCh* s, const XMLCh* sub) {
    std::size_t n = internal::length(s), m = internal::length(sub);
    if (m > n) return nullptr;
    for (std::size_t i = 0; i + m <= n; ++i) {
        if (std::memcmp(s + i, sub, m * sizeof(XMLCh)) == 0) return s + i;
    }
    return nullptr;
}

XMLCh* StringUtil::dup(const XMLCh* s) {
    return s ? internal::dupString(s, internal::length(s)) : nullptr;
}

bool StringComparator::operator()(const XMLCh* a, const XMLCh* b) const {
    if (!a) return b != nullptr;
    if (!b) return false;
    return StringUtil::cmp(a, b) < 0;
}

StringBuffer::StringBuffer(unsigned int capacity)
    : buffer_(nullptr), length_(0), capacity_(capacity ? capacity : 1) {
    buffer_ = static_cast<XMLCh*>(internal::checkedAlloc(sizeof(XMLCh) * std::size_t(capacity_)));
}

StringBuffer::~StringBuffer() {
    if (buffer_) utfree(buffer_);
}

void StringBuffer::grow(unsigned int n) {
    std::size_t capacity = std::size_t(n) + 2 * std::size_t(capacity_);
    if (capacity >= UINT32_MAX / sizeof(XMLCh)) internal::outOfMemory();
    XMLCh* buffer = static_cast<XMLCh*>(internal::checkedAlloc(sizeof(XMLCh) * capacity));
    std::memcpy(buffer, buffer_, sizeof(XMLCh) * length_);
    utfree(buffer_);
    buffer_ = buffer;
    capacity_ = static_cast<unsigned int>(capacity);
}

StringBuffer& StringBuffer::append(XMLCh c) {
    if (length_ + 1 < capacity_) {
        buffer_[length_++] = c;
        return *this;
    }
    return append(&c, 1);
}

StringBuffer& StringBuffer::append(const XMLCh* s) { return append(s, StringUtil::length(s)); }

StringBuffer& StringBuffer::append(const XMLCh* s, unsigned int n) {
    if (std::size_t(n) + length_ >= capacity_) {
        // The piece may be our own text (b.append(b)); growing frees the block it lives in, so
        // find it again in the new block.
        std::uintptr_t at = reinterpret_cast<std::uintptr_t>(s);
        std::uintptr_t start = reinterpret_cast<std::uintptr_t>(buffer_);
        bool own = at >= start && at < start + sizeof(XMLCh) * capacity_;
        std::size_t offset = own ? static_cast<std::size_t>(s - buffer_) : 0;
        grow(n);
        if (own) s = buffer_ + offset;
    }
    std::memcpy(buffer_ + length_, s, sizeof(XMLCh) * n);
    length_ += n;
    return *this;
}

StringBuffer& StringBuffer::truncate(unsigned int n) {
    if (n < length_) length_ = n;
    return *this;
}

StringBuffer::operator const XMLCh*() {
    buffer_[length_] = 0;
    return buffer_;
}

XMLCh* StringBuffer::release() {
    buffer_[length_] = 0;
    XMLCh* text = buffer_;
    buffer_ = nullptr;
    return text;
}

}  // namespace XML
}  // namespace Ambrite
