// The namespace and attribute axes of canonical XML: the namespace scope of each element and
// the sorted content of its start tag.
#ifndef AMBRITE_XML_C14N_AXES_H
#define AMBRITE_XML_C14N_AXES_H

#include <ambrite/xml/c14n.h>
#include <ambrite/xml/nodeset.h>

#include <memory>
#include <vector>

#include "c14n/writer.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMAttr;
class DOMElement;
XERCES_CPP_NAMESPACE_END

namespace Ambrite {
namespace XML {
namespace C14n {
namespace detail {

/// Binding name ("xmlns", "xmlns:p", or in inclusive mode "xml:lang" and the like) to value.
typedef MyMap<const XMLCh*, const XMLCh*, StringComparator> Scope;

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

/// A scope under construction: the parent's scope until a binding changes, then an own copy.
class ScopeBuilder {
public:
    explicit ScopeBuilder(const Scope* parent) : parent_(parent) {}
    const Scope* parent() const { return parent_; }
    const Scope* scope() const { return own_ ? own_.get() : parent_; }
    bool changed() const { return own_ != nullptr; }
    /// The new scope, for the caller to keep (null when nothing changed).
    Scope* release() { return own_.release(); }
    Scope& own() {
        if (!own_) own_.reset(new Scope(*parent_));
        return *own_;
    }

private:
    const Scope* parent_;
    std::unique_ptr<Scope> own_;
};

/// Per-run state of the axes: mode switches, the unsuppressed declaration names, the composed
/// "xmlns:p" names, and scratch space reused from element to element.
class Axes {
public:
    Axes(bool exclusive, bool namespaceExpanded, bool emitNullApexXMLNS,
         const PrefixSet* unsuppressedPrefixes);
    ~Axes();
    Axes(const Axes&) = delete;
    Axes& operator=(const Axes&) = delete;

    /// A new baseline scope (default namespace absent, xml and xmlns bound).
    Scope* baseline() const;

    /// Computes the scope of element e from the parent scope; throws Exception 13006 for a
    /// relative namespace URI. `filter` decides which attributes are in the node set.
    void scope(DOMElement* e, bool included, const NodeSet::Filter* filter, ScopeBuilder& s);

    /// Writes the declarations and attributes of e's start tag (after "<" and the name when
    /// included); `s` is e's scope, `rendered` the scope last written out, `parent` the scope of
    /// e's parent. Uses the attributes gathered by the preceding scope() call for e.
    void startTag(Writer& out, bool included, bool parentOutput, const Scope* s,
                  const Scope* rendered, const Scope* parent);

    static bool isMarker(const XMLCh* value);

private:
    struct Attribute {
        DOMAttr* node;
        const XMLCh* name;
        const XMLCh* prefix;
        const XMLCh* localName;
        const XMLCh* namespaceURI;
        const XMLCh* value;
        int accepted;  // -1 not asked yet, else the filter's answer
    };
    struct Entry {
        const XMLCh* keyHead;
        XMLCh keySeparator;
        const XMLCh* keyTail;
        const XMLCh* name;
        const XMLCh* value;
    };

    void gather(DOMElement* e, const NodeSet::Filter* filter);
    bool accepted(Attribute& a);
    void bind(ScopeBuilder& s, const XMLCh* name, const XMLCh* value);
    const XMLCh* declarationName(const XMLCh* prefix);
    bool unsuppressed(const XMLCh* name) const;
    void add(const XMLCh* keyHead, XMLCh keySeparator, const XMLCh* keyTail, const XMLCh* name,
             const XMLCh* value);

    bool exclusive_;
    bool namespaceExpanded_;
    bool emitNullApexXMLNS_;
    PrefixSet unsuppressed_;          // composed declaration names, owned
    MyMap<const XMLCh*, const XMLCh*, StringComparator> declarationNames_;  // prefix -> name
    std::vector<XMLCh*> ownedNames_;
    std::vector<Attribute> attributes_;
    const NodeSet::Filter* filter_;
    DOMElement* element_;
    std::vector<Entry> entries_;
};

}  // namespace detail
}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite

#endif
