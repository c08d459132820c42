// Private to the library: the namespace and attribute axes of canonical XML (the namespace
// scope of each element and the sorted content of its start tag) and the canonical writers.
#ifndef AMBRITE_XML_C14N_INTERNAL_H
#define AMBRITE_XML_C14N_INTERNAL_H

#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dom/internal.h"
#include "foundation/internal.h"
#include "streams/internal.h"

namespace Ambrite {
namespace XML {
namespace internal {

// ---------------------------------------------------------------------------------------------
// Axes

/// Accepts an attribute when its membership of `set` equals `flag` and the residual filter
/// accepts it. Borrows everything.
class AttrFilter : public NodeSet::Filter {
public:
    AttrFilter(const NodeHashSet* set, bool flag, const NodeSet::Filter* filter)
        : Filter(ATTR_FILTER), set_(set), flag_(flag), filter_(filter) {}
    bool accept(DOMNode* node) const override {
        return set_->contains(node) == flag_ && filter_->accept(node);
    }
    Filter* clone() const override { return new AttrFilter(set_, flag_, filter_); }

private:
    const NodeHashSet* set_;
    bool flag_;
    const NodeSet::Filter* filter_;
};

/// The namespace scopes of one run and the start tags they give.
///
/// A scope binds names ("xmlns", "xmlns:p", and in inclusive mode "xml:lang" and the like) to
/// values. Every name is interned once per run and numbered, so that a scope is an array
/// indexed by name. Two scopes are kept: the inherited one, in force for the element being
/// visited, and the rendered one, as last written out by an output ancestor. Both change only
/// through undo logs that follow the walk, so an element that binds nothing new costs nothing
/// and memory stays proportional to the depth, not to the document.
///
/// The elements come from a DOM (pooled: the names, prefixes and values given keep their
/// address and their text for the whole run, so some lookups go by address) or from a
/// streaming parse, whose buffers are reused from one start tag to the next: then prefixes are
/// looked up by their text, the values bound are copied for as long as they are in force, and
/// names that no open element binds are forgotten now and then.
class Axes {
public:
    /// A start-tag item: a declaration or an attribute, ordered by the key head+separator+tail.
    struct Entry {
        const XMLCh* keyHead;
        XMLCh keySeparator;
        const XMLCh* keyTail;
        const XMLCh* name;
        const XMLCh* value;
    };

    /// Positions of the scopes, to return to when the walk leaves an element.
    struct Mark {
        std::size_t inherited;
        std::size_t rendered;
        std::size_t renderedUpTo;
    };

    Axes(bool exclusive, bool namespaceExpanded, bool emitNullApexXMLNS,
         const C14n::PrefixSet* unsuppressedPrefixes, bool pooled = true);
    Axes(const Axes&) = delete;
    Axes& operator=(const Axes&) = delete;

    Mark mark() const {
        Mark m = {inheritedLog_.size(), renderedLog_.size(), renderedUpTo_};
        return m;
    }
    void restore(const Mark& m);

    /// Which attributes of an element are in the node set.
    struct Selection {
        enum Kind { ALL, NONE, OUTSIDE, FILTER } kind;
        const NodeHashSet* set;         // OUTSIDE: those not in this set
        const NodeSet::Filter* filter;  // FILTER: those it accepts
    };

    /// Applies the bindings of element e to the inherited scope (undone by restore()); throws
    /// Exception 13006 for a relative namespace URI.
    void scope(DOMElement* e, bool included, const Selection& attributes);

    /// The same for an element given piece by piece: beginElement(), addAttribute() for each of
    /// its attributes (node null unless the selection looks at nodes), then scope() with the
    /// element's prefix and namespace name. Namespace names must keep their addresses for the
    /// run; so must values marked stable (others are copied when a streaming run binds them).
    void beginElement() {
        if (!pooled_ && names_.size() > compactAt_) compact();
        attributes_.clear();
    }
    void addAttribute(DOMAttr* node, const XMLCh* name, const XMLCh* localName, const XMLCh* prefix,
                      const XMLCh* namespaceURI, const XMLCh* value, bool stableValue);
    void scope(const XMLCh* prefix, const XMLCh* namespaceURI, bool included,
               const Selection& attributes);
    /// Puts the attributes given in the order of their qualified names (by code unit), in which
    /// the DOM keeps them.
    void orderAttributesByName();

    /// The declarations and attributes of the start tag of the element of the last scope() call,
    /// sorted; when it is included, its scope becomes the rendered one.
    void startTag(bool included, bool parentOutput);
    const Entry* begin() const { return entries_.data(); }
    const Entry* end() const { return entries_.data() + entries_.size(); }

    /// Names interned (for tests of the streaming bound).
    std::size_t names() const { return names_.size(); }

private:
    enum Kind : std::uint8_t { DECLARATION, XML_ATTRIBUTE };
    enum PrefixKind : std::uint8_t { NO_PREFIX, XMLNS_PREFIX, XML_PREFIX, OTHER_PREFIX };

    struct Attribute {
        DOMAttr* node;
        const XMLCh* name;
        const XMLCh* localName;
        const XMLCh* namespaceURI;
        const XMLCh* value;
        std::uint32_t id;  // the declaration its prefix needs, or its xml: name
        PrefixKind prefix;
        bool defaultDeclaration;  // the attribute named "xmlns"
        bool stableValue;
        std::int8_t accepted;  // -1 not asked yet, else the filter's answer
    };
    struct Change {
        std::uint32_t id;
        const XMLCh* previous;
    };
    struct Equal {
        const XMLCh* parent;
        const XMLCh* value;
    };
    struct PrefixCacheEntry {
        const XMLCh* prefix;
        std::uint32_t id;
        PrefixKind kind;
    };
    // Streaming: a prefix of at most four units by its units.
    struct ShortPrefixEntry {
        std::uint64_t units;
        std::uint32_t id;
        PrefixKind kind;
    };

    // Copies of the values a streaming run binds, in blocks that never move, given back in the
    // order the bindings are undone.
    class ValueStack {
    public:
        struct Top {
            std::size_t block;
            std::size_t used;
        };
        ValueStack() : top_{0, 0} {}
        const XMLCh* push(const XMLCh* s);
        Top top() const { return top_; }
        void release(const Top& t) { top_ = t; }

    private:
        static const std::size_t kBlock = 4096;
        struct Block {
            std::unique_ptr<void, AMXMLDelete> memory;
            std::size_t capacity;
        };
        std::vector<Block> blocks_;
        Top top_;
    };

    void pushAttribute(DOMAttr* node, const XMLCh* name, const XMLCh* localName,
                       const XMLCh* prefix, const XMLCh* namespaceURI, const XMLCh* value,
                       bool stableValue);
    void bindAll(const XMLCh* prefix, const XMLCh* namespaceURI, bool included,
                 const Selection& attributes);
    std::uint32_t intern(const XMLCh* name, std::size_t length, Kind kind);
    std::uint32_t declarationId(const XMLCh* prefix, PrefixKind* kind);
    std::uint32_t xmlAttributeId(const XMLCh* name);
    void bind(std::uint32_t id, const XMLCh* value, bool stable = true);
    bool accepted(Attribute& a);
    void add(const XMLCh* keyHead, XMLCh keySeparator, const XMLCh* keyTail, const XMLCh* name,
             const XMLCh* value);
    void sortEntries();
    void compact();

    bool exclusive_;
    bool namespaceExpanded_;
    bool pooled_;

    // Interned names, by id; a deque, so that views of them stay valid as it grows.
    std::deque<std::u16string> names_;
    std::vector<Kind> kinds_;
    std::vector<bool> unsuppressed_;
    std::unordered_map<std::u16string_view, std::uint32_t> declarationIds_;   // by prefix
    std::unordered_map<std::u16string_view, std::uint32_t> xmlAttributeIds_;  // by name
    std::vector<std::uint32_t> xmlAttributes_;
    PrefixCacheEntry prefixCache_[256];
    ShortPrefixEntry shortPrefixCache_[64];
    std::size_t compactAt_;  // streaming: forget unbound names beyond this many

    // The two scopes, by id (null: unbound), and their undo logs.
    std::vector<const XMLCh*> inherited_;
    std::vector<const XMLCh*> rendered_;
    std::vector<Change> inheritedLog_;
    std::vector<Change> renderedLog_;
    // The rendered scope equals the inherited scope as it was at this length of its log.
    std::size_t renderedUpTo_;
    // Streaming: the values bound, and where they stood at each entry of the inherited log.
    ValueStack values_;
    std::vector<ValueStack::Top> valueTops_;

    // Per element: which names it has bound already, and their values in its parent's scope.
    std::uint64_t stamp_;
    std::vector<std::uint64_t> boundAt_;
    std::vector<const XMLCh*> parentValue_;
    std::vector<std::uint64_t> seenAt_;
    std::vector<Equal> equal_;

    std::vector<Attribute> attributes_;
    Selection selection_;
    std::vector<Entry> entries_;
    bool unsorted_;  // entries_ grew past the insertion sort's reach
};

// ---------------------------------------------------------------------------------------------
// Document subsets

}  // namespace internal

/// What a DocumentSubset chose.
struct C14n::DocumentSubset::Choices {
    /// An element by child sequence (steps) or, when there are no steps, by ID.
    struct Locator {
        std::vector<unsigned int> steps;
        std::u16string id;
    };
    bool hasApex = false;
    Locator apex;
    std::vector<Locator> excluded;
    bool signatures = false;
    /// Namespace name ("" for none) and local name of each attribute named as holding IDs.
    std::vector<std::pair<std::u16string, std::u16string>> idAttributes;
};

namespace internal {

/// Tells which elements a DocumentSubset chooses, given the elements of a document in document
/// order (the children of entity references as children of their parent), and how the choices
/// failed once the document is done. The DOM path and the streaming one both use it.
class SubsetMatcher {
public:
    explicit SubsetMatcher(const C14n::DocumentSubset::Choices& choices);

    /// Whether any ID is sought; if not, idValue() need not be called.
    bool seeksIds() const { return !ids_.empty(); }
    /// Whether attributes of this namespace name (null for none) and local name hold IDs,
    /// besides those the DTD types ID.
    bool holdsIds(const XMLCh* namespaceURI, const XMLCh* localName) const;

    /// An element starts: then idValue() for each of its ID attributes, then apex() and
    /// excluded() tell whether it is chosen.
    void startElement(const XMLCh* namespaceURI, const XMLCh* localName);
    void idValue(const XMLCh* value);
    bool apex() const { return apex_; }
    bool excluded() const { return excluded_; }
    void endElement();

    /// Throws what failed, if anything: an ID sought that two elements carry (the first found
    /// in document order), else a choice that found no element (the apex first).
    void finish() const;

private:
    struct Sequence {
        const C14n::DocumentSubset::Choices::Locator* locator;
        bool apex;
        bool found;
        std::size_t matched;  // leading steps matched by the open elements
    };
    struct Id {
        bool apex;
        bool excluded;
        bool found;
        std::uint64_t element;  // the element that last carried it
        std::size_t carriers;
    };

    const C14n::DocumentSubset::Choices& choices_;
    std::vector<Sequence> sequences_;
    std::unordered_map<std::u16string, Id> ids_;
    std::vector<unsigned int> children_;  // per open node, its element children so far
    std::uint64_t elements_;
    bool apex_;
    bool excluded_;
    const std::u16string* duplicate_;
};

// ---------------------------------------------------------------------------------------------
// Escaping of XML 1.1 documents

/// Throws Exception 13006 for a character that canonical XML cannot write.
[[noreturn]] void refuseCharacter(unsigned int unit);

/// Canonical XML is XML 1.0 text, which cannot hold the C0 controls other than tab, line feed and
/// carriage return in any form; an XML 1.1 document may, as references, and fails on them.
constexpr Escapes refusingControls(Escapes e) {
    e.refused = kRestrictedControls;
    e.refuse = &refuseCharacter;
    e.special |= kRestrictedControls;
    return e;
}

inline constexpr Escapes kAttribute11Canonical = refusingControls(attributeEscapes());
inline constexpr Escapes kText11Canonical = refusingControls(textEscapes());

// ---------------------------------------------------------------------------------------------
// Writers: markup, names and escaped values, either encoded straight into UTF-8 for an octet
// sink or gathered as UTF-16 for a character sink.

/// UTF-8 straight into a buffer that is handed to the octet sink whenever it fills.
class Utf8Out {
public:
    explicit Utf8Out(OctetSink& sink)
        : sink_(sink),
          bufferBlock_(checkedAlloc(kCapacity)),
          buffer_(static_cast<unsigned char*>(bufferBlock_.get())),
          length_(0),
          namesBlock_(checkedAlloc(kNameCacheSize * sizeof(NameCacheEntry))),
          names_(static_cast<NameCacheEntry*>(namesBlock_.get())) {
        for (std::size_t i = 0; i < kNameCacheSize; ++i) names_[i].name = nullptr;
    }
    Utf8Out(const Utf8Out&) = delete;
    Utf8Out& operator=(const Utf8Out&) = delete;

    /// Fixed ASCII markup.
    template <std::size_t N>
    void markup(const char (&s)[N]) {
        if (kCapacity - length_ < N + 4) drain();
        unsigned char* o = encoder_.finish(buffer_ + length_);
        std::memcpy(o, s, N - 1);
        length_ = static_cast<std::size_t>(o + (N - 1) - buffer_);
    }

    /// A name from the DOM between two pieces of markup (such as "</", name, ">"). Xerces pools
    /// the names of a document, so their UTF-8 forms are kept by address and copied.
    template <std::size_t B, std::size_t A>
    void name(const char (&before)[B], const XMLCh* s, const char (&after)[A]) {
        NameCacheEntry& cached =
            names_[(reinterpret_cast<std::uintptr_t>(s) >> 4) % kNameCacheSize];
        if (cached.name != s && !cache(cached, s)) {
            markup(before);
            put<kNoEscapes>(s);
            markup(after);
            return;
        }
        if (kCapacity - length_ < B + sizeof cached.bytes + A + 4) drain();
        unsigned char* o = encoder_.finish(buffer_ + length_);
        std::memcpy(o, before, B - 1);
        o += B - 1;
        std::memcpy(o, cached.bytes, sizeof cached.bytes);
        o += cached.length;
        std::memcpy(o, after, A - 1);
        length_ = static_cast<std::size_t>(o + (A - 1) - buffer_);
    }

    template <const Escapes& E>
    void put(const XMLCh* s) {
        if (s) put<E>(s, length(s));
    }

    /// n units of s.
    template <const Escapes& E>
    void put(const XMLCh* s, std::size_t n) {
        while (n) {
            std::size_t chunk = n < kChunk ? n : kChunk;
            if (kCapacity - length_ < Utf8Encoder::room<E>(chunk)) drain();
            length_ =
                static_cast<std::size_t>(encoder_.encode<E>(buffer_ + length_, s, chunk) - buffer_);
            s += chunk;
            n -= chunk;
        }
    }

    /// Hands everything to the sink, a held-back high surrogate as three bytes.
    void flush() {
        length_ = static_cast<std::size_t>(encoder_.finish(buffer_ + length_) - buffer_);
        drain();
    }

private:
    static const std::size_t kCapacity = 64 * 1024;
    static const std::size_t kChunk = 4096;
    static const std::size_t kNameCacheSize = 512;

    struct NameCacheEntry {
        const XMLCh* name;
        std::size_t length;
        unsigned char bytes[48];
    };

    // Fills `entry` with the UTF-8 form of s; false when s does not fit or could pair with
    // what follows it (a trailing high surrogate).
    static bool cache(NameCacheEntry& entry, const XMLCh* s) {
        std::size_t n = length(s);
        if (n == 0 || n > 12 || isHighSurrogate(s[n - 1])) return false;
        Utf8Encoder alone;
        entry.length =
            static_cast<std::size_t>(alone.encode<kNoEscapes>(entry.bytes, s, n) - entry.bytes);
        entry.name = s;
        return true;
    }

    void drain() {
        if (length_) {
            std::size_t n = length_;
            length_ = 0;
            sink_.write(buffer_, static_cast<unsigned int>(n));
        }
    }

    OctetSink& sink_;
    std::unique_ptr<void, AMXMLDelete> bufferBlock_;
    unsigned char* buffer_;
    std::size_t length_;
    Utf8Encoder encoder_;
    std::unique_ptr<void, AMXMLDelete> namesBlock_;
    NameCacheEntry* names_;
};

/// UTF-16 gathered into a buffer that is handed to the character sink whenever it fills.
class Utf16Out {
public:
    explicit Utf16Out(CharacterSink& sink)
        : sink_(sink),
          bufferBlock_(checkedAlloc(kCapacity * sizeof(XMLCh))),
          buffer_(static_cast<XMLCh*>(bufferBlock_.get())),
          length_(0) {}
    Utf16Out(const Utf16Out&) = delete;
    Utf16Out& operator=(const Utf16Out&) = delete;

    template <std::size_t N>
    void markup(const char (&s)[N]) {
        if (kCapacity - length_ < N) drain();
        for (std::size_t i = 0; i + 1 < N; ++i) buffer_[length_ + i] = static_cast<XMLCh>(s[i]);
        length_ += N - 1;
    }

    template <std::size_t B, std::size_t A>
    void name(const char (&before)[B], const XMLCh* s, const char (&after)[A]) {
        markup(before);
        put<kNoEscapes>(s);
        markup(after);
    }

    template <const Escapes& E>
    void put(const XMLCh* s) {
        if (s) put<E>(s, length(s));
    }

    template <const Escapes& E>
    void put(const XMLCh* s, std::size_t n) {
        escape<E>(
            s, n, [this](const XMLCh* run, std::size_t k) { append(run, k); },
            [this](const XMLCh* replacement) { append(replacement, length(replacement)); });
    }

    void flush() { drain(); }

private:
    static const std::size_t kCapacity = 16 * 1024;

    void append(const XMLCh* s, std::size_t n) {
        while (n) {
            if (length_ == kCapacity) drain();
            std::size_t k = n < kCapacity - length_ ? n : kCapacity - length_;
            std::memcpy(buffer_ + length_, s, k * sizeof(XMLCh));
            length_ += k;
            s += k;
            n -= k;
        }
    }

    void drain() {
        if (length_) {
            std::size_t n = length_;
            length_ = 0;
            sink_.write(buffer_, static_cast<unsigned int>(n));
        }
    }

    CharacterSink& sink_;
    std::unique_ptr<void, AMXMLDelete> bufferBlock_;
    XMLCh* buffer_;
    std::size_t length_;
};

// ---------------------------------------------------------------------------------------------
// The canonical output of the nodes of a run, whatever feeds it: the DOM canonicalizer's walk or
// the events of a streaming parse.

/// Writes start tags through the axes, end tags, character data, processing instructions and
/// comments into a writer. With `pooled`, the names of attributes and processing-instruction
/// targets keep their addresses for the run (those of a DOM) and go through the writer's cache
/// of names; element names must always keep theirs.
template <class Out, bool pooled, const Escapes& Text = kTextEscapes,
          const Escapes& Attribute = kAttributeEscapes>
class CanonicalOutput {
public:
    CanonicalOutput(Out& out, Axes& axes, bool comments)
        : out_(out), axes_(axes), comments_(comments) {}
    CanonicalOutput(const CanonicalOutput&) = delete;
    CanonicalOutput& operator=(const CanonicalOutput&) = delete;

    Out& out() { return out_; }
    Axes& axes() { return axes_; }

    /// "<" and the name of an included element, written before its scope is computed.
    void startTag(const XMLCh* name) { out_.name("<", name, ""); }
    /// The declarations and attributes of the element of the last Axes::scope() call; with
    /// `included` its scope becomes the rendered one.
    void startTagContent(bool included, bool parentOutput) {
        axes_.startTag(included, parentOutput);
        for (const Axes::Entry* a = axes_.begin(); a != axes_.end(); ++a) {
            name(" ", a->name, "=\"");
            out_.template put<Attribute>(a->value);
            out_.markup("\"");
        }
    }
    /// Ends the start tag of an element whose children follow.
    void endStartTag() { out_.markup(">"); }
    /// The end tag of an element without children, right after its start tag.
    void endEmptyElement(const XMLCh* elementName) { out_.name("></", elementName, ">"); }
    void endTag(const XMLCh* elementName) { out_.name("</", elementName, ">"); }

    void text(const XMLCh* s, std::size_t n) { out_.template put<Text>(s, n); }

    /// At document level a processing instruction or comment after the document element starts
    /// a line (lineBefore), one before it ends a line (lineAfter).
    void processingInstruction(const XMLCh* target, const XMLCh* data, bool lineBefore,
                               bool lineAfter) {
        if (lineBefore) out_.markup("\n");
        name("<?", target, "");
        if (data && *data) {
            out_.markup(" ");
            out_.template put<kNoEscapes>(data);
        }
        out_.markup("?>");
        if (lineAfter) out_.markup("\n");
    }
    /// Written only in the modes with comments.
    void comment(const XMLCh* data, bool lineBefore, bool lineAfter) {
        if (!comments_) return;
        if (lineBefore) out_.markup("\n");
        out_.markup("<!--");
        out_.template put<kNoEscapes>(data);
        out_.markup("-->");
        if (lineAfter) out_.markup("\n");
    }

    /// An attribute on its own, as the root of a node set.
    void attribute(const XMLCh* attributeName, const XMLCh* value) {
        name(" ", attributeName, "=\"");
        out_.template put<Attribute>(value);
        out_.markup("\"");
    }

private:
    template <std::size_t B, std::size_t A>
    void name(const char (&before)[B], const XMLCh* s, const char (&after)[A]) {
        if (pooled) {
            out_.name(before, s, after);
        } else {
            out_.markup(before);
            out_.template put<kNoEscapes>(s);
            if (A > 1) out_.markup(after);
        }
    }

    Out& out_;
    Axes& axes_;
    bool comments_;
};

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite

#endif
