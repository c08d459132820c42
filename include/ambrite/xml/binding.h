// Data binding: support registries and contexts, the encoding context, structures bound to DOM
// nodes, the element iterator that reads their content, and the provider registry.
#ifndef AMBRITE_XML_BINDING_H
#define AMBRITE_XML_BINDING_H

#include <ambrite/xml/dom.h>
#include <ambrite/xml/foundation.h>

#include <iosfwd>
#include <vector>

namespace Ambrite {
namespace XML {

class DecodeContext;
class ElementIterator;
class XStructure;

// ---------------------------------------------------------------------------------------------
// Support registries and contexts

/// A service found by its identifier: 0 is the Provider, 1 every Context, other values are free
/// for callers' own services.
class AMXML_API Support : public Allocated {
public:
    virtual ~Support();
    int identifier() const { return identifier_; }

protected:
    explicit Support(int identifier) : identifier_(identifier) {}
    Support(const Support&) = default;
    Support& operator=(const Support&) = default;

private:
    int identifier_;
};

/// An object whose lifetime can be handed to a Context with tbd().
class AMXML_API Transient : public Allocated {
public:
    virtual ~Transient() = 0;
};

/// The registry of services of one encoding or decoding run; owns the transients given to it.
class AMXML_API Context : public Support {
public:
    enum Type { ENCODE = 0, DECODE = 1 };

    /// Deletes the transients in the order they were given; installed services stay alive.
    ~Context() override;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    Type type() const { return type_; }
    /// Replaces whatever was installed under support->identifier(); the service is not adopted.
    void install(Support* support);
    /// The service installed under `identifier`, or null.
    Support* lookup(int identifier) const;
    /// Adopts `transient` (also when this throws); it is deleted with the context.
    void tbd(Transient* transient);

protected:
    explicit Context(Type type);

private:
    Type type_;
    MyMap<int, Support*, BasicComparator<int>> supports_;
    std::vector<Transient*> transients_;
};

/// The context of a decoding run. Decoding nests at most 1,000 structures deep (counting every
/// decodeImpl active on the stack); one more fails with Exception 13053 "Nesting depth limit
/// exceeded". Lazy decoding reads one level per call and so never comes near the bound.
class AMXML_API DecodeContext : public Context {
public:
    DecodeContext();

    /// When true, decoded structures keep their node and read it on first use; the context must
    /// then outlive them.
    void lazyDecode(bool lazy) { lazyDecode_ = lazy; }
    bool lazyDecode() const { return lazyDecode_; }

private:
    friend class XStructure;

    bool lazyDecode_;
    int depth_;
};

// ---------------------------------------------------------------------------------------------
// Provider registry and types

/// Base of callers' algorithm implementations.
class AMXML_API Algorithm {
public:
    virtual ~Algorithm() = 0;

protected:
    Algorithm() {}
    Algorithm(const Algorithm&) {}
};

/// Makes the structure for an element of one name.
class AMXML_API ElementFactory {
public:
    virtual ~ElementFactory() = 0;
    /// The name of the element that elements made by this factory may stand in for; null here.
    virtual const QualifiedName* parent() const;
    /// A new structure decoded from `node` with `context`, owned by the caller.
    virtual XStructure* create(DOMNode* node, DecodeContext* context) const = 0;

protected:
    ElementFactory() {}
};

/// Base of callers' schema types.
class AMXML_API Type {
public:
    Type() {}
    virtual ~Type() = 0;
    /// The name of the type; owned by the type.
    virtual const QualifiedName* typeName() const = 0;
};

/// A type whose values are strings.
class AMXML_API SimpleType : public virtual Type {
public:
    /// Whether `lexical` is a valid lexical form of the type.
    virtual bool valid(const XMLCh* lexical) const = 0;
};

/// A type whose values have attributes or element content.
class AMXML_API ComplexType : public virtual Type {};

/// Base of callers' cryptographic keys.
class AMXML_API Key : public Allocated {
public:
    enum Type { SECRET = 0, PUBLIC = 1, PRIVATE = 2 };

    virtual ~Key() = 0;
    Type type() const { return type_; }
    /// The URI of the algorithm family the key belongs to; owned by the key.
    virtual const XMLCh* algorithm() const = 0;

protected:
    explicit Key(Type type) : type_(type) {}

private:
    Type type_;
};

/// Base of callers' public keys.
class AMXML_API PublicKey : public Key {
public:
    /// The key in its standard encoded form (for instance a DER SubjectPublicKeyInfo), owned by
    /// the caller.
    virtual Block* encoded() const = 0;

protected:
    explicit PublicKey(Type type) : Key(type) {}
};

/// The service (identifier 0) that maps element names to factories and algorithm URIs to
/// algorithms. It owns none of the keys and values registered, which must outlive it.
class AMXML_API Provider : public Support {
public:
    typedef MyMap<XMLCh*, const Algorithm*, StringComparator> AlgorithmMap;
    typedef MyMap<const QualifiedName*, const ElementFactory*, QualifiedNameComparator> ElementMap;

    Provider();
    /// Copies share the registered keys and values.
    Provider(const Provider& other);
    Provider& operator=(const Provider& other);
    ~Provider() override;

    /// Keeps the caller's `uri`; an equal URI registered before is replaced, key and value.
    void algorithm(const XMLCh* uri, const Algorithm* algorithm);
    /// Keeps the caller's `name`; an equal name registered before is replaced, key and value.
    void element(const QualifiedName* name, const ElementFactory* factory);
    const AlgorithmMap& algorithmMap() const { return algorithms_; }
    const ElementMap& elementMap() const { return elements_; }

private:
    AlgorithmMap algorithms_;
    ElementMap elements_;
};

// ---------------------------------------------------------------------------------------------
// Encoding context

/// The context of an encoding run: creates elements and attributes with namespace declarations
/// from a table of preferred prefixes, lays out Base64 text, pretty-prints the finished tree and
/// runs deferred callbacks in dependency order. DOMExceptions of Xerces-C (for instance a bad
/// name) pass through unchanged.
class AMXML_API EncodeContext : public Context {
public:
    /// Deferred work of an encoding run. A callback whose anchor lies inside a subtree another
    /// covers runs before that other; `follows` names callbacks (by tag) that must run first.
    /// The nodes are not owned. Subclasses fill the fields at the latest in prepare().
    class AMXML_API Callback : public Allocated {
    public:
        virtual ~Callback();
        virtual void prepare() = 0;
        virtual void run() = 0;
        /// Negative when this must run before `other`, positive when after, else 0.
        int cmp(const Callback* other) const;

        const std::vector<DOMNode*>& covered() const { return covered_; }
        DOMNode* limit() const { return limit_; }
        DOMNode* anchor() const { return anchor_; }
        DOMNode* tag() const { return tag_; }
        const std::vector<DOMNode*>& follows() const { return follows_; }

    protected:
        Callback() : limit_(nullptr), anchor_(nullptr), tag_(nullptr) {}
        Callback(const Callback&) = default;
        Callback& operator=(const Callback&) = default;

        /// Roots of the subtrees the callback covers.
        std::vector<DOMNode*> covered_;
        /// Where the walk up from another callback's anchor stops (not tested itself).
        DOMNode* limit_;
        /// The node where the callback's own result lies.
        DOMNode* anchor_;
        /// The node by which other callbacks name this one in `follows`.
        DOMNode* tag_;
        /// Tags of the callbacks that must run before this one.
        std::vector<DOMNode*> follows_;
    };

    typedef MyMap<XMLCh*, XMLCh*, StringComparator> PrefixMap;

    EncodeContext();
    /// Deletes the callbacks that were never run.
    ~EncodeContext() override;

    /// A negative base switches indentation off; superIndentation also lays out the root
    /// element inside its parent element.
    void indentation(int base, int step, bool superIndentation);
    int indentationBase() const { return indentationBase_; }
    int indentationStep() const { return indentationStep_; }
    bool superIndentation() const { return superIndentation_; }
    /// The indentation of `node`'s line: the base for the root, plus one step per level below
    /// it; -1 when indentation is off.
    int indentation(DOMNode* node) const;

    /// Stores copies of both strings; a null prefix removes the entry of the URI.
    void namespacePrefix(const XMLCh* namespaceURI, const XMLCh* prefix);
    const PrefixMap& namespacePrefixes() const { return namespacePrefixes_; }

    /// Adopts `callback` (also when this throws).
    void callback(Callback* callback);
    /// Finishes the run when `node` is the root (the first element created since the last
    /// finish): pretty-prints, then prepares, orders and runs the callbacks, deleting each after
    /// it ran. A dependency cycle throws Exception 6 "Dependency loop in callbacks" and leaves
    /// the callbacks with the context.
    void callback(DOMNode* node);

    /// A new element, in the preferred prefix of its namespace, inserted into `parent` before
    /// `before` (null: at the end), with a declaration when its prefix is not yet in scope.
    DOMElement* createElement(DOMNode* parent, DOMNode* before, const XMLCh* namespaceURI,
                              const XMLCh* localName);
    /// A new attribute set on `element`. In a namespace it always has a prefix: the preferred
    /// one, else "x", else "x0", "x1"... when the element binds the candidate to another URI.
    DOMAttr* createAttribute(DOMElement* element, const XMLCh* namespaceURI,
                             const XMLCh* localName);
    /// `data` in Base64, in lines of `lineLength` (rounded up to a multiple of 4) indented one
    /// step below `node`; 0 puts all of it on one line. Free the result with utfree.
    XMLCh* createBase64String(const Block* data, unsigned int lineLength, DOMNode* node) const;

private:
    void prettyPrint();
    std::vector<Callback*> ordered() const;

    int indentationBase_;
    int indentationStep_;
    bool superIndentation_;
    PrefixMap namespacePrefixes_;
    std::vector<Callback*> callbacks_;
    DOMElement* root_;
    std::vector<DOMElement*> created_;
};

// ---------------------------------------------------------------------------------------------
// Structures

AMXML_API std::ostream& operator<<(std::ostream& out, const XStructure& structure);

/// Base of every object bound to an element, an attribute or another DOM node. Subclasses say
/// in their constructor what they map to and override encodeImpl/decodeImpl (calling the base
/// first) or, for string values, encodeString/decodeString.
class AMXML_API XStructure : public Transient {
public:
    enum Flags {
        /// The value is a string: the element's text, or the attribute's value.
        SIMPLE_CONTENT = 1,
        /// Always an element, never an attribute.
        ELEMENT_ONLY = 2,
        /// Decoding records the element's namespace declarations.
        RECORD_NAMESPACES = 4
    };
    typedef MyMap<XMLCh*, XMLCh*, StringComparator> NamespaceMap;

    /// Unused by the library; a base for callers' builders of structures.
    class AMXML_API Builder {
    public:
        virtual ~Builder() = 0;

    protected:
        Builder() {}
    };

    ~XStructure() override;
    XStructure& operator=(const XStructure&) = delete;

    /// Writes the structure under `parent` before `before` (null: at the end); an attribute
    /// `parent` receives the string value instead. The context must not be null.
    virtual void encode(DOMNode* parent, DOMNode* before, EncodeContext* context);
    /// A new, unbound copy owned by the caller.
    virtual XStructure* clone() const = 0;

    int structureType() const { return type_; }
    /// Null until a name is given or taken from the first element encoded or decoded.
    const QualifiedName* elementName() const { return elementName_; }
    /// The node last encoded into or decoded from; Exception 6 "Structure not yet encoded"
    /// before that.
    DOMNode* node() const;
    /// Merges copies of prefix-to-URI declarations (null prefix: the default namespace) to be
    /// written on the element; Exception 6 "Structure already processed" once bound to a node.
    void xmlns(const NamespaceMap& declarations);
    const NamespaceMap& xmlns() const;
    /// Replaces the service under support->identifier(); not adopted.
    void install(Support* support);
    /// The structure's own service, else its context's (installed under 1), else null.
    Support* lookup(int identifier) const;

protected:
    /// Copies `elementName` when given.
    XStructure(int flags, int type, const QualifiedName* elementName);
    /// Completes a pending decoding of `other`, then copies flags, type, name and declarations;
    /// the copy is unbound and has no services.
    XStructure(const XStructure& other);

    int structureFlags() const { return flags_; }

    /// The string value to write (utalloc, owned by the structure afterwards), or null for
    /// none. Here: Exception 6 "Operation not supported".
    virtual XMLCh* encodeString(DOMNode* node, EncodeContext* context);
    /// Binds the element, writes simple content and declarations.
    virtual void encodeImpl(DOMElement* element, EncodeContext* context);
    /// Binds `node` and, unless decoding lazily, reads it: checks the element's name, runs
    /// decodeImpl and requires every child to be read. The context must not be null.
    virtual void decode(DOMNode* node, DecodeContext* context);
    /// Reads simple content and records namespace declarations.
    virtual void decodeImpl(ElementIterator& iterator, DecodeContext* context);
    /// Parses the string value. Here: Exception 6 "Operation not supported".
    virtual void decodeString(const XMLCh* value, DOMNode* node, DecodeContext* context);
    /// Does postponed decoding, once; call before reading a field that decoding fills. The
    /// decoding context must still be alive.
    virtual void lazyDecode() const;
    /// Writes "name[" (or "[" without a name) when verbose; operator<< adds "]". Returns false
    /// here; the text and unknown structures return true.
    virtual bool stringify(std::ostream& out, bool verbose) const;

    /// The string value written or read (SIMPLE_CONTENT only, else Exception 6 "Operation not
    /// supported"); Exception 6 "Structure not yet encoded" when there is none.
    const XMLCh* rawStringValue() const;

private:
    friend std::ostream& operator<<(std::ostream& out, const XStructure& structure);

    void replaceRawString(XMLCh* value);
    void recordNamespaces(DOMElement* element);
    void decodeElement(DOMElement* element, DecodeContext* context);

    const int flags_;
    const int type_;
    QualifiedName* elementName_;
    DOMNode* node_;
    XMLCh* rawString_;
    mutable bool pending_;
    MyMap<int, Support*, BasicComparator<int>> supports_;
    NamespaceMap* xmlnsMap_;
};

/// A text node.
class AMXML_API TextStructure : public XStructure {
public:
    /// Copies `text` (null is written as empty text).
    explicit TextStructure(const XMLCh* text);
    /// Decodes a text or CDATA section node at once.
    TextStructure(DOMNode* node, DecodeContext* context);
    ~TextStructure() override;

    void encode(DOMNode* parent, DOMNode* before, EncodeContext* context) override;
    XStructure* clone() const override;
    const XMLCh* text() const { return text_; }

protected:
    /// Exception 13053 "Node is not a text node: Type %d" for other nodes.
    void decode(DOMNode* node, DecodeContext* context) override;
    bool stringify(std::ostream& out, bool verbose) const override;

private:
    XMLCh* text_;
};

/// Any node that no factory claims, written back as it was read.
class AMXML_API UnknownStructure : public XStructure {
public:
    /// Stands for `node`; encoding copies it when `cloneNode`, else moves it.
    UnknownStructure(DOMNode* node, bool cloneNode);
    /// Stands for a copy of `node` and shares `refCount` (incremented now, decremented on
    /// destruction; the holder that takes it to 0 deletes it, releasing a DocumentRefCount's
    /// document).
    UnknownStructure(DOMNode* node, RefCount* refCount);
    /// Decodes at once: stands for a copy of `node`.
    UnknownStructure(DOMNode* node, DecodeContext* context);
    ~UnknownStructure() override;

    /// Inserts the node (or its deep copy, built without recursion) under `parent`.
    void encode(DOMNode* parent, DOMNode* before, EncodeContext* context) override;
    XStructure* clone() const override;
    DOMNode* node() const { return content_; }
    bool cloneNode() const { return cloneNode_; }

protected:
    /// Shares the node and the reference count; the copy clones the node when encoded.
    UnknownStructure(const UnknownStructure& other);
    void decode(DOMNode* node, DecodeContext* context) override;
    bool stringify(std::ostream& out, bool verbose) const override;

private:
    DOMNode* content_;
    bool cloneNode_;
    RefCount* refCount_;
};

// ---------------------------------------------------------------------------------------------
// Element iterator

/// The cursor over an element's content with which decodeImpl reads it. Whitespace-only text
/// and comments between children are skipped. Failures are Exception 13053 and leave the
/// cursor where it was.
class AMXML_API ElementIterator : public Allocated {
public:
    /// Wildcards for hasNextElement/nextElement: Any ("*") as the local name matches any
    /// element in the namespace (or any at all when the namespace is Any too); Other ("!*")
    /// matches elements outside the namespace.
    static const XMLCh Any[];
    static const XMLCh Other[];

    /// Neither is adopted; the context must not be null.
    ElementIterator(DOMElement* element, DecodeContext* context);
    ElementIterator(const ElementIterator&) = delete;
    ElementIterator& operator=(const ElementIterator&) = delete;

    DOMElement* element() const { return element_; }
    DecodeContext* context() const { return context_; }

    /// The attribute, or null; when `required`, "No %S attribute in %X" instead of null.
    DOMAttr* attribute(const XMLCh* namespaceURI, const XMLCh* localName, bool required);
    /// The text and CDATA of the run of text, CDATA and comment nodes at the cursor, which
    /// moves past the run. Free the result with utfree.
    XMLCh* simpleContent();
    bool hasNextText() const;
    bool hasNextNode() const { return current_ != nullptr; }
    /// The node at the cursor; "No next node in %X" at the end.
    DOMNode* nextNode();
    bool hasNextElement(const XMLCh* namespaceURI, const XMLCh* localName) const;
    /// The matching element at the cursor; "No next %S in %X: %X" otherwise.
    DOMElement* nextElement(const XMLCh* namespaceURI, const XMLCh* localName);
    /// Whether a factory of the provider claims the element at the cursor for `expected` (null:
    /// any name); "Provider not installed" when the cursor is on an element and no Provider is
    /// installed under 0.
    bool hasNextStructure(const QualifiedName* expected) const;
    /// The structure for the node at the cursor, owned by the caller. Without `expected`, text
    /// gives a TextStructure and unclaimed nodes an UnknownStructure.
    XStructure* nextStructure(const QualifiedName* expected);
    /// "Trailing %X in %X" when a node is left.
    void assertEmpty() const;

private:
    void next(bool stay);

    DOMElement* element_;
    DecodeContext* context_;
    DOMNode* current_;
    mutable const ElementFactory* factory_;
};

}  // namespace XML
}  // namespace Ambrite

#endif
