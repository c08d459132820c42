#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <istream>
#include <mutex>
#include <ostream>
#include <string>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

// a - b as an ordering: the difference where an int holds it, INT_MIN or INT_MAX beyond.
int clampedDifference(unsigned int a, unsigned int b) {
    const long long difference = static_cast<long long>(a) - b;
    if (difference < INT_MIN) return INT_MIN;
    if (difference > INT_MAX) return INT_MAX;
    return static_cast<int>(difference);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Block

Block::Block(const void* bytes, unsigned int length, Op op)
    : data_(nullptr), length_(length), release_(nullptr) {
    if (bytes && op != Copy) {
        data_ = static_cast<unsigned char*>(const_cast<void*>(bytes));
        return;
    }
    data_ = static_cast<unsigned char*>(internal::checkedAlloc(length ? length : 1));
    if (bytes)
        std::memcpy(data_, bytes, length);
    else
        length_ = 0;
    release_ = utfree;
}

Block::Block(void* bytes, unsigned int length, void (*release)(void*))
    : data_(static_cast<unsigned char*>(bytes)), length_(length), release_(release) {
    if (!bytes) {
        data_ = static_cast<unsigned char*>(internal::checkedAlloc(1));
        length_ = 0;
        release_ = utfree;
    }
}

Block::~Block() {
    if (release_) release_(data_);
}

Block* Block::clone() const { return new Block(data_, length_, Copy); }

int Block::cmp(const Block* other) const {
    if (length_ != other->length_) return clampedDifference(length_, other->length_);
    for (unsigned int i = 0; i < length_; ++i) {
        if (data_[i] != other->data_[i]) return data_[i] < other->data_[i] ? -1 : 1;
    }
    return 0;
}

std::istream& operator>>(std::istream& in, Block*& block) {
    std::size_t capacity = 1024, filled = 0;
    unsigned char* buffer = static_cast<unsigned char*>(internal::checkedAlloc(capacity));
    try {
        for (;;) {
            std::streamsize got = 0;
            if (in.good()) {
                try {
                    got = in.rdbuf()->sgetn(reinterpret_cast<char*>(buffer + filled),
                                            static_cast<std::streamsize>(capacity - filled));
                } catch (...) {
                    in.setstate(std::ios_base::badbit);
                    got = 0;
                }
                if (got < 0) got = 0;
            }
            filled += static_cast<std::size_t>(got);
            if (filled == capacity) {
                unsigned char* bigger =
                    static_cast<unsigned char*>(internal::checkedAlloc(capacity * 2));
                std::memcpy(bigger, buffer, filled);
                utfree(buffer);
                buffer = bigger;
                capacity *= 2;
            }
            if (got == 0) break;
        }
        if (in.fail()) throw Exception(3, Format("Read error: %s", std::strerror(errno)));
        if (filled > UINT_MAX) internal::outOfMemory();
        block = new Block(buffer, static_cast<unsigned int>(filled), utfree);
    } catch (const std::ios_base::failure&) {
        // A stream whose exception mask includes badbit throws from setstate.
        utfree(buffer);
        throw Exception(3, Format("Read error: %s", std::strerror(errno)));
    } catch (...) {
        utfree(buffer);
        throw;
    }
    return in;
}

// ---------------------------------------------------------------------------------------------
// BigDecimal and BigInteger

BigDecimal::BigDecimal(Block* value, unsigned int scale) : value_(value), scale_(scale) {}

BigDecimal::~BigDecimal() { delete value_; }

BigDecimal* BigDecimal::clone() const {
    Block* copy = value_->clone();
    try {
        return new BigDecimal(copy, scale_);
    } catch (...) {
        delete copy;
        throw;
    }
}

int BigDecimal::cmp(const BigDecimal* other) const {
    if (scale_ != other->scale_) return clampedDifference(scale_, other->scale_);
    return value_->cmp(other->value_);
}

std::ostream& operator<<(std::ostream& out, const BigDecimal& d) {
    const unsigned char* bytes = d.value()->data();
    std::size_t n = d.value()->length();
    // Work on the magnitude: a negative two's-complement value is negated first.
    std::string work(reinterpret_cast<const char*>(bytes), n);
    bool negative = n > 0 && (bytes[0] & 0x80);
    if (negative) {
        unsigned carry = 1;
        for (std::size_t i = n; i-- > 0;) {
            unsigned v = static_cast<unsigned char>(~static_cast<unsigned char>(work[i])) + carry;
            work[i] = static_cast<char>(v & 0xFF);
            carry = v >> 8;
        }
    }
    // Repeated long division by 10, base 256, collecting digits from the right.
    std::string digits;
    std::size_t s = 0;
    while (s < n && work[s] == 0) ++s;
    while (s < n) {
        unsigned remainder = 0;
        for (std::size_t i = s; i < n; ++i) {
            unsigned v = (remainder << 8) | static_cast<unsigned char>(work[i]);
            work[i] = static_cast<char>(v / 10);
            remainder = v % 10;
        }
        digits.push_back(static_cast<char>('0' + remainder));
        while (s < n && work[s] == 0) ++s;
    }
    if (digits.empty()) digits = "0";
    std::size_t scale = d.scale();
    while (digits.size() <= scale) digits.push_back('0');
    std::string text(digits.rbegin(), digits.rend());
    if (scale) text.insert(text.size() - scale, 1, '.');
    if (negative) text.insert(0, 1, '-');
    return out << text;
}

namespace {

Block* normalised(const unsigned char* bytes, unsigned int n) {
    static const unsigned char zero = 0;
    if (n == 0) return new Block(&zero, 1, Block::Copy);
    if (bytes[0] & 0x80) {
        while (n > 1 && bytes[0] == 0xFF && (bytes[1] & 0x80)) ++bytes, --n;
    } else {
        while (n > 1 && bytes[0] == 0x00 && !(bytes[1] & 0x80)) ++bytes, --n;
    }
    return new Block(bytes, n, Block::Copy);
}

}  // namespace

BigInteger::BigInteger(const unsigned char* bytes, unsigned int length)
    : BigDecimal(normalised(bytes, length), 0) {}

unsigned int BigInteger::bitLength() const {
    const unsigned char* bytes = value()->data();
    unsigned int n = value()->length();
    unsigned int top = bytes[0] >> 7, k = 1;
    while (k < 8 && ((bytes[0] >> (7 - k)) & 1) == top) ++k;
    return 8 * n - k;
}

std::int64_t BigInteger::longValue() const {
    const unsigned char* bytes = value()->data();
    unsigned int n = value()->length();
    bool negative = (bytes[0] & 0x80) != 0;
    if (n > 8) return negative ? INT64_MIN : INT64_MAX;
    std::uint64_t v = negative ? ~std::uint64_t(0) : 0;
    for (unsigned int i = 0; i < n; ++i) v = (v << 8) | bytes[i];
    return static_cast<std::int64_t>(v);
}

BigDecimal* BigInteger::clone() const { return new BigInteger(value()->data(), value()->length()); }

// ---------------------------------------------------------------------------------------------
// QualifiedName

QualifiedName::QualifiedName(const XMLCh* namespaceURI, const XMLCh* localName, bool copy)
    : namespaceURI_(const_cast<XMLCh*>(namespaceURI)),
      localName_(const_cast<XMLCh*>(localName)),
      owned_(copy) {
    if (copy) {
        namespaceURI_ = StringUtil::dup(namespaceURI);
        try {
            localName_ = StringUtil::dup(localName);
        } catch (...) {
            if (namespaceURI_) utfree(namespaceURI_);
            throw;
        }
    }
}

QualifiedName::~QualifiedName() {
    if (owned_) {
        if (namespaceURI_) utfree(namespaceURI_);
        if (localName_) utfree(localName_);
    }
}

int QualifiedName::cmp(const QualifiedName* other) const {
    if (!namespaceURI_ != !other->namespaceURI_) return namespaceURI_ ? 1 : -1;
    if (namespaceURI_) {
        int c = StringUtil::cmp(namespaceURI_, other->namespaceURI_);
        if (c) return c;
    }
    return StringUtil::cmp(localName_, other->localName_);
}

QualifiedName* QualifiedName::clone() const {
    return new QualifiedName(namespaceURI_, localName_, true);
}

std::ostream& operator<<(std::ostream& out, const QualifiedName& name) {
    if (name.namespaceURI()) return out << Format("<%S>:%S", name.namespaceURI(), name.localName());
    return out << Format("%S", name.localName());
}

bool QualifiedNameComparator::operator()(const QualifiedName* a, const QualifiedName* b) const {
    return a->cmp(b) < 0;
}

// ---------------------------------------------------------------------------------------------
// Calendar, RefCount

Calendar::~Calendar() {}

Calendar* Calendar::clone() const { return nullptr; }

std::ostream& operator<<(std::ostream& out, const Calendar&) { return out; }

RefCount::~RefCount() {}

// ---------------------------------------------------------------------------------------------
// PassPhrase

namespace {

void wipe(XMLCh* text) {
    volatile XMLCh* p = text;
    while (*p) *p++ = 0x5555;
}

void freeWiped(XMLCh* text) {
    wipe(text);
    utfree(text);
}

// The stream slots: one pointer slot for the attached text, one flag slot that records that the
// clean-up callback is registered on the stream. Reserved once per process, on first use.
std::once_flag slotsOnce;
std::atomic<bool> slotsReserved(false);
int textSlot = -1;
int registeredSlot = -1;

void reserveSlots() {
    std::call_once(slotsOnce, [] {
        textSlot = std::ios_base::xalloc();
        registeredSlot = std::ios_base::xalloc();
        slotsReserved = true;
    });
}

// A stream that is destroyed or copied with copyfmt while text is attached must neither leak nor
// share the text: erase frees it, and a copy gets its own duplicate.
void streamEvent(std::ios_base::event event, std::ios_base& stream, int) {
    void*& slot = stream.pword(textSlot);
    if (!slot) return;
    if (event == std::ios_base::erase_event) {
        freeWiped(static_cast<XMLCh*>(slot));
        slot = nullptr;
    } else if (event == std::ios_base::copyfmt_event) {
        try {
            slot = StringUtil::dup(static_cast<XMLCh*>(slot));
        } catch (...) {
            slot = nullptr;
        }
    }
}

}  // namespace

PassPhrase::PassPhrase(const char* text) : text_(nullptr) {
    if (!text) text = "";
    std::size_t n = std::strlen(text);
    text_ = static_cast<XMLCh*>(internal::checkedAlloc((n + 1) * sizeof(XMLCh)));
    for (std::size_t i = 0; i <= n; ++i) text_[i] = static_cast<unsigned char>(text[i]);
}

PassPhrase::PassPhrase(const XMLCh* text) : text_(StringUtil::dup(text ? text : u"")) {}

PassPhrase::~PassPhrase() { freeWiped(text_); }

std::istream& operator>>(std::istream& in, const PassPhrase& p) {
    reserveSlots();
    XMLCh* copy = StringUtil::dup(p.text());
    if (!in.iword(registeredSlot)) {
        in.register_callback(streamEvent, 0);
        in.iword(registeredSlot) = 1;
    }
    void*& slot = in.pword(textSlot);
    if (slot) freeWiped(static_cast<XMLCh*>(slot));
    slot = copy;
    return in;
}

XMLCh* PassPhrase::extract(std::istream& in) {
    if (!slotsReserved) return nullptr;
    void*& slot = in.pword(textSlot);
    XMLCh* text = static_cast<XMLCh*>(slot);
    slot = nullptr;
    return text;
}

}  // namespace XML
}  // namespace Ambrite
