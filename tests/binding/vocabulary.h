// The worked example, written as a user of the library writes it: structures of a small
// signature-like vocabulary, their factories, and a pair of callbacks that fill in digests.
#ifndef AMBRITE_XML_TEST_VOCABULARY_H
#define AMBRITE_XML_TEST_VOCABULARY_H

#include <ambrite/xml/binding.h>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <functional>

#include "support/test_support.h"

namespace vocabulary {

using namespace Ambrite::XML;
using amxml_test::DocumentPtr;
typedef std::unique_ptr<XMLCh, AMXMLDelete> OwnedString;

const XMLCh kDs[] = u"urn:example:sig";

inline const QualifiedName* named(const QualifiedName& name) { return &name; }

template <class T>
std::vector<std::unique_ptr<T>> copies(const std::vector<std::unique_ptr<T>>& from) {
    std::vector<std::unique_ptr<T>> to;
    for (auto& s : from) to.emplace_back(static_cast<T*>(s->clone()));
    return to;
}
#define DS(local) named(QualifiedName(kDs, local, false))

// The structure base of the vocabulary: what its factories and tests need to reach.
class Bound : public XStructure {
public:
    using XStructure::decode;
    using XStructure::lazyDecode;
    using XStructure::rawStringValue;

protected:
    using XStructure::XStructure;
};

// A stand-in digest: FNV-1a of the node's serialization, `words` 8-byte words.
inline std::string digest(DOMNode* node, int words) {
    BufferSink sink;
    DOMSerializer::Parameters bare(false, nullptr, nullptr, nullptr);
    DOMSerializer::serialize(node, sink, &bare);
    std::string out;
    for (int w = 0; w < words; ++w) {
        std::uint64_t h = 14695981039346656037ull + w;
        for (unsigned i = 0; i < sink.length(); ++i) h = (h ^ sink.data()[i]) * 1099511628211ull;
        for (int b = 0; b < 8; ++b) out += static_cast<char>(h >> (8 * b));
    }
    return out;
}

// DigestValue and SignatureValue: bytes as Base64 text, read back with Xerces-C's decoder.
class Value : public Bound {
public:
    explicit Value(const XMLCh* local, std::string bytes = "")
        : Bound(SIMPLE_CONTENT | ELEMENT_ONLY, 10, DS(local)), bytes_(std::move(bytes)) {}
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
        return context->createBase64String(&block, 76, node);
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

// Digests what it covers into the text of the anchor: the covered element is given, or found
// in prepare() by its Id; the anchor is the node of a Value structure.
class DigestCallback : public EncodeContext::Callback {
public:
    DigestCallback(EncodeContext* c, DOMNode* tag, DOMNode* target, const std::u16string& id,
                   const XStructure* value, int words)
        : context_(c), target_(target), id_(id), value_(value), words_(words) {
        tag_ = tag;
    }
    void prepare() override {
        anchor_ = value_->node();
        xercesc::DOMNodeList* objects = anchor_->getOwnerDocument()->getElementsByTagNameNS(
            kDs, u"Object");
        for (XMLSize_t i = 0; !target_ && i < objects->getLength(); ++i) {
            DOMElement* e = static_cast<DOMElement*>(objects->item(i));
            if (u"#" + std::u16string(e->getAttribute(u"Id")) == id_) target_ = e;
        }
        if (target_) covered_.push_back(target_);
    }
    void run() override {
        std::string d = digest(covered_.at(0), words_);
        Block block(d.data(), static_cast<unsigned>(d.size()), Block::Reference);
        OwnedString text(context_->createBase64String(&block, 76, anchor_));
        anchor_->setTextContent(text.get());
    }

private:
    EncodeContext* context_;
    DOMNode* target_;
    std::u16string id_;
    const XStructure* value_;
    int words_;
};

// A transform: an Algorithm attribute and any content, kept as structures.
class Transform : public Bound {
public:
    explicit Transform(const XMLCh* algorithm = u"")
        : Bound(ELEMENT_ONLY, 11, DS(u"Transform")), algorithm_(algorithm) {}
    Transform(const Transform& o) : Bound(o), algorithm_(o.algorithm_), content_(copies(o.content())) {}
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

// A reference: an optional URI, an optional list of transforms and a digest value.
class Reference : public Bound {
public:
    Reference() : Bound(ELEMENT_ONLY, 12, DS(u"Reference")) {}
    Reference(const Reference& o)
        : Bound(o), uri_(o.uri_), transforms_(copies(o.transforms_)),
          digest_(static_cast<Value*>(o.digest_->clone())) {}
    XStructure* clone() const override { return new Reference(*this); }

protected:
    void encodeImpl(DOMElement* e, EncodeContext* c) override {
        XStructure::encodeImpl(e, c);
        if (!uri_.empty()) c->createAttribute(e, nullptr, u"URI")->setValue(uri_.c_str());
        if (!transforms_.empty()) {
            DOMElement* list = c->createElement(e, nullptr, kDs, u"Transforms");
            for (auto& t : transforms_) t->encode(list, nullptr, c);
        }
        digest_->encode(e, nullptr, c);
        c->callback(new DigestCallback(c, e, nullptr, uri_, digest_.get(), 1));
    }
    void decodeImpl(ElementIterator& it, DecodeContext* c) override {
        XStructure::decodeImpl(it, c);
        if (DOMAttr* uri = it.attribute(nullptr, u"URI", false)) uri_ = uri->getValue();
        if (it.hasNextElement(kDs, u"Transforms")) {
            ElementIterator list(it.nextElement(kDs, u"Transforms"), c);
            do {
                transforms_.emplace_back(static_cast<Transform*>(list.nextStructure(DS(u"Transform"))));
            } while (list.hasNextNode());
        }
        digest_.reset(static_cast<Value*>(it.nextStructure(DS(u"DigestValue"))));
    }

private:
    std::u16string uri_;
    std::vector<std::unique_ptr<Transform>> transforms_;
    std::unique_ptr<Value> digest_;
};

// The signature: references in SignedInfo, the signature value and any objects. It records
// its namespace declarations, which the objects it copies may rely on.
class Signature : public Bound {
public:
    Signature() : Bound(ELEMENT_ONLY | RECORD_NAMESPACES, 13, DS(u"Signature")) {}
    Signature(const Signature& o)
        : Bound(o), references_(copies(o.references_)),
          value_(static_cast<Value*>(o.value_->clone())), objects_(copies(o.objects_)) {}
    XStructure* clone() const override { return new Signature(*this); }

protected:
    void encodeImpl(DOMElement* e, EncodeContext* c) override {
        XStructure::encodeImpl(e, c);
        DOMElement* info = c->createElement(e, nullptr, kDs, u"SignedInfo");
        // Added before the references add theirs: the covered subtrees decide the order.
        c->callback(new DigestCallback(c, e, info, u"", value_.get(), 6));
        for (auto& r : references_) r->encode(info, nullptr, c);
        value_->encode(e, nullptr, c);
        for (auto& o : objects_) o->encode(e, nullptr, c);
    }
    void decodeImpl(ElementIterator& it, DecodeContext* c) override {
        XStructure::decodeImpl(it, c);
        ElementIterator info(it.nextElement(kDs, u"SignedInfo"), c);
        do {
            references_.emplace_back(static_cast<Reference*>(info.nextStructure(DS(u"Reference"))));
        } while (info.hasNextNode());
        value_.reset(static_cast<Value*>(it.nextStructure(DS(u"SignatureValue"))));
        while (it.hasNextNode()) objects_.emplace_back(it.nextStructure(nullptr));
    }

private:
    std::vector<std::unique_ptr<Reference>> references_;
    std::unique_ptr<Value> value_;
    std::vector<std::unique_ptr<XStructure>> objects_;
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
    const QualifiedName names[5] = {{kDs, u"Signature", false},
                                    {kDs, u"Reference", false},
                                    {kDs, u"Transform", false},
                                    {kDs, u"DigestValue", false},
                                    {kDs, u"SignatureValue", false}};
    const Factory factories[5] = {Factory([] { return new Signature; }),
                                  Factory([] { return new Reference; }),
                                  Factory([] { return new Transform; }),
                                  Factory([] { return new Value(u"DigestValue"); }),
                                  Factory([] { return new Value(u"SignatureValue"); })};
    Provider provider;
    Vocabulary() {
        for (int i = 0; i < 5; ++i) provider.element(&names[i], &factories[i]);
    }
    // The document element decoded by factory `f` with `context` (which gets the provider).
    template <class T = Signature>
    std::unique_ptr<T> decode(DOMDocument* document, DecodeContext& context, int f = 0) const {
        context.install(const_cast<Provider*>(&provider));
        return std::unique_ptr<T>(
            static_cast<T*>(factories[f].create(document->getDocumentElement(), &context)));
    }
};

// The structure encoded into a new document with "ds" and two-space indentation, serialized.
inline std::string encoded(XStructure& s) {
    DocumentPtr out(DOMUtil::newDocument());
    EncodeContext context;
    context.namespacePrefix(kDs, u"ds");
    context.indentation(0, 2, false);
    s.encode(out.get(), nullptr, &context);
    BufferSink sink;
    DOMSerializer::serialize(out.get(), sink, nullptr);
    return amxml_test::bytes(sink);
}

}  // namespace vocabulary

#endif
