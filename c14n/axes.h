// The namespace and attribute axes of canonical XML: the namespace scope of each element and
// the sorted content of its start tag.
#ifndef AMBRITE_XML_C14N_AXES_H
#define AMBRITE_XML_C14N_AXES_H

#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Ambrite {
namespace XML {
namespace C14n {
namespace detail {

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
         const PrefixSet* unsuppressedPrefixes);
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
        const NodeHashSet* set;          // OUTSIDE: those not in this set
        const NodeSet::Filter* filter;   // FILTER: those it accepts
    };

    /// Applies the bindings of element e to the inherited scope (undone by restore()); throws
    /// Exception 13006 for a relative namespace URI.
    void scope(DOMElement* e, bool included, const Selection& attributes);

    /// The declarations and attributes of the start tag of the element of the last scope() call,
    /// sorted; when it is included, its scope becomes the rendered one.
    void startTag(bool included, bool parentOutput);
    const Entry* begin() const { return entries_.data(); }
    const Entry* end() const { return entries_.data() + entries_.size(); }

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
        std::int8_t accepted;     // -1 not asked yet, else the filter's answer
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

    std::uint32_t intern(const XMLCh* name, std::size_t length, Kind kind);
    std::uint32_t declarationId(const XMLCh* prefix, PrefixKind* kind);
    std::uint32_t xmlAttributeId(const XMLCh* name);
    void bind(std::uint32_t id, const XMLCh* value);
    bool accepted(Attribute& a);
    void add(const XMLCh* keyHead, XMLCh keySeparator, const XMLCh* keyTail, const XMLCh* name,
             const XMLCh* value);

    bool exclusive_;
    bool namespaceExpanded_;

    // Interned names, by id; a deque, so that views of them stay valid as it grows.
    std::deque<std::u16string> names_;
    std::vector<Kind> kinds_;
    std::vector<bool> unsuppressed_;
    std::unordered_map<std::u16string_view, std::uint32_t> declarationIds_;  // by prefix
    std::unordered_map<std::u16string_view, std::uint32_t> xmlAttributeIds_;  // by name
    std::vector<std::uint32_t> xmlAttributes_;
    PrefixCacheEntry prefixCache_[256];

    // The two scopes, by id (null: unbound), and their undo logs.
    std::vector<const XMLCh*> inherited_;
    std::vector<const XMLCh*> rendered_;
    std::vector<Change> inheritedLog_;
    std::vector<Change> renderedLog_;
    // The rendered scope equals the inherited scope as it was at this length of its log.
    std::size_t renderedUpTo_;

    // Per element: which names it has bound already, and their values in its parent's scope.
    std::uint64_t stamp_;
    std::vector<std::uint64_t> boundAt_;
    std::vector<const XMLCh*> parentValue_;
    std::vector<std::uint64_t> seenAt_;
    std::vector<Equal> equal_;

    std::vector<Attribute> attributes_;
    Selection selection_;
    std::vector<Entry> entries_;
};

}  // namespace detail
}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite

#endif
