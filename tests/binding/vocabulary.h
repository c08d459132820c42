// The worked example, written as a user of the library writes it: structures of a small
// signature-like vocabulary, their factories, and a callback that fills in digests.
#ifndef AMBRITE_XML_TEST_VOCABULARY_H
#define AMBRITE_XML_TEST_VOCABULARY_H

#include <ambrite/xml/binding.h>

#include <functional>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "support/test_support.h"

namespace vocabulary {

using namespace amxml_test;
typedef std::unique_ptr<XMLCh, AMXMLDelete> OwnedString;

const XMLCh kDs[] = u"urn:example:sig";

inline const QualifiedName* named(const QualifiedName& name) { return &name; }
#define DS(local) named(QualifiedName(kDs, local, false))

template <class T>
std::vector<std::unique_ptr<T>> copies(const std::vector<std::unique_ptr<T>>& from) {
    std::vector<std::unique_ptr<T>> to;
    for (auto& s : from) to.emplace_back(static_cast<T*>(s->clone()));
    return to;
}

// The structure base of the vocabulary: what its factories and tests need to reach.
class Bound : public XStructure {
public:
    using XStructure::decode;
    using XStructure::lazyDecode;
    using XStructure::rawStringValue;

protected:
    using XStructure::XStructure;
};

// A stand-in digest: FNV-1a of the node's serialization, in 8 bytes.
inline std::string text(DOMNode* node);
inline std::string digest(DOMNode* node) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text(node)) h = (h ^ c) * 1099511628211ull;
    return std::string(reinterpret_cast<const char*>(&h), 8);
}

// DigestValue: bytes as Base64 text, read back with Xerces-C's decoder.
class Value : public Bound {
public:
    explicit Value(std::string bytes = "")
        : Bound(SIMPLE_CONTENT | ELEMENT_ONLY, 10, DS(u"DigestValue")), bytes_(bytes) {}
    Value(const Value& o) : Bound(o), bytes_(o.bytes()) {}
    XStructure* clone() const override { return new Value(*this); }
    const std::string& bytes() const {
        lazyDecode();
        return bytes_;
    }
    static int decodes;

protected:
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
    }

private:
    std::string bytes_;
};
inline int Value::decodes = 0;

// Digests a reference's transforms into its digest value, whose node is known once encoded.
class DigestCallback : public EncodeContext::Callback {
public:
    DigestCallback(EncodeContext* c, DOMNode* reference, DOMNode* transforms, const Value* value)
        : context_(c), value_(value) {
        tag_ = reference;
        covered_.push_back(transforms);
    }
    void prepare() override { anchor_ = value_->node(); }
    void run() override {
        std::string d = digest(covered_[0]);
        Block block(d.data(), 8, Block::Reference);
        OwnedString text(context_->createBase64String(&block, 12, anchor_));
        anchor_->setTextContent(text.get());
    }

private:
    EncodeContext* context_;
    const Value* value_;
};

// A transform: an Algorithm attribute and any content, kept as structures.
class Transform : public Bound {
public:
    explicit Transform(const XMLCh* algorithm = u"")
        : Bound(ELEMENT_ONLY, 11, DS(u"Transform")), algorithm_(algorithm) {}
    Transform(const Transform& o)
        : Bound(o), algorithm_(o.algorithm_), content_(copies(o.content_)) {}
    XStructure* clone() const override { return new Transform(*this); }
    const std::vector<std::unique_ptr<XStructure>>& content() const {
        lazyDecode();
        return content_;
    }

protected:
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

private:
    std::u16string algorithm_;
    std::vector<std::unique_ptr<XStructure>> content_;
};

// A reference: a URI, a list of transforms and a digest value. It records its namespace
// declarations, on which the content of its transforms may rely.
class Reference : public Bound {
public:
    Reference() : Bound(ELEMENT_ONLY | RECORD_NAMESPACES, 12, DS(u"Reference")) {}
    Reference(const Reference& o)
        : Bound(o),
          uri_(o.uri_),
          transforms_(copies(o.transforms_)),
          digest_(static_cast<Value*>(o.digest_->clone())) {}
    XStructure* clone() const override { return new Reference(*this); }

protected:
    void encodeImpl(DOMElement* e, EncodeContext* c) override {
        XStructure::encodeImpl(e, c);
        c->createAttribute(e, nullptr, u"URI")->setValue(uri_.c_str());
        DOMElement* list = c->createElement(e, nullptr, kDs, u"Transforms");
        // Added before the callbacks of references inside the transforms: what the callbacks
        // cover decides the order.
        c->callback(new DigestCallback(c, e, list, digest_.get()));
        for (auto& t : transforms_) t->encode(list, nullptr, c);
        digest_->encode(e, nullptr, c);
    }
    void decodeImpl(ElementIterator& it, DecodeContext* c) override {
        XStructure::decodeImpl(it, c);
        uri_ = it.attribute(nullptr, u"URI", true)->getValue();
        ElementIterator list(it.nextElement(kDs, u"Transforms"), c);
        while (list.hasNextNode()) {
            transforms_.emplace_back(static_cast<Transform*>(list.nextStructure(DS(u"Transform"))));
        }
        digest_.reset(static_cast<Value*>(it.nextStructure(DS(u"DigestValue"))));
    }

private:
    std::u16string uri_;
    std::vector<std::unique_ptr<Transform>> transforms_;
    std::unique_ptr<Value> digest_;
};

class Factory : public ElementFactory {
public:
    explicit Factory(std::function<Bound*()> make, const QualifiedName* parent = nullptr)
        : make_(std::move(make)), parent_(parent) {}
    const QualifiedName* parent() const override { return parent_; }
    XStructure* create(DOMNode* node, DecodeContext* context) const override {
        std::unique_ptr<Bound> s(make_());
        s->decode(node, context);
        return s.release();
    }

private:
    std::function<Bound*()> make_;
    const QualifiedName* parent_;
};

// The names, factories and provider of the vocabulary.
struct Vocabulary {
    const QualifiedName names[3] = {
        {kDs, u"Reference", false}, {kDs, u"Transform", false}, {kDs, u"DigestValue", false}};
    const Factory factories[3] = {Factory([] { return new Reference; }),
                                  Factory([] { return new Transform; }),
                                  Factory([] { return new Value; })};
    Provider provider;
    Vocabulary() {
        for (int i = 0; i < 3; ++i) provider.element(&names[i], &factories[i]);
    }
    // The document element decoded by factory `f` with `context` (which gets the provider).
    template <class T = Reference>
    std::unique_ptr<T> decode(DOMDocument* document, DecodeContext& context, int f = 0) const {
        context.install(const_cast<Provider*>(&provider));
        return std::unique_ptr<T>(
            static_cast<T*>(factories[f].create(document->getDocumentElement(), &context)));
    }
};

// A node written without a declaration.
inline std::string text(DOMNode* node) {
    BufferSink sink;
    DOMSerializer::Parameters bare(false, nullptr, nullptr, nullptr);
    DOMSerializer::serialize(node, sink, &bare);
    return bytes(sink);
}

// The structure encoded into a new document with "ds" and two-space indentation, written.
inline std::string encoded(XStructure& s) {
    DocumentPtr out(DOMUtil::newDocument());
    EncodeContext context;
    context.namespacePrefix(kDs, u"ds");
    context.indentation(0, 2, false);
    s.encode(out.get(), nullptr, &context);
    return text(out->getDocumentElement());
}

}  // namespace vocabulary

#endif
