#include "c14n/axes.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {
namespace C14n {
namespace detail {

namespace {

const XMLCh kXmlns[] = u"xmlns";
const XMLCh kXmlnsXml[] = u"xmlns:xml";
const XMLCh kXmlnsXmlns[] = u"xmlns:xmlns";
const XMLCh kXml[] = u"xml";
const XMLCh kXmlNamespace[] = u"http://www.w3.org/XML/1998/namespace";
const XMLCh kXmlnsNamespace[] = u"http://www.w3.org/2000/xmlns/";
const XMLCh kEmpty[] = u"";
const XMLCh kDeclarationHead[] = u"\x01";

// The two markers are told apart from namespace names by identity, never by text; each text is
// an absolute URN so that it passes the relative-namespace test.
const XMLCh kOmittedMarker[] = u"urn:x-ambrite-xml:c14n:no-default-namespace";
const XMLCh kApexMarker[] = u"urn:x-ambrite-xml:c14n:above-apex";

bool startsWithXmlns(const XMLCh* name) { return StringUtil::ncmp(name, kXmlns, 5) == 0; }

// The xml: attribute entries of an inclusive scope have ':' as their fourth unit.
bool isXmlAttributeEntry(const XMLCh* name) {
    return name[0] && name[1] && name[2] && name[3] == u':';
}

bool sameValue(const XMLCh* a, const XMLCh* b) {
    if (a == b) return true;
    if (Axes::isMarker(a) || Axes::isMarker(b)) return false;
    return StringUtil::cmp(a, b) == 0;
}

// Compares the keys head + separator + tail of two entries as the code-unit strings they stand
// for, without building them.
class KeyCursor {
public:
    KeyCursor(const XMLCh* head, XMLCh separator, const XMLCh* tail)
        : p_(head), separator_(separator), tail_(tail), stage_(0) {}
    XMLCh next() {
        for (;;) {
            switch (stage_) {
                case 0:
                    if (*p_) return *p_++;
                    stage_ = 1;
                    break;
                case 1:
                    stage_ = 2;
                    p_ = tail_;
                    if (separator_) return separator_;
                    break;
                default:
                    return *p_ ? *p_++ : 0;
            }
        }
    }

private:
    const XMLCh* p_;
    XMLCh separator_;
    const XMLCh* tail_;
    int stage_;
};

}  // namespace

bool Axes::isMarker(const XMLCh* value) { return value == kOmittedMarker || value == kApexMarker; }

Axes::Axes(bool exclusive, bool namespaceExpanded, bool emitNullApexXMLNS,
           const PrefixSet* unsuppressedPrefixes)
    : exclusive_(exclusive), namespaceExpanded_(namespaceExpanded),
      emitNullApexXMLNS_(emitNullApexXMLNS), filter_(nullptr), element_(nullptr) {
    if (unsuppressedPrefixes) {
        for (PrefixSet::iterator it = unsuppressedPrefixes->begin();
             it != unsuppressedPrefixes->end(); ++it) {
            unsuppressed_.insert(declarationName(*it));
        }
    }
}

Axes::~Axes() {
    for (XMLCh* name : ownedNames_) utfree(name);
}

Scope* Axes::baseline() const {
    Scope* s = new Scope;
    (*s)[kXmlns] = emitNullApexXMLNS_ ? kApexMarker : kOmittedMarker;
    (*s)[kXmlnsXml] = kXmlNamespace;
    (*s)[kXmlnsXmlns] = kXmlnsNamespace;
    return s;
}

const XMLCh* Axes::declarationName(const XMLCh* prefix) {
    if (!prefix || !*prefix) return kXmlns;
    MyMap<const XMLCh*, const XMLCh*, StringComparator>::iterator it =
        declarationNames_.find(prefix);
    if (it != declarationNames_.end()) return it->value;
    // "xmlns:" + prefix; the map's key points at the prefix inside the composed name.
    std::size_t n = internal::length(prefix);
    XMLCh* name = static_cast<XMLCh*>(internal::checkedAlloc((n + 7) * sizeof(XMLCh)));
    ownedNames_.push_back(name);
    std::memcpy(name, u"xmlns:", 6 * sizeof(XMLCh));
    std::memcpy(name + 6, prefix, (n + 1) * sizeof(XMLCh));
    declarationNames_[name + 6] = name;
    return name;
}

bool Axes::unsuppressed(const XMLCh* name) const {
    return !unsuppressed_.empty() && unsuppressed_.find(name) != unsuppressed_.end();
}

void Axes::bind(ScopeBuilder& s, const XMLCh* name, const XMLCh* value) {
    if (!value) value = kEmpty;
    const Scope* parent = s.parent();
    Scope::iterator found = parent->find(name);
    // A value identical to the parent's passed the relative test when it was bound.
    if (found != parent->end() && found->value == value) return;
    if (startsWithXmlns(name) && !isMarker(value) && !StringUtil::find(value, u':')) {
        throw Exception(13006, Format("Invalid relative namespace URI: %S=\"%S\"", name, value));
    }
    if (found != parent->end() && sameValue(found->value, value)) return;
    s.own()[name] = value;
}

void Axes::gather(DOMElement* e, const NodeSet::Filter* filter) {
    element_ = e;
    filter_ = filter;
    attributes_.clear();
    xercesc::DOMNamedNodeMap* map = e->getAttributes();
    XMLSize_t n = map ? map->getLength() : 0;
    for (XMLSize_t i = 0; i < n; ++i) {
        DOMAttr* a = static_cast<DOMAttr*>(map->item(i));
        Attribute info;
        info.node = a;
        info.name = a->getNodeName();
        info.prefix = a->getPrefix();
        info.localName = a->getLocalName();
        info.namespaceURI = a->getNamespaceURI();
        info.value = a->getValue();
        if (!info.value) info.value = kEmpty;
        info.accepted = -1;
        attributes_.push_back(info);
    }
}

bool Axes::accepted(Attribute& a) {
    if (a.accepted < 0) a.accepted = filter_->accept(a.node) ? 1 : 0;
    return a.accepted != 0;
}

void Axes::scope(DOMElement* e, bool included, const NodeSet::Filter* filter, ScopeBuilder& s) {
    gather(e, filter);
    if (namespaceExpanded_) return;
    for (Attribute& a : attributes_) {
        if (StringUtil::cmp(a.name, kXmlns) == 0) {
            if (!exclusive_ || unsuppressed(kXmlns)) bind(s, kXmlns, *a.value ? a.value : kOmittedMarker);
        } else if (!a.prefix || !*a.prefix) {
            continue;
        } else if (StringUtil::cmp(a.prefix, kXmlns) == 0) {
            if (!exclusive_ || unsuppressed(a.name)) bind(s, a.name, a.value);
        } else if (!exclusive_ && StringUtil::cmp(a.prefix, kXml) == 0) {
            bind(s, a.name, a.value);
        } else {
            const XMLCh* name = declarationName(a.prefix);
            if (!exclusive_ || unsuppressed(name) || (included && accepted(a))) {
                bind(s, name, a.namespaceURI);
            }
        }
    }
    const XMLCh* prefix = e->getPrefix();
    const XMLCh* uri = e->getNamespaceURI();
    const XMLCh* name = declarationName(prefix);
    if (!exclusive_ || included || unsuppressed(name)) {
        if (name == kXmlns) {
            bind(s, kXmlns, uri && *uri ? uri : kOmittedMarker);
        } else {
            bind(s, name, uri);
        }
    }
}

void Axes::add(const XMLCh* keyHead, XMLCh keySeparator, const XMLCh* keyTail,
               const XMLCh* name, const XMLCh* value) {
    Entry entry = {keyHead, keySeparator, keyTail, name, value};
    entries_.push_back(entry);
}

void Axes::startTag(Writer& out, bool included, bool parentOutput, const Scope* s,
                    const Scope* rendered, const Scope* parent) {
    entries_.clear();
    if ((included || namespaceExpanded_) && s != rendered) {
        for (Scope::iterator it = s->begin(); it != s->end(); ++it) {
            if (isXmlAttributeEntry(it->key) || isMarker(it->value)) continue;
            Scope::iterator r = rendered->find(it->key);
            if (r != rendered->end() && sameValue(r->value, it->value)) continue;
            add(kDeclarationHead, 0, it->key, it->key, it->value);
        }
    }
    if (included) {
        Scope::iterator d = s->find(kXmlns);
        if (d != s->end() && d->value == kOmittedMarker) {
            Scope::iterator r = rendered->find(kXmlns);
            if (r == rendered->end() || r->value != kOmittedMarker) {
                add(kDeclarationHead, 0, kXmlns, kXmlns, kEmpty);
            }
        }
        if (!exclusive_ && !parentOutput) {
            for (Scope::iterator it = parent->begin(); it != parent->end(); ++it) {
                if (!isXmlAttributeEntry(it->key)) continue;
                bool carried = false;
                for (const Attribute& a : attributes_) {
                    if (StringUtil::cmp(a.name, it->key) == 0) {
                        carried = true;
                        break;
                    }
                }
                if (!carried) add(kXmlNamespace, u'\x02', it->key + 4, it->key, it->value);
            }
        }
    }
    for (Attribute& a : attributes_) {
        if (StringUtil::cmp(a.name, kXmlns) == 0) continue;
        if (a.prefix && StringUtil::cmp(a.prefix, kXmlns) == 0) continue;
        if (!accepted(a)) continue;
        add(a.namespaceURI ? a.namespaceURI : kEmpty, u'\x02', a.localName ? a.localName : a.name,
            a.name, a.value);
    }
    if (entries_.empty()) return;

    // Insertion sort: start tags hold a handful of entries, and it is stable, so that among
    // equal keys the one added last ends up last and wins below.
    auto less = [](const Entry& x, const Entry& y) {
        KeyCursor cx(x.keyHead, x.keySeparator, x.keyTail);
        KeyCursor cy(y.keyHead, y.keySeparator, y.keyTail);
        for (;;) {
            XMLCh ux = cx.next(), uy = cy.next();
            if (ux != uy) return ux < uy;
            if (!ux) return false;
        }
    };
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        Entry e = entries_[i];
        std::size_t j = i;
        while (j > 0 && less(e, entries_[j - 1])) {
            entries_[j] = entries_[j - 1];
            --j;
        }
        entries_[j] = e;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i + 1 < entries_.size() && !less(entries_[i], entries_[i + 1])) continue;
        const Entry& e = entries_[i];
        out.piece(u" ", 1);
        out.name(e.name);
        out.piece(u"=\"", 2);
        out.attr(e.value);
        out.piece(u"\"", 1);
    }
}

}  // namespace detail
}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite
