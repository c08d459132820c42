// The worked example, written as a user of the library writes it: structures of a small
// signature-like vocabulary, their factories, and a callback that fills in digests. Shared by
// the tests and the fuzz target, so it uses the public API only and no test framework.
#ifndef AMBRITE_XML_TEST_VOCABULARY_H
#define AMBRITE_XML_TEST_VOCABULARY_H

#include <ambrite/xml/binding.h>

#include <memory>
#include <string>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace vocabulary {

using namespace Ambrite::XML;
typedef std::unique_ptr<XMLCh, AMXMLDelete> OwnedString;
typedef std::vector<std::shared_ptr<XStructure>> Content;

const XMLCh kDs[] = u"urn:example:sig";

// A name in kDs that lives to the end of the full expression.
#define DS(local) &static_cast<const QualifiedName&>(QualifiedName(kDs, local, false))

// A node written without a declaration.
inline std::string text(DOMNode* node) {
    BufferSink sink;
    DOMSerializer::Parameters bare(false, nullptr, nullptr, nullptr);
    DOMSerializer::serialize(node, sink, &bare);
    return std::string(reinterpret_cast<const char*>(sink.data()), sink.length());
}

// DigestValue (or another name): bytes as Base64 text, read back with Xerces-C's decoder.
// The structures make public what their factories and the tests call.
struct Value : XStructure {
    using XStructure::decode;
    using XStructure::rawStringValue;
    explicit Value(const XMLCh* local = u"DigestValue", int flags = SIMPLE_CONTENT | ELEMENT_ONLY)
        : XStructure(flags, 10, local ? DS(local) : nullptr) {}
    XStructure* clone() const override { return new Value(*this); }
    const std::string& bytes() const { return lazyDecode(), bytes_; }
    XMLCh* encodeString(DOMNode* node, EncodeContext* context) override {
        Block block(bytes_.data(), static_cast<unsigned>(bytes_.size()), Block::Reference);
        return context->createBase64String(&block, 12, node);
    }
    void decodeString(const XMLCh* value, DOMNode*, DecodeContext*) override {
        ++decodes;
        XMLSize_t n = 0;
        xercesc::MemoryManager* m = xercesc::XMLPlatformUtils::fgMemoryManager;
        XMLByte* bytes = xercesc::Base64::decodeToXMLByte(value, &n, m);
        if (!bytes) throw Exception(13053, "Invalid Base64");
        bytes_.assign(reinterpret_cast<char*>(bytes), n);
        m->deallocate(bytes);
        // Read through the accessor, as any reader would: no second decoding may start.
        if (this->bytes().size() > 64) throw Exception(13053, "Digest value too long");
    }
    std::string bytes_;
    static inline int decodes = 0;
};

// Digests a reference's transforms (FNV-1a of their text) into its digest value.
struct DigestCallback : EncodeContext::Callback {
    DigestCallback(DOMNode* reference, DOMNode* transforms, const Value* value) : value_(value) {
        tag_ = reference, covered_.push_back(transforms);
    }
    void prepare() override { anchor_ = value_->node(); }
    void run() override {
        std::uint64_t h = 14695981039346656037ull;
        for (unsigned char c : text(covered_[0])) h = (h ^ c) * 1099511628211ull;
        Block block(&h, 8, Block::Reference);
        // The value structure sees the context it was encoded with.
        const EncodeContext* context = static_cast<EncodeContext*>(value_->lookup(1));
        anchor_->setTextContent(
            OwnedString(context->createBase64String(&block, 12, anchor_)).get());
    }
    const Value* value_;
};

// A transform: an Algorithm attribute and any content, kept as structures.
struct Transform : XStructure {
    using XStructure::decode;
    Transform() : XStructure(ELEMENT_ONLY, 11, DS(u"Transform")) {}
    XStructure* clone() const override { return new Transform(*this); }
    const Content& content() const { return lazyDecode(), content_; }
    void encodeImpl(DOMElement* e, EncodeContext* c) override {
        XStructure::encodeImpl(e, c);
        c->createAttribute(e, nullptr, u"Algorithm")->setValue(algorithm_.c_str());
        for (auto& s : content_) s->encode(e, nullptr, c);
    }
    void decodeImpl(ElementIterator& it, DecodeContext* c) override {
        XStructure::decodeImpl(it, c);
        algorithm_ = it.attribute(nullptr, u"Algorithm", true)->getValue();
        while (it.hasNextNode()) content_.emplace_back(it.nextStructure(nullptr));
    }
    std::u16string algorithm_;
    Content content_;
};

// A reference: a URI, a list of transforms and a digest value. It records its namespace
// declarations, on which the content of its transforms may rely.
struct Reference : XStructure {
    using XStructure::decode;
    Reference() : XStructure(ELEMENT_ONLY | RECORD_NAMESPACES, 12, DS(u"Reference")) {}
    XStructure* clone() const override { return new Reference(*this); }
    const Value& digest() const { return lazyDecode(), *digest_; }
    void encodeImpl(DOMElement* e, EncodeContext* c) override {
        XStructure::encodeImpl(e, c);
        c->createAttribute(e, nullptr, u"URI")->setValue(uri_.c_str());
        DOMElement* list = c->createElement(e, nullptr, kDs, u"Transforms");
        // Added before the callbacks of references inside the transforms: what the callbacks
        // cover decides the order.
        c->callback(new DigestCallback(e, list, digest_.get()));
        for (auto& t : transforms_) t->encode(list, nullptr, c);
        digest_->encode(e, nullptr, c);
    }
    void decodeImpl(ElementIterator& it, DecodeContext* c) override {
        XStructure::decodeImpl(it, c);
        uri_ = it.attribute(nullptr, u"URI", true)->getValue();
        ElementIterator list(it.nextElement(kDs, u"Transforms"), c);
        while (list.hasNextNode()) transforms_.emplace_back(list.nextStructure(DS(u"Transform")));
        digest_.reset(static_cast<Value*>(it.nextStructure(DS(u"DigestValue"))));
    }
    std::u16string uri_;
    Content transforms_;
    std::shared_ptr<Value> digest_;
};

template <class T>
struct Factory : ElementFactory {
    explicit Factory(const QualifiedName* parent = nullptr) : parent_(parent) {}
    const QualifiedName* parent() const override { return parent_; }
    XStructure* create(DOMNode* node, DecodeContext* context) const override {
        std::unique_ptr<T> s(new T);
        s->decode(node, context);
        return s.release();
    }
    const QualifiedName* parent_;
};

// The names, factories and provider of the vocabulary.
struct Vocabulary {
    const QualifiedName names[3] = {
        {kDs, u"Reference", false}, {kDs, u"Transform", false}, {kDs, u"DigestValue", false}};
    const Factory<Reference> reference;
    const Factory<Transform> transform;
    const Factory<Value> value;
    const ElementFactory* const factories[3] = {&reference, &transform, &value};
    Provider provider;
    Vocabulary() {
        for (int i = 0; i < 3; ++i) provider.element(&names[i], factories[i]);
    }
    // The document element decoded with `context`, which gets the provider and the lazy flag,
    // by the factory registered for its name, else as a Reference; the caller says which T that
    // gives.
    template <class T = XStructure>
    std::unique_ptr<T> decode(DOMDocument* document, DecodeContext& context, bool lazy) const {
        context.install(const_cast<Provider*>(&provider));
        context.lazyDecode(lazy);
        DOMElement* top = document->getDocumentElement();
        const QualifiedName name(top->getNamespaceURI(), top->getLocalName(), false);
        auto it = provider.elementMap().find(&name);
        const ElementFactory* f = it == provider.elementMap().end() ? &reference : it->value;
        return std::unique_ptr<T>(static_cast<T*>(f->create(top, &context)));
    }
};

// The structure encoded into a new document with "ds" and two-space indentation, written.
inline std::string encoded(XStructure& s) {
    std::unique_ptr<DOMDocument, DocumentRelease> out(DOMUtil::newDocument());
    EncodeContext context;
    context.namespacePrefix(kDs, u"ds");
    context.indentation(0, 2, false);
    s.encode(out.get(), nullptr, &context);
    return text(out->getDocumentElement());
}

}  // namespace vocabulary

#endif
