#include <algorithm>
#include <cstring>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMText.hpp>

#include "c14n/internal.h"

namespace Ambrite {
namespace XML {
namespace internal {

namespace {

const XMLCh kXmlNamespace[] = u"http://www.w3.org/XML/1998/namespace";
const XMLCh kXmlnsNamespace[] = u"http://www.w3.org/2000/xmlns/";
const XMLCh kEmpty[] = u"";
const XMLCh kDeclarationHead[] = u"\x01";

// The two markers are told apart from namespace names by identity, never by text; each text is
// an absolute URN so that it passes the relative-namespace test.
const XMLCh kOmittedMarker[] = u"urn:x-ambrite-xml:c14n:no-default-namespace";
const XMLCh kApexMarker[] = u"urn:x-ambrite-xml:c14n:above-apex";

// Ids fixed at construction.
const std::uint32_t kXmlnsId = 0;       // "xmlns"
const std::uint32_t kXmlnsXmlId = 1;    // "xmlns:xml"
const std::uint32_t kXmlnsXmlnsId = 2;  // "xmlns:xmlns"

// A streaming run forgets names no open element binds once it has interned this many, or twice
// as many as it kept the last time.
const std::size_t kCompactAtLeast = 4096;
// Start tags with more entries are sorted at their end instead of as the entries come.
const std::size_t kInsertionSortLimit = 24;

bool isMarker(const XMLCh* value) { return value == kOmittedMarker || value == kApexMarker; }

bool sameValue(const XMLCh* a, const XMLCh* b) {
    if (a == b) return true;
    if (!a || !b || isMarker(a) || isMarker(b)) return false;
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

bool hasColon(const XMLCh* s) {
    for (; *s; ++s) {
        if (*s == u':') return true;
    }
    return false;
}

bool equals(const XMLCh* s, const XMLCh* literal) { return s && StringUtil::cmp(s, literal) == 0; }

// Walks the units of the key head + separator + tail of an entry.
class KeyCursor {
public:
    explicit KeyCursor(const Axes::Entry& e)
        : p_(e.keyHead), separator_(e.keySeparator), tail_(e.keyTail), stage_(0) {}
    unsigned int next() {
        for (;;) {
            if (stage_ == 0) {
                if (*p_) return *p_++;
                stage_ = 1;
                p_ = tail_;
                if (separator_) return separator_;
            }
            return *p_ ? *p_++ : 0;
        }
    }

private:
    const XMLCh* p_;
    XMLCh separator_;
    const XMLCh* tail_;
    int stage_;
};

// Canonical XML orders names and namespace URIs by code point (as their UTF-8 bytes would
// order). UTF-16 units order the same way except that the units from U+E000 sort below the
// surrogates, which stand for characters above U+FFFF; moving them below the surrogates gives
// code-point order for the first difference of two strings.
inline int codePointOrder(unsigned int a, unsigned int b) {
    if (a >= 0xD800 && b >= 0xD800) {
        a += a < 0xE000 ? 0x2000 : -0x800u;
        b += b < 0xE000 ? 0x2000 : -0x800u;
    }
    return a < b ? -1 : 1;
}

inline int compare(const XMLCh* a, const XMLCh* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b ? 0 : codePointOrder(*a, *b);
}

// The order of the keys head + separator + tail of two entries, the strings they stand for,
// compared without building them.
[[gnu::always_inline]] inline int compareKeys(const Axes::Entry& x, const Axes::Entry& y) {
    if (x.keyHead == y.keyHead && x.keySeparator == y.keySeparator) {
        return compare(x.keyTail, y.keyTail);
    }
    KeyCursor cx(x), cy(y);
    for (;;) {
        unsigned int ux = cx.next(), uy = cy.next();
        if (ux != uy) return codePointOrder(ux, uy);
        if (!ux) return 0;
    }
}

}  // namespace

Axes::Axes(bool exclusive, bool namespaceExpanded, bool emitNullApexXMLNS,
           const C14n::PrefixSet* unsuppressedPrefixes, bool pooled)
    : exclusive_(exclusive),
      namespaceExpanded_(namespaceExpanded),
      pooled_(pooled),
      compactAt_(kCompactAtLeast),
      renderedUpTo_(0),
      stamp_(0),
      unsorted_(false) {
    selection_.kind = Selection::NONE;
    std::memset(prefixCache_, 0, sizeof prefixCache_);
    std::memset(shortPrefixCache_, 0, sizeof shortPrefixCache_);
    intern(u"xmlns", 5, DECLARATION);
    intern(u"xmlns:xml", 9, DECLARATION);
    intern(u"xmlns:xmlns", 11, DECLARATION);
    // The baseline, the same for both scopes.
    const XMLCh* defaultNamespace = emitNullApexXMLNS ? kApexMarker : kOmittedMarker;
    inherited_[kXmlnsId] = rendered_[kXmlnsId] = defaultNamespace;
    inherited_[kXmlnsXmlId] = rendered_[kXmlnsXmlId] = kXmlNamespace;
    inherited_[kXmlnsXmlnsId] = rendered_[kXmlnsXmlnsId] = kXmlnsNamespace;
    if (unsuppressedPrefixes) {
        for (C14n::PrefixSet::iterator it = unsuppressedPrefixes->begin();
             it != unsuppressedPrefixes->end(); ++it) {
            PrefixKind kind;
            unsuppressed_[declarationId(*it, &kind)] = true;
        }
    }
}

std::uint32_t Axes::intern(const XMLCh* name, std::size_t length, Kind kind) {
    std::uint32_t id = static_cast<std::uint32_t>(names_.size());
    names_.emplace_back(name, length);
    kinds_.push_back(kind);
    unsuppressed_.push_back(false);
    inherited_.push_back(nullptr);
    rendered_.push_back(nullptr);
    boundAt_.push_back(0);
    parentValue_.push_back(nullptr);
    seenAt_.push_back(0);
    equal_.push_back(Equal{nullptr, nullptr});
    const std::u16string& interned = names_.back();
    if (kind == DECLARATION) {
        // Keyed by the prefix: "" for "xmlns", "p" for "xmlns:p".
        std::u16string_view prefix(interned);
        prefix.remove_prefix(length > 5 ? 6 : 5);
        declarationIds_.emplace(prefix, id);
    } else {
        xmlAttributeIds_.emplace(std::u16string_view(interned), id);
        xmlAttributes_.push_back(id);
    }
    return id;
}

std::uint32_t Axes::declarationId(const XMLCh* prefix, PrefixKind* kind) {
    if (!prefix || !*prefix) {
        *kind = NO_PREFIX;
        return kXmlnsId;
    }
    // Xerces pools the names of a document, so one prefix is nearly always one pointer. Filled
    // only when pooled.
    PrefixCacheEntry& cached = prefixCache_[(reinterpret_cast<std::uintptr_t>(prefix) >> 3) & 0xFF];
    if (cached.prefix == prefix) {
        *kind = cached.kind;
        return cached.id;
    }
    // Streaming: most prefixes are a few units, which are their own key (units are never 0).
    ShortPrefixEntry* shortEntry = nullptr;
    std::uint64_t units = 0;
    if (!pooled_) {
        std::size_t n = 0;
        while (n < 4 && prefix[n]) units |= std::uint64_t(prefix[n]) << (16 * n), ++n;
        if (!prefix[n]) {
            shortEntry = &shortPrefixCache_[(units ^ (units >> 29)) & 63];
            if (shortEntry->units == units) {
                *kind = shortEntry->kind;
                return shortEntry->id;
            }
        }
    }
    std::size_t n = length(prefix);
    std::u16string_view key(prefix, n);
    std::uint32_t id;
    auto found = declarationIds_.find(key);
    if (found != declarationIds_.end()) {
        id = found->second;
    } else {
        std::u16string name(u"xmlns:");
        name.append(prefix, n);
        id = intern(name.data(), name.size(), DECLARATION);
    }
    *kind = key == u"xmlns" ? XMLNS_PREFIX : key == u"xml" ? XML_PREFIX : OTHER_PREFIX;
    if (pooled_) {
        cached.prefix = prefix;
        cached.id = id;
        cached.kind = *kind;
    } else if (shortEntry) {
        shortEntry->units = units;
        shortEntry->id = id;
        shortEntry->kind = *kind;
    }
    return id;
}

std::uint32_t Axes::xmlAttributeId(const XMLCh* name) {
    std::u16string_view key(name, length(name));
    auto found = xmlAttributeIds_.find(key);
    if (found != xmlAttributeIds_.end()) return found->second;
    return intern(name, key.size(), XML_ATTRIBUTE);
}

void Axes::restore(const Mark& m) {
    if (inheritedLog_.size() > m.inherited) {
        if (!pooled_) {
            values_.release(valueTops_[m.inherited]);
            valueTops_.resize(m.inherited);
        }
        do {
            const Change& c = inheritedLog_.back();
            inherited_[c.id] = c.previous;
            inheritedLog_.pop_back();
        } while (inheritedLog_.size() > m.inherited);
    }
    while (renderedLog_.size() > m.rendered) {
        const Change& c = renderedLog_.back();
        rendered_[c.id] = c.previous;
        renderedLog_.pop_back();
    }
    renderedUpTo_ = m.renderedUpTo;
}

// Binding compares with the parent's scope: a name the element bound already is compared with
// the value it had before the element.
void Axes::bind(std::uint32_t id, const XMLCh* value, bool stable) {
    if (!value) value = kEmpty;
    bool bound = boundAt_[id] == stamp_;
    const XMLCh* parent = bound ? parentValue_[id] : inherited_[id];
    // A value equal to the parent's passed the relative test when the parent's was bound, and
    // changes nothing. Documents repeat the same pair of strings (a declaration's text and the
    // pooled namespace of the elements below it), so the last equal pair of a name is kept;
    // a streaming parse reuses its buffers, so there no pair is kept.
    if (parent == value) return;
    Equal& known = equal_[id];
    if (known.parent == parent && known.value == value) return;
    if (sameValue(parent, value)) {
        if (pooled_) {
            known.parent = parent;
            known.value = value;
        }
        return;
    }
    if (kinds_[id] == DECLARATION && !isMarker(value) && !hasColon(value)) {
        throw Exception(
            13006, Format("Invalid relative namespace URI: %S=\"%S\"", names_[id].c_str(), value));
    }
    if (!bound) {
        boundAt_[id] = stamp_;
        parentValue_[id] = inherited_[id];
        Change c = {id, inherited_[id]};
        inheritedLog_.push_back(c);
        if (!pooled_) valueTops_.push_back(values_.top());
    }
    inherited_[id] = pooled_ || stable || isMarker(value) ? value : values_.push(value);
}

const XMLCh* Axes::ValueStack::push(const XMLCh* s) {
    const std::size_t n = length(s) + 1;
    while (top_.block < blocks_.size() && blocks_[top_.block].capacity - top_.used < n) {
        // A value longer than a block gets a block of its own, in place of a short one.
        if (top_.used == 0 && n > blocks_[top_.block].capacity) {
            blocks_[top_.block].memory.reset(checkedAlloc(n * sizeof(XMLCh)));
            blocks_[top_.block].capacity = n;
            break;
        }
        ++top_.block;
        top_.used = 0;
    }
    if (top_.block == blocks_.size()) {
        const std::size_t capacity = n > kBlock ? n : kBlock;
        Block b = {std::unique_ptr<void, AMXMLDelete>(checkedAlloc(capacity * sizeof(XMLCh))),
                   capacity};
        blocks_.push_back(std::move(b));
    }
    XMLCh* copy = static_cast<XMLCh*>(blocks_[top_.block].memory.get()) + top_.used;
    std::memcpy(copy, s, n * sizeof(XMLCh));
    top_.used += n;
    return copy;
}

bool Axes::accepted(Attribute& a) {
    if (a.accepted < 0) {
        switch (selection_.kind) {
            case Selection::ALL:
                a.accepted = 1;
                break;
            case Selection::NONE:
                a.accepted = 0;
                break;
            case Selection::OUTSIDE:
                a.accepted = !selection_.set->contains(a.node);
                break;
            case Selection::FILTER:
                a.accepted = selection_.filter->accept(a.node);
                break;
        }
    }
    return a.accepted != 0;
}

void Axes::scope(DOMElement* e, bool included, const Selection& attributes) {
    attributes_.clear();
    xercesc::DOMNamedNodeMap* map = e->getAttributes();
    XMLSize_t count = map ? map->getLength() : 0;
    for (XMLSize_t i = 0; i < count; ++i) {
        DOMAttr* node = static_cast<DOMAttr*>(map->item(i));
        pushAttribute(node, node->getNodeName(), node->getLocalName(), node->getPrefix(),
                      node->getNamespaceURI(), attributeValue(node), true);
    }
    bindAll(e->getPrefix(), e->getNamespaceURI(), included, attributes);
}

void Axes::addAttribute(DOMAttr* node, const XMLCh* name, const XMLCh* localName,
                        const XMLCh* prefix, const XMLCh* namespaceURI, const XMLCh* value,
                        bool stableValue) {
    pushAttribute(node, name, localName, prefix, namespaceURI, value, stableValue);
}

void Axes::scope(const XMLCh* prefix, const XMLCh* namespaceURI, bool included,
                 const Selection& attributes) {
    bindAll(prefix, namespaceURI, included, attributes);
}

void Axes::orderAttributesByName() {
    std::stable_sort(attributes_.begin(), attributes_.end(),
                     [](const Attribute& x, const Attribute& y) {
                         const XMLCh *a = x.name, *b = y.name;
                         while (*a && *a == *b) ++a, ++b;
                         return *a < *b;
                     });
}

inline void Axes::pushAttribute(DOMAttr* node, const XMLCh* name, const XMLCh* localName,
                                const XMLCh* prefix, const XMLCh* namespaceURI, const XMLCh* value,
                                bool stableValue) {
    Attribute a;
    a.node = node;
    a.name = name;
    a.localName = localName;
    a.namespaceURI = namespaceURI;
    a.value = value;
    a.id = declarationId(prefix, &a.prefix);
    a.defaultDeclaration = a.prefix == NO_PREFIX && a.name[0] == u'x' && equals(a.name, u"xmlns");
    a.stableValue = stableValue;
    a.accepted = -1;
    attributes_.push_back(a);
}

inline void Axes::bindAll(const XMLCh* prefix, const XMLCh* namespaceURI, bool included,
                          const Selection& attributes) {
    ++stamp_;
    selection_ = attributes;
    if (namespaceExpanded_) return;

    for (Attribute& a : attributes_) {
        switch (a.prefix) {
            case NO_PREFIX:
                if (a.defaultDeclaration && (!exclusive_ || unsuppressed_[kXmlnsId])) {
                    bind(kXmlnsId, *a.value ? a.value : kOmittedMarker, a.stableValue);
                }
                break;
            case XMLNS_PREFIX: {
                // A declaration "xmlns:p" binds the name of prefix p.
                PrefixKind kind;
                std::uint32_t declared = declarationId(a.localName, &kind);
                if (!exclusive_ || unsuppressed_[declared]) bind(declared, a.value, a.stableValue);
                break;
            }
            case XML_PREFIX:
                if (!exclusive_) {
                    bind(xmlAttributeId(a.name), a.value, a.stableValue);
                    break;
                }
                // In exclusive mode the xml prefix is an ordinary one.
                [[fallthrough]];
            case OTHER_PREFIX:
                if (!exclusive_ || unsuppressed_[a.id] || (included && accepted(a))) {
                    bind(a.id, a.namespaceURI);
                }
                break;
        }
    }
    PrefixKind kind;
    std::uint32_t id = declarationId(prefix, &kind);
    if (!exclusive_ || included || unsuppressed_[id]) {
        if (id == kXmlnsId) {
            bind(kXmlnsId, namespaceURI && *namespaceURI ? namespaceURI : kOmittedMarker);
        } else {
            bind(id, namespaceURI);
        }
    }
}

// Entries are kept sorted as they come (a start tag holds a handful); an entry whose key equals
// an earlier one's replaces it. A start tag with many attributes is sorted once at its end.
void Axes::add(const XMLCh* keyHead, XMLCh keySeparator, const XMLCh* keyTail, const XMLCh* name,
               const XMLCh* value) {
    Entry entry = {keyHead, keySeparator, keyTail, name, value};
    if (unsorted_ || entries_.size() >= kInsertionSortLimit) {
        unsorted_ = true;
        entries_.push_back(entry);
        return;
    }
    std::size_t j = entries_.size();
    int c = 1;
    while (j > 0 && (c = compareKeys(entry, entries_[j - 1])) < 0) --j;
    if (c == 0) {
        entries_[j - 1] = entry;
    } else if (j == entries_.size()) {
        entries_.push_back(entry);
    } else {
        entries_.push_back(entries_.back());
        for (std::size_t k = entries_.size() - 2; k > j; --k) entries_[k] = entries_[k - 1];
        entries_[j] = entry;
    }
}

// Of entries with equal keys the one added last stays, as add() keeps it.
void Axes::sortEntries() {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& x, const Entry& y) { return compareKeys(x, y) < 0; });
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (kept && compareKeys(entries_[kept - 1], entries_[i]) == 0) {
            entries_[kept - 1] = entries_[i];
        } else {
            entries_[kept++] = entries_[i];
        }
    }
    entries_.resize(kept);
    unsorted_ = false;
}

void Axes::startTag(bool included, bool parentOutput) {
    entries_.clear();
    if (included && renderedUpTo_ < inheritedLog_.size()) {
        // Only names bound since the rendered scope was last brought up to date can differ.
        for (std::size_t i = renderedUpTo_; i < inheritedLog_.size(); ++i) {
            std::uint32_t id = inheritedLog_[i].id;
            if (seenAt_[id] == stamp_ || kinds_[id] != DECLARATION) continue;
            seenAt_[id] = stamp_;
            const XMLCh* value = inherited_[id];
            const XMLCh* rendered = rendered_[id];
            if (value == rendered) continue;
            if (value == kOmittedMarker) {
                // No default namespace here, but the output ancestor has one: undeclare it.
                if (rendered != kOmittedMarker)
                    add(kDeclarationHead, 0, u"xmlns", u"xmlns", kEmpty);
            } else if (value && !isMarker(value) && !sameValue(rendered, value)) {
                add(kDeclarationHead, 0, names_[id].c_str(), names_[id].c_str(), value);
            }
            // The rendered scope becomes this element's scope.
            Change c = {id, rendered};
            renderedLog_.push_back(c);
            rendered_[id] = value;
        }
        renderedUpTo_ = inheritedLog_.size();
    } else if (included) {
        renderedUpTo_ = inheritedLog_.size();
    }
    if (included && !exclusive_ && !parentOutput) {
        // xml: attributes in force from ancestors that are not output.
        for (std::uint32_t id : xmlAttributes_) {
            const XMLCh* value = boundAt_[id] == stamp_ ? parentValue_[id] : inherited_[id];
            if (!value) continue;
            const XMLCh* name = names_[id].c_str();
            bool carried = false;
            for (const Attribute& a : attributes_) {
                if (a.prefix == XML_PREFIX && StringUtil::cmp(a.name, name) == 0) {
                    carried = true;
                    break;
                }
            }
            if (!carried) add(kXmlNamespace, 0x02, name + 4, name, value);
        }
    }
    for (Attribute& a : attributes_) {
        if (a.defaultDeclaration || a.prefix == XMLNS_PREFIX || !accepted(a)) continue;
        add(a.namespaceURI ? a.namespaceURI : kEmpty, 0x02, a.localName ? a.localName : a.name,
            a.name, a.value);
    }
    if (unsorted_) sortEntries();
}

// Keeps the names bound in either scope (all are in the logs), the fixed and the unsuppressed
// ones, numbered anew in their old order.
void Axes::compact() {
    const std::uint32_t kDropped = ~std::uint32_t(0);
    std::vector<std::uint32_t> renumbered(names_.size(), kDropped);
    for (std::uint32_t id = 0; id < names_.size(); ++id) {
        if (id <= kXmlnsXmlnsId || unsuppressed_[id]) renumbered[id] = 0;
    }
    for (const Change& c : inheritedLog_) renumbered[c.id] = 0;
    for (const Change& c : renderedLog_) renumbered[c.id] = 0;

    std::deque<std::u16string> names;
    std::vector<Kind> kinds;
    std::vector<bool> unsuppressed;
    std::vector<const XMLCh*> inherited, rendered;
    std::vector<Equal> equal;
    for (std::uint32_t id = 0; id < names_.size(); ++id) {
        if (renumbered[id] == kDropped) continue;
        renumbered[id] = static_cast<std::uint32_t>(names.size());
        names.push_back(std::move(names_[id]));
        kinds.push_back(kinds_[id]);
        unsuppressed.push_back(unsuppressed_[id]);
        inherited.push_back(inherited_[id]);
        rendered.push_back(rendered_[id]);
        equal.push_back(equal_[id]);
    }
    for (Change& c : inheritedLog_) c.id = renumbered[c.id];
    for (Change& c : renderedLog_) c.id = renumbered[c.id];
    std::vector<std::uint32_t> xmlAttributes;
    for (std::uint32_t id : xmlAttributes_) {
        if (renumbered[id] != kDropped) xmlAttributes.push_back(renumbered[id]);
    }

    names_.swap(names);
    kinds_.swap(kinds);
    unsuppressed_.swap(unsuppressed);
    inherited_.swap(inherited);
    rendered_.swap(rendered);
    equal_.swap(equal);
    xmlAttributes_.swap(xmlAttributes);
    const std::size_t n = names_.size();
    boundAt_.assign(n, 0);
    parentValue_.assign(n, nullptr);
    seenAt_.assign(n, 0);
    declarationIds_.clear();
    xmlAttributeIds_.clear();
    for (std::uint32_t id = 0; id < n; ++id) {
        const std::u16string& name = names_[id];
        if (kinds_[id] == DECLARATION) {
            std::u16string_view prefix(name);
            prefix.remove_prefix(name.size() > 5 ? 6 : 5);
            declarationIds_.emplace(prefix, id);
        } else {
            xmlAttributeIds_.emplace(std::u16string_view(name), id);
        }
    }
    std::memset(prefixCache_, 0, sizeof prefixCache_);
    std::memset(shortPrefixCache_, 0, sizeof shortPrefixCache_);
    compactAt_ = 2 * n > kCompactAtLeast ? 2 * n : kCompactAtLeast;
}

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite
