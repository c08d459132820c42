// Private to the library: the parser's bounds, the escape tables of canonical XML, and the one
// document-order walk over Xerces-C trees that every subsystem uses.
#ifndef AMBRITE_XML_DOM_INTERNAL_H
#define AMBRITE_XML_DOM_INTERNAL_H

#include <ambrite/xml/dom.h>

#include <climits>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/dom/DOMText.hpp>

#include "foundation/internal.h"
#include "streams/internal.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMImplementation;
class MemoryManager;
class SecurityManager;
class XMLAttr;
class XMLElementDecl;
class XMLEntityDecl;
class XMLScanner;
template <class T>
class RefVectorOf;
XERCES_CPP_NAMESPACE_END

namespace Ambrite {
namespace XML {
namespace internal {

// ---------------------------------------------------------------------------------------------
// Parsing

/// The library's Exception for a Xerces-C DOMException: id 1000 + code, DOMUtil::format text.
Exception convert(const xercesc::DOMException& e);

/// The DOM implementation of the load-and-save interface; Exception 10 when there is none.
xercesc::DOMImplementation* domImplementation();

/// Tells the parse running on this thread, if any, that its input delivered `count` more bytes
/// (the last of them at `bytes`); a count of 0 marks the end of the input.
void delivered(const unsigned char* bytes, std::size_t count);

/// Most entity expansions one parse may perform before it fails.
constexpr unsigned int kEntityExpansionLimit = 10000;
/// Most UTF-16 units one parse may produce beyond its input: entity replacement text, DTD
/// default attribute values and attribute values longer than the bytes read.
constexpr unsigned long long kExpansionTextLimit = 10000000;
/// The scanner looks a namespace prefix up through every open element and every namespace
/// declaration in scope, so an element and each of its prefixed attributes (xml: and xmlns:
/// aside) cost its depth plus the declarations in scope; one parse may spend what a chain at the
/// depth limit with a declaration on every level needs, a fixed allowance and a multiple of the
/// bytes read.
constexpr unsigned long long kNestingCostBase = 1ull << 25;
constexpr unsigned long long kNestingCostPerByte = 128;
/// Most attributes of one element, namespace declarations and DTD defaults included. Xerces-C
/// resolves the prefix of each attribute through the declarations in scope before any callback
/// sees the element, so the bound is also checked while the scanner collects them (see
/// BoundedParser), and the declarations in scope are bounded too: by this or by the depth
/// limit, whichever is higher.
constexpr unsigned int kAttributeLimit = 10000;
constexpr unsigned int kDeclarationLimit = 10000;
/// Most entity and notation declarations of one document: the document type keeps them in
/// hash tables of fixed size.
constexpr unsigned int kEntityDeclarationLimit = 10000;
/// Attributes one parse may make from DTD defaults, in the elements and in their maps of
/// defaults: this many, plus one per two bytes read.
constexpr unsigned long long kDefaultAttributeBase = 100000;
/// Memory one parse may hold: a fixed allowance plus a multiple of the bytes read, and never
/// more than DOMUtil::Limits::maxMemory().
constexpr unsigned long long kParseMemoryBase = 128ull << 20;
constexpr unsigned long long kParseMemoryPerByte = 256;
/// Memory one parse may request in all, as a multiple of what it may hold: every entity
/// expansion takes a reader with some 160 KB of buffers, also those the scanner does not count.
constexpr unsigned long long kParseMemoryTurnover = 32;

/// Blocks that parsers and their documents hold through the library's Xerces-C memory manager.
std::size_t parseMemoryBlocks();

/// The bounds and checks of every parse, shared by the DOM parser and the streaming one. A parser
/// derives from it and from its Xerces-C parser, runs each parse inside a Run, and calls the
/// hooks below from its overrides of the scanner's callbacks, before passing them on (after,
/// for the ends of elements and entity references). Besides the configuration it bounds what a
/// document can make the parse produce or hold, since the scanner itself only counts entity
/// expansions:
/// - text beyond the input: entity replacement text, DTD default attribute values and attribute
///   values longer than the bytes read (entity references inside them), kExpansionTextLimit
///   units in all;
/// - nesting: DOMUtil::Limits::maxDepth() elements and entity references, and the time the
///   scanner's namespace lookup takes, which for every element and prefixed attribute is in
///   proportion to the depth and the declarations in scope;
/// - attributes: kAttributeLimit per element (also while the scanner collects them), namespace
///   declarations in scope, attributes made from DTD defaults, entity and notation
///   declarations;
/// - memory: everything the parse allocates (scanner buffers, DTD, the document), which also
///   covers what is built inside the scanner before any callback sees it (an attribute default
///   made of entity references, parameter entities replayed in the internal subset), never more
///   than DOMUtil::Limits::maxMemory(); and what it requests in all, which bounds the
///   expansions the scanner does not count.
/// Each ends the parse with Exception 9 in the shape of the parser's own fatal errors. It also
/// refuses what the scanner lets through: UTF-7, input that ends inside a character, unpaired
/// surrogates, DTD defaults that declare what no document may write or give a name another
/// namespace, and references to entities only the external subset could declare.
class ParseBounds {
public:
    /// A parser that holds nothing of what it reads (a streaming one) is charged for the
    /// replacement text of every entity expansion as if it held it, as a DOM holds what the
    /// expansion builds: otherwise a DTD that replays a long parameter entity would cost work
    /// in proportion to the square of its size.
    ParseBounds(const DOMUtil::Limits& limits, bool holdsDocument);
    ParseBounds(const ParseBounds&) = delete;
    ParseBounds& operator=(const ParseBounds&) = delete;

    /// The parse running on this thread, if any.
    static ParseBounds* active();
    /// Input handed to the running parse: `count` bytes ending at `bytes`, 0 at its end.
    void delivered(const unsigned char* bytes, std::size_t count);
    /// Charges an allocation of the running parse, which has just made `previous` (a block of
    /// `previousSize` bytes, still live) unless that is null; large ones fail beyond the
    /// allowance.
    void allocating(std::size_t bytes, void* previous, std::size_t previousSize);
    /// Credits a block that was charged to this parse and is given back during it.
    void released(std::size_t bytes) { allocated_ -= bytes < allocated_ ? bytes : allocated_; }
    /// Tells the parses apart, so that blocks of an earlier parse are not credited to a later.
    unsigned long long serial() const { return serial_; }

protected:
    virtual ~ParseBounds();

    /// One parse: counts from zero and charges the thread's allocations to this parser while it
    /// lives. check() throws a failure the scanner swallowed.
    class Run {
    public:
        explicit Run(ParseBounds& bounds);
        ~Run();
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;
        void check() const;

    private:
        ParseBounds& bounds_;
        ParseBounds* outer_;
    };

    // Hooks, called before the parser passes the callback of the same name on (endElement and
    // endEntityReference after).
    void startDocument();
    void XMLDecl(const XMLCh* version, const XMLCh* encoding, const XMLCh* actualEncoding);
    void endDocument();
    void startEntityReference(const xercesc::XMLEntityDecl& entity);
    void endEntityReference();
    void startElement(const xercesc::XMLElementDecl& element, const XMLCh* prefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, std::size_t count);
    /// After startElement, for an element that has content (not an empty one): the namespaces
    /// its names resolved to, which shorten the scanner's later prefix lookups.
    void keepBindings(unsigned int uri, const XMLCh* prefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, std::size_t count);
    /// `prefix` is the prefix of the element's name.
    void endElement(const XMLCh* prefix);
    void docPI(const XMLCh* data);
    void doctypeDecl(bool hasExtSubset);
    /// An entity or notation declaration.
    void declaration();

    /// The scanner of the parse.
    virtual xercesc::XMLScanner* boundedScanner() const = 0;

private:
    struct State;

    void enter();
    void checkEncoding(const XMLCh* name, const XMLCh* written);
    void checkDeclaration(const xercesc::XMLAttr& declaration);
    void rebinding(const XMLCh* prefix, const XMLCh* value);
    void checkDefaultedNames(const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                             std::size_t count);
    void checkRebound(const XMLCh* prefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                      std::size_t count);
    unsigned long long memoryAllowance() const;
    [[noreturn]] void failMemory();
    void checkMemory();
    void expanded(unsigned long long units);
    void keepBinding(const XMLCh* prefix, unsigned int uri);
    [[noreturn]] void fail(const std::string& message);
    [[noreturn]] void fail(const std::u16string& message);

    const DOMUtil::Limits limits_;
    const bool holdsDocument_;
    unsigned long long serial_ = 0;
    unsigned long long bytesRead_ = 0;
    unsigned long long allocated_ = 0;  // live bytes of this parse
    bool accounting_ = false;
    // The rest of what one parse keeps, made anew for each.
    std::unique_ptr<State> state_;
};

/// The Xerces-C memory manager of every parse, which charges its allocations to it.
xercesc::MemoryManager* parseMemoryManager();
/// Bounds the entity expansions of every parse.
xercesc::SecurityManager* entityExpansionLimit();
/// The failure a parser diagnostic ends the parse with: Exception 9, "SEVERITY: Line L, column
/// C, offset O: MESSAGE"; unknown locations (all bits set) as -1.
Exception parseFailure(const char* severity, XMLUInt64 line, XMLUInt64 column, XMLUInt64 offset,
                       const XMLCh* message);
/// A parse reads no external entity: Exception 13050 naming the entity's system or public id.
[[noreturn]] void refuseEntity(const XMLCh* publicId, const XMLCh* systemId);

/// One attribute of a start tag of a streaming parse, with the fields the DOM parser makes an
/// attribute node of.
struct StreamAttribute {
    const XMLCh* name;  // qualified
    const XMLCh* localName;
    const XMLCh* prefix;        // null when none
    const XMLCh* namespaceURI;  // null for none; "xmlns" and "xmlns:p" in that of declarations
    const XMLCh* value;
    bool pooledValue;  // the value (a declared namespace name) keeps its address for the parse
    bool isId;         // the DTD types it ID
};

/// The attributes of a start tag of a streaming parse: those written and those defaulted from
/// the DTD. Valid during the call that receives them; namespace names keep their addresses for
/// the whole parse.
class StreamAttributes {
public:
    StreamAttributes(const xercesc::RefVectorOf<xercesc::XMLAttr>& list, std::size_t count,
                     const xercesc::XMLScanner* scanner)
        : list_(list), count_(count), scanner_(scanner) {}
    std::size_t size() const { return count_; }
    void get(std::size_t i, StreamAttribute& attribute) const;

private:
    const xercesc::RefVectorOf<xercesc::XMLAttr>& list_;
    std::size_t count_;
    const xercesc::XMLScanner* scanner_;
};

/// Receives the content of a document from streamParse() in document order: what the DOM
/// parser would make nodes of, entity references expanded in place.
class StreamHandler {
public:
    virtual ~StreamHandler() {}
    /// `name` (the qualified name) and the namespace name keep their addresses and their text
    /// for the whole parse; the other strings are valid during the call only. Null prefix and
    /// namespace name when none.
    virtual void startElement(const XMLCh* name, const XMLCh* localName, const XMLCh* prefix,
                              const XMLCh* namespaceURI, const StreamAttributes& attributes) = 0;
    virtual void endElement(const XMLCh* name) = 0;
    /// Character data of element content, CDATA sections included, possibly in several pieces.
    virtual void characters(const XMLCh* text, std::size_t length) = 0;
    virtual void comment(const XMLCh* text) = 0;
    virtual void processingInstruction(const XMLCh* target, const XMLCh* data) = 0;
};

/// Parses source as DOMUtil::parse does, with the same configuration, bounds and failures,
/// handing the content to handler instead of building a document. The handler's exceptions pass
/// through; the source stays with the caller, read to wherever the parser stopped.
void streamParse(OctetSource* source, StreamHandler& handler, const DOMUtil::Limits& limits);

// ---------------------------------------------------------------------------------------------
// Escaping

constexpr Escapes attributeEscapes() {
    Escapes e = {};
    e.entries[0x09] = u"&#x9;";
    e.entries[0x0A] = u"&#xA;";
    e.entries[0x0D] = u"&#xD;";
    e.entries[u'"'] = u"&quot;";
    e.entries[u'&'] = u"&amp;";
    e.entries[u'<'] = u"&lt;";
    e.special = specialBits(e);
    return e;
}

constexpr Escapes textEscapes() {
    Escapes e = {};
    e.entries[0x0D] = u"&#xD;";
    e.entries[u'&'] = u"&amp;";
    e.entries[u'<'] = u"&lt;";
    e.entries[u'>'] = u"&gt;";
    e.special = specialBits(e);
    return e;
}

/// The references of canonical XML in attribute values and in character data.
inline constexpr Escapes kAttributeEscapes = attributeEscapes();
inline constexpr Escapes kTextEscapes = textEscapes();

/// Character references for the C0 controls, "&#x1;" to "&#x1F;".
struct ControlReferences {
    XMLCh text[0x20][7];
};

constexpr ControlReferences controlReferences() {
    ControlReferences r = {};
    const char digits[] = "0123456789ABCDEF";
    for (unsigned int u = 0; u < 0x20; ++u) {
        XMLCh* t = r.text[u];
        std::size_t n = 0;
        t[n++] = u'&';
        t[n++] = u'#';
        t[n++] = u'x';
        if (u >= 0x10) t[n++] = static_cast<XMLCh>(digits[u >> 4]);
        t[n++] = static_cast<XMLCh>(digits[u & 0xF]);
        t[n++] = u';';
    }
    return r;
}

inline constexpr ControlReferences kControlReferences = controlReferences();

/// `base` for an XML 1.1 document: the controls XML 1.1 takes only as references, and the
/// characters it reads as line breaks, are written as references.
constexpr Escapes xml11(Escapes e) {
    for (unsigned int u = 0; u < 0x20; ++u) {
        if ((kRestrictedControls >> u) & 1) e.entries[u] = kControlReferences.text[u];
    }
    e.xml11 = true;
    e.special |= kRestrictedControls;
    return e;
}

/// The serializer's references for XML 1.1 documents.
inline constexpr Escapes kAttribute11Escapes = xml11(attributeEscapes());
inline constexpr Escapes kText11Escapes = xml11(textEscapes());

/// Calls run(text, n) for every run of plain units of s[0, n) and replacement(text) for every
/// unit the table replaces; a run before a replacement is reported even when empty. A unit the
/// table refuses goes to its refuse function, which throws.
template <const Escapes& E, class Run, class Replacement>
inline void escape(const XMLCh* s, std::size_t n, Run run, Replacement replacement) {
    const XMLCh* end = s + n;
    for (;;) {
        const XMLCh* special = nextSpecial<E>(s, end);
        if (special == end) break;
        run(s, static_cast<std::size_t>(special - s));
        const unsigned int u = *special;
        if (u < kEscapesSize) {
            if (E.refused && ((E.refused >> u) & 1)) E.refuse(u);
            replacement(E.entries[u]);
        } else {
            // "&#x" and four hexadecimal digits at most, ";".
            const char digits[] = "0123456789ABCDEF";
            XMLCh reference[kLongestReference + 1];
            std::size_t k = 0;
            reference[k++] = u'&';
            reference[k++] = u'#';
            reference[k++] = u'x';
            for (int shift = u >= 0x1000 ? 12 : 4; shift >= 0; shift -= 4) {
                reference[k++] = static_cast<XMLCh>(digits[(u >> shift) & 0xF]);
            }
            reference[k++] = u';';
            reference[k] = 0;
            replacement(reference);
        }
        s = special + 1;
    }
    if (s != end) run(s, static_cast<std::size_t>(end - s));
}

/// Writes value with the table's replacements into out: one counted write per run of plain
/// units, replacements as terminated strings.
template <const Escapes& E>
void escapeTo(const XMLCh* value, CharacterSink& out) {
    if (!value) return;
    escape<E>(
        value, length(value),
        [&out](const XMLCh* run, std::size_t n) {
            while (n > UINT_MAX) {
                out.write(run, UINT_MAX);
                run += UINT_MAX;
                n -= UINT_MAX;
            }
            out.write(run, static_cast<unsigned int>(n));
        },
        [&out](const XMLCh* replacement) { out.write(replacement); });
}

// ---------------------------------------------------------------------------------------------
// Walking the tree

/// The owner element of an attribute, otherwise the DOM parent; null at the top.
inline DOMNode* parentOf(DOMNode* n) {
    if (n->getNodeType() == DOMNode::ATTRIBUTE_NODE)
        return static_cast<xercesc::DOMAttr*>(n)->getOwnerElement();
    return n->getParentNode();
}

/// The value of an attribute node. Xerces-C keeps it as text children and assembles a value
/// of several in the document's heap on every call, through a dynamic_cast; the usual single
/// text child is read directly.
inline const XMLCh* attributeValue(DOMNode* attribute) {
    DOMNode* child = attribute->getFirstChild();
    if (!child) return u"";
    if (!child->getNextSibling() && child->getNodeType() == DOMNode::TEXT_NODE) {
        return static_cast<xercesc::DOMText*>(child)->getData();
    }
    const XMLCh* value = static_cast<xercesc::DOMAttr*>(attribute)->getValue();
    return value ? value : u"";
}

struct NoData {};

/// A walk of a subtree in document order, without recursion: every node is entered, and a node
/// whose children the caller chose to walk (descend()) is left once they are done. The open
/// nodes are kept on the walk's own stack with the caller's data, so nothing is looked up
/// through parent links. Attributes are not walked. With `transparent`, entity reference nodes
/// are neither entered nor left: their children are walked as children of their parent, as the
/// XPath data model sees them.
template <class Data = NoData, bool transparent = false>
class Walker {
public:
    explicit Walker(DOMNode* root) : root_(root), node_(root), child_(nullptr), entering_(true) {}

    /// Starts over at `root`, keeping the stack's storage: walks repeated many times allocate
    /// nothing once the stack has grown.
    void reset(DOMNode* root) {
        root_ = node_ = root;
        child_ = nullptr;
        entering_ = true;
        frames_.clear();
    }

    DOMNode* node() const { return node_; }
    /// True when node() is being entered, false when it is being left.
    bool entering() const { return entering_; }
    /// While entering: walk the children of node() next, keeping `data` for when it is left.
    /// False, and the node is done, when it has no children.
    bool descend(const Data& data = Data()) {
        DOMNode* child = node_->getFirstChild();
        if (!child) return false;
        frames_.push_back(Frame{node_, data, false});
        child_ = child;
        return true;
    }
    /// Whether descend() took the walk into the children of the node being entered.
    bool descended() const { return child_ != nullptr; }
    /// The data given to descend() for the innermost open node: while entering, the parent's
    /// (depth() > 0); while leaving, the node's own.
    Data& data() { return frames_.back().data; }
    /// The nodes open around node(): 0 for the root.
    std::size_t depth() const { return frames_.size() - (entering_ ? 0 : 1); }
    /// Moves to the next event; false when the walk is over.
    bool next() {
        for (;;) {
            if (child_) {
                node_ = child_;
                child_ = nullptr;
                entering_ = true;
            } else {
                if (!entering_) frames_.pop_back();
                if (node_ == root_) return false;
                if (DOMNode* sibling = node_->getNextSibling()) {
                    node_ = sibling;
                    entering_ = true;
                } else {
                    node_ = frames_.back().node;
                    entering_ = false;
                    if (transparent && frames_.back().hidden) continue;
                    return true;
                }
            }
            if (transparent && node_->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE) {
                if (DOMNode* child = node_->getFirstChild()) {
                    frames_.push_back(Frame{node_, Data(), true});
                    child_ = child;
                }
                continue;
            }
            return true;
        }
    }

private:
    struct Frame {
        DOMNode* node;
        Data data;
        bool hidden;  // an entity reference walked through
    };

    DOMNode* root_;
    DOMNode* node_;
    DOMNode* child_;  // where the walk goes next after descend()
    bool entering_;
    std::vector<Frame> frames_;
};

/// Where a walk stands relative to the document element, which decides the line breaks around
/// comments and processing instructions at document level.
class DocumentLevel {
public:
    /// For a walk starting at top.
    explicit DocumentLevel(DOMNode* top);
    /// Entering a node of the walk.
    void enter(DOMNode* n) {
        if (position_ == NOT_AT_DOCUMENT_LEVEL && n->getNodeType() == DOMNode::DOCUMENT_NODE) {
            position_ = BEFORE_ELEMENT;
        } else if (position_ == BEFORE_ELEMENT && n->getNodeType() == DOMNode::ELEMENT_NODE) {
            position_ = IN_ELEMENT;
        }
    }
    /// Done with a node and everything below it.
    void done(DOMNode* n) {
        if (position_ == IN_ELEMENT && n == documentElement_) position_ = AFTER_ELEMENT;
    }
    /// A comment or processing instruction after the document element starts a line.
    bool lineBefore() const { return position_ == AFTER_ELEMENT; }
    /// One before it ends a line.
    bool lineAfter() const { return position_ == BEFORE_ELEMENT; }

private:
    enum Position { NOT_AT_DOCUMENT_LEVEL, BEFORE_ELEMENT, IN_ELEMENT, AFTER_ELEMENT };
    Position position_;
    DOMNode* documentElement_;
};

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite

#endif
