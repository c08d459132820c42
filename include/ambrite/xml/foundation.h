// Foundation of the library: allocation, UTF-16 strings, formatted messages, the exception type,
// sorted containers and small value types.
#ifndef AMBRITE_XML_FOUNDATION_H
#define AMBRITE_XML_FOUNDATION_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <vector>
#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class DOMNode;
class DOMDocument;
XERCES_CPP_NAMESPACE_END

/// Marks the classes and functions the shared library exports; everything else stays hidden.
#if defined(_WIN32)
#define AMXML_API
#else
#define AMXML_API __attribute__((visibility("default")))
#endif

namespace Ambrite {
namespace XML {

using xercesc::DOMDocument;
using xercesc::DOMNode;

// ---------------------------------------------------------------------------------------------
// Memory allocation

/// A replaceable source of memory for everything the library allocates.
class AMXML_API Allocator {
public:
    virtual ~Allocator() = 0;
    virtual void* alloc(unsigned int size) = 0;
    virtual void free(void* block) = 0;
};

/// Allocates through the installed allocator; the default one gives null when memory runs out.
AMXML_API void* utalloc(unsigned int size);
/// Releases a block from utalloc; the pointer reaches the installed allocator unchanged.
AMXML_API void utfree(void* block);
/// Installs `a` (not adopted); throws Exception 18 once anything has been allocated.
AMXML_API void allocator(Allocator* a);

/// Mix-in that routes a class's objects through utalloc/utfree. A failed allocation throws
/// Exception 18 "Out of memory" instead of constructing into null.
class AMXML_API Allocated {
public:
    static void* operator new(std::size_t size);
    static void operator delete(void* block) noexcept;
};

/// Releases memory that came from the C heap (malloc).
struct AMXML_API FreeDelete {
    void operator()(void* p) const;
};

/// Releases memory that came from utalloc.
struct AMXML_API AMXMLDelete {
    void operator()(void* p) const;
};

// ---------------------------------------------------------------------------------------------
// Wide strings

/// Static operations on null-terminated XMLCh strings, compared by unsigned code-unit value.
class AMXML_API StringUtil {
public:
    /// Copies exactly n units and stores a terminator at destination[n].
    static XMLCh* ncopy(XMLCh* destination, const XMLCh* source, unsigned int n);
    /// Widens each byte, as a signed 8-bit value, up to and including the terminator.
    static XMLCh* copy(XMLCh* destination, const char* source);
    static unsigned int length(const XMLCh* s);
    static int cmp(const XMLCh* a, const XMLCh* b);
    static int ncmp(const XMLCh* a, const XMLCh* b, unsigned int n);
    /// Null-tolerant equality.
    static bool eq(const XMLCh* a, const XMLCh* b);
    /// First occurrence of c (never the terminator), or null.
    static const XMLCh* find(const XMLCh* s, XMLCh c);
    /// First occurrence of sub, or null; an empty sub matches at the start.
    static const XMLCh* find(const XMLCh* s, const XMLCh* sub);
    /// A utalloc copy of s (null stays null), freed by the caller with utfree.
    static XMLCh* dup(const XMLCh* s);
};

/// Less-than on XMLCh strings; a null string sorts before every other string.
struct AMXML_API StringComparator {
    bool operator()(const XMLCh* a, const XMLCh* b) const;
};

/// A growable buffer in which strings are assembled.
class AMXML_API StringBuffer {
public:
    explicit StringBuffer(unsigned int capacity = 16);
    ~StringBuffer();
    StringBuffer(const StringBuffer&) = delete;
    StringBuffer& operator=(const StringBuffer&) = delete;

    StringBuffer& append(XMLCh c);
    StringBuffer& append(const XMLCh* s);
    StringBuffer& append(const XMLCh* s, unsigned int n);
    StringBuffer& truncate(unsigned int n);
    /// The terminated text; the buffer keeps ownership and stays usable.
    operator const XMLCh*();
    unsigned int length() const { return length_; }
    unsigned int capacity() const { return capacity_; }
    /// Hands the terminated text to the caller (free with utfree); only destruction may follow.
    XMLCh* release();

private:
    void grow(unsigned int n);

    XMLCh* buffer_;
    unsigned int length_;
    unsigned int capacity_;
};

// ---------------------------------------------------------------------------------------------
// Formatted messages

/// An immutable message built printf-style from an 8-bit format. Directives: %S/%W (const XMLCh*),
/// %s/%w (const char*), %X (const DOMNode*, its node name), %b (bool), %d, %x, %c (int), %%.
/// Arguments are read by the type their directive names: convert a DOMDocument* or DOMElement*
/// to const DOMNode* before passing it to %X.
class AMXML_API Format {
public:
    explicit Format(const char* format, ...);
    Format(const Format& other);
    Format& operator=(const Format&) = delete;
    ~Format();

    const XMLCh* str() const { return text_; }
    operator const XMLCh*() const { return text_; }
    /// 8-bit view, units of 256 or more as '?'; made once and kept while the object lives.
    const char* c_str() const;
    operator const char*() const { return c_str(); }

private:
    XMLCh* text_;
    mutable char* narrow_;
};

AMXML_API std::ostream& operator<<(std::ostream& out, const Format& f);

// ---------------------------------------------------------------------------------------------
// Sorted containers

template <class K, class V>
struct MyPair {
    K key;
    V value;

    MyPair() {}
    explicit MyPair(const K& k) : key(k) {}
    MyPair(const K& k, const V& v) : key(k), value(v) {}
    bool operator==(const MyPair& o) const { return key == o.key && value == o.value; }
    bool operator<(const MyPair& o) const {
        return key < o.key || (!(o.key < key) && value < o.value);
    }
};

template <class T>
struct BasicComparator {
    bool operator()(const T& a, const T& b) const { return a < b; }
};

template <class Pair, class Cmp>
struct KeyComparator {
    bool operator()(const Pair& a, const Pair& b) const { return Cmp()(a.key, b.key); }
};

template <class T>
class MyIterator {
public:
    MyIterator() : items_(nullptr), index_(0) {}
    MyIterator(T* items, int index) : items_(items), index_(index) {}
    T& operator*() const { return items_[index_]; }
    T* operator->() const { return &items_[index_]; }
    MyIterator& operator++() {
        ++index_;
        return *this;
    }
    bool operator==(const MyIterator& o) const { return index_ == o.index_ && items_ == o.items_; }
    bool operator!=(const MyIterator& o) const { return !(*this == o); }
    int index() const { return index_; }

private:
    T* items_;
    int index_;
};

// The C-heap allocation behind the containers' inline code; not for callers.
namespace internal {
[[noreturn]] AMXML_API void outOfMemory();
AMXML_API void* heapAlloc(std::size_t bytes);
AMXML_API void heapFree(void* block);
}  // namespace internal

/// A set held as a sorted array searched by bisection. Elements are copied bitwise, so T must be
/// trivially copyable (pointers and pairs of them); the set never owns what they point to.
template <class T, class Cmp>
class MySet {
public:
    typedef MyIterator<T> iterator;

    MySet() : size_(0), capacity_(4), items_(allocate(4)) {}
    MySet(const MySet& o)
        : size_(o.size_), capacity_(o.capacity_ ? o.capacity_ : 1), items_(allocate(capacity_)) {
        copyItems(items_, o.items_, size_);
    }
    MySet& operator=(const MySet& o) {
        if (this != &o) {
            unsigned int capacity = o.capacity_ ? o.capacity_ : 1;
            T* items = allocate(capacity);
            internal::heapFree(items_);
            items_ = items;
            capacity_ = capacity;
            size_ = o.size_;
            copyItems(items_, o.items_, size_);
        }
        return *this;
    }
    ~MySet() { internal::heapFree(items_); }

    /// Index of the first element not less than x (lower bound).
    unsigned int search(const T& x) const {
        if (size_ == 0) return 0;
        unsigned int lo = 0, hi = size_ - 1;
        Cmp less;
        while (lo != hi) {
            unsigned int mid = (lo + hi) / 2;
            if (less(items_[mid], x))
                lo = mid + 1;
            else
                hi = mid;
        }
        return less(items_[lo], x) ? lo + 1 : lo;
    }
    iterator find(const T& x) const {
        unsigned int i = search(x);
        if (i < size_ && !Cmp()(x, items_[i])) return iterator(items_, static_cast<int>(i));
        return end();
    }
    void insert(const T& x) { findOrInsert(x); }
    iterator findOrInsert(const T& x) {
        unsigned int i = search(x);
        if (i < size_ && !Cmp()(x, items_[i])) return iterator(items_, static_cast<int>(i));
        if (size_ == capacity_) {
            T* items = allocate(capacity_ * 2);
            copyItems(items, items_, i);
            copyItems(items + i + 1, items_ + i, size_ - i);
            internal::heapFree(items_);
            items_ = items;
            capacity_ *= 2;
        } else {
            moveItems(items_ + i + 1, items_ + i, size_ - i);
        }
        std::memcpy(static_cast<void*>(items_ + i), static_cast<const void*>(&x), sizeof(T));
        ++size_;
        return iterator(items_, static_cast<int>(i));
    }
    void erase(iterator it) {
        unsigned int i = static_cast<unsigned int>(it.index());
        moveItems(items_ + i, items_ + i + 1, size_ - i - 1);
        --size_;
    }
    void clear() { size_ = 0; }
    bool empty() const { return size_ == 0; }
    unsigned int size() const { return size_; }
    unsigned int capacity() const { return capacity_; }
    iterator begin() const { return iterator(items_, 0); }
    iterator end() const { return iterator(items_, static_cast<int>(size_)); }

private:
    static T* allocate(unsigned int n) {
        return static_cast<T*>(internal::heapAlloc(sizeof(T) * n));
    }
    static void copyItems(T* to, const T* from, unsigned int n) {
        if (n) std::memcpy(static_cast<void*>(to), static_cast<const void*>(from), sizeof(T) * n);
    }
    static void moveItems(T* to, const T* from, unsigned int n) {
        if (n) std::memmove(static_cast<void*>(to), static_cast<const void*>(from), sizeof(T) * n);
    }

    unsigned int size_;
    unsigned int capacity_;
    T* items_;
};

/// A map over MySet of key/value pairs, ordered by Cmp on the keys.
template <class K, class V, class Cmp>
class MyMap : public MySet<MyPair<K, V>, KeyComparator<MyPair<K, V>, Cmp>> {
public:
    typedef MyPair<K, V> Pair;
    typedef MySet<Pair, KeyComparator<Pair, Cmp>> Base;
    typedef typename Base::iterator iterator;

    iterator find(const K& key) const { return Base::find(Pair(key, V())); }
    /// The value stored for key; an absent key is inserted with a zero value.
    V& operator[](const K& key) { return Base::findOrInsert(Pair(key, V()))->value; }
};

// ---------------------------------------------------------------------------------------------
// Exceptions

/// The one exception type of the library: an id naming the failure family, a message and a
/// trace of the places that threw and re-threw it.
class AMXML_API Exception {
public:
    typedef MyPair<const char*, unsigned int> Place;

    Exception(int id, const char* message);
    Exception(const char* file, unsigned int line, int id, const char* message);
    Exception(int id, const Format& message);
    Exception(const char* file, unsigned int line, int id, const Format& message);
    Exception(const Exception& other);
    /// Re-throw form: the cause with one more place appended.
    Exception(const char* file, unsigned int line, const Exception& cause);
    Exception& operator=(const Exception&) = delete;
    ~Exception();

    int id() const { return id_; }
    const Format& what() const { return message_; }
    const std::vector<Place>& where() const { return where_; }

private:
    std::vector<Place> where_;
    int id_;
    Format message_;
};

AMXML_API std::ostream& operator<<(std::ostream& out, const Exception& e);

// ---------------------------------------------------------------------------------------------
// Value types

/// A byte buffer that owns its bytes (freed with its release function) or borrows them.
class AMXML_API Block : public Allocated {
public:
    enum Op { Copy = 0, Reference = 1 };

    /// Copies the bytes, or with Reference refers to them without ever freeing them.
    Block(const void* bytes, unsigned int length, Op op);
    /// Adopts the bytes, freed with `release` (null: never freed); null bytes give an empty block.
    Block(void* bytes, unsigned int length, void (*release)(void*));
    virtual ~Block();
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    unsigned int length() const { return length_; }
    const unsigned char* data() const { return data_; }
    operator const unsigned char*() const { return data_; }
    /// A new block with a private copy of the bytes.
    virtual Block* clone() const;
    /// Orders by length first, then bytes as unsigned values: negative, 0 or positive.
    int cmp(const Block* other) const;

private:
    unsigned char* data_;
    unsigned int length_;
    void (*release_)(void*);
};

/// Reads the whole stream into a new Block; throws Exception 3 on a read error.
AMXML_API std::istream& operator>>(std::istream& in, Block*& block);

/// An unscaled big-endian two's-complement value and a decimal scale.
class AMXML_API BigDecimal : public Allocated {
public:
    /// Adopts value.
    BigDecimal(Block* value, unsigned int scale);
    virtual ~BigDecimal();
    BigDecimal(const BigDecimal&) = delete;
    BigDecimal& operator=(const BigDecimal&) = delete;

    const Block* value() const { return value_; }
    unsigned int scale() const { return scale_; }
    virtual BigDecimal* clone() const;
    /// An ordering for equality and sorting (scale, then bytes), not a numeric comparison.
    int cmp(const BigDecimal* other) const;

private:
    Block* value_;
    unsigned int scale_;
};

/// Prints the signed decimal value, with the decimal point `scale` digits from the right.
AMXML_API std::ostream& operator<<(std::ostream& out, const BigDecimal& d);

/// A BigDecimal of scale 0 whose bytes are normalised to the shortest two's-complement form.
class AMXML_API BigInteger : public BigDecimal {
public:
    BigInteger(const unsigned char* bytes, unsigned int length);
    /// Bits of the two's-complement value without the sign bit.
    unsigned int bitLength() const;
    /// The value as a signed 64-bit integer, saturated when it has more than 8 bytes.
    std::int64_t longValue() const;
    BigDecimal* clone() const override;
};

/// A namespace URI (may be null) and a local name.
class AMXML_API QualifiedName : public Allocated {
public:
    /// With copy true both strings are private copies; otherwise the caller's strings are used.
    QualifiedName(const XMLCh* namespaceURI, const XMLCh* localName, bool copy);
    virtual ~QualifiedName();
    QualifiedName(const QualifiedName&) = delete;
    QualifiedName& operator=(const QualifiedName&) = delete;

    const XMLCh* namespaceURI() const { return namespaceURI_; }
    const XMLCh* localName() const { return localName_; }
    /// A null namespace first, then namespaces, then local names by code unit.
    int cmp(const QualifiedName* other) const;
    /// A new, owning copy.
    QualifiedName* clone() const;

private:
    XMLCh* namespaceURI_;
    XMLCh* localName_;
    bool owned_;
};

AMXML_API std::ostream& operator<<(std::ostream& out, const QualifiedName& name);

struct AMXML_API QualifiedNameComparator {
    bool operator()(const QualifiedName* a, const QualifiedName* b) const;
};

/// An empty placeholder value.
class AMXML_API Calendar {
public:
    Calendar() {}
    Calendar(const Calendar&) {}
    Calendar& operator=(const Calendar&) { return *this; }
    virtual ~Calendar();
    /// Always null.
    virtual Calendar* clone() const;
};

AMXML_API std::ostream& operator<<(std::ostream& out, const Calendar& c);

/// A pass phrase that wipes itself and can be handed along an input stream.
class AMXML_API PassPhrase {
public:
    /// Latin-1: each byte zero-extended. A null text is taken as empty.
    explicit PassPhrase(const char* text);
    explicit PassPhrase(const XMLCh* text);
    /// Overwrites the text with 0x5555 units before freeing it.
    ~PassPhrase();
    PassPhrase(const PassPhrase&) = delete;
    PassPhrase& operator=(const PassPhrase&) = delete;

    const XMLCh* text() const { return text_; }
    /// The text attached to `in` by operator>> (caller frees with utfree), or null; clears it.
    static XMLCh* extract(std::istream& in);

private:
    XMLCh* text_;
};

/// Attaches a copy of the pass phrase to the stream for a later PassPhrase::extract.
AMXML_API std::istream& operator>>(std::istream& in, const PassPhrase& p);

/// A plain (non-atomic) shared counter; the holder whose dec() reaches 0 deletes it.
class AMXML_API RefCount : public Allocated {
public:
    explicit RefCount(unsigned int initial = 0) : count_(initial) {}
    virtual ~RefCount();
    RefCount(const RefCount&) = delete;
    RefCount& operator=(const RefCount&) = delete;

    RefCount& inc() {
        ++count_;
        return *this;
    }
    RefCount& dec() {
        --count_;
        return *this;
    }
    operator unsigned int() const { return count_; }

private:
    unsigned int count_;
};

/// A RefCount that owns a DOM document and releases it when destroyed.
class AMXML_API DocumentRefCount : public RefCount {
public:
    DocumentRefCount(DOMDocument* document, unsigned int initial);
    ~DocumentRefCount() override;
    DOMDocument* document() const { return document_; }

private:
    DOMDocument* document_;
};

// ---------------------------------------------------------------------------------------------
// Debug allocator

/// An allocator that records every live block, aborts on allocation failure or a bad free, and
/// reports blocks still live when destroyed. Install it first thing in the process.
class AMXML_API DebugAllocator : public Allocator {
public:
    /// Reports to std::clog. Installs itself; throws Exception 18 after the first allocation.
    DebugAllocator();
    explicit DebugAllocator(std::ostream& log);
    /// Reinstalls the default allocator, then writes the leak report if blocks are still live.
    ~DebugAllocator() override;
    DebugAllocator(const DebugAllocator&) = delete;
    DebugAllocator& operator=(const DebugAllocator&) = delete;

    void* alloc(unsigned int size) override;
    void free(void* block) override;
    /// Number of live blocks.
    std::size_t live() const;

private:
    struct State;
    State* state_;
    std::ostream& log_;
};

}  // namespace XML
}  // namespace Ambrite

#endif
