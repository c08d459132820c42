#include <ambrite/xml/dom.h>

#include <climits>
#include <memory>
#include <xercesc/dom/DOMLSInput.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/BinInputStream.hpp>

#include "dom/internal.h"
#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

// The bytes of an OctetSource as Xerces reads them, one read per request.
class OctetInputStream : public xercesc::BinInputStream {
public:
    OctetInputStream(OctetSource* source, bool adopt)
        : source_(source), adopt_(adopt), position_(0) {}
    ~OctetInputStream() override {
        if (adopt_) delete source_;
    }
    OctetInputStream(const OctetInputStream&) = delete;
    OctetInputStream& operator=(const OctetInputStream&) = delete;

    // The parser deletes the stream; it lives in library memory like the rest.
    static void* operator new(std::size_t size) { return internal::checkedAlloc(size); }
    static void operator delete(void* block) {
        if (block) utfree(block);
    }

    XMLFilePos curPos() const override { return position_; }
    XMLSize_t readBytes(XMLByte* buffer, XMLSize_t max) override {
        unsigned int n =
            source_->read(buffer, max > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(max));
        position_ += n;
        internal::delivered(buffer, n);
        return n;
    }
    const XMLCh* getContentType() const override { return nullptr; }

private:
    OctetSource* source_;
    bool adopt_;
    XMLFilePos position_;
};

// Hands its source to the first stream made from it, so the source is read (and, when
// adopted, deleted) exactly once.
class OctetInputSource : public xercesc::InputSource {
public:
    OctetInputSource(OctetSource* source, bool adopt) : source_(source), adopt_(adopt) {}
    ~OctetInputSource() override {
        if (adopt_) delete source_;
    }
    OctetInputSource(const OctetInputSource&) = delete;
    OctetInputSource& operator=(const OctetInputSource&) = delete;

    xercesc::BinInputStream* makeStream() const override {
        if (!source_) return nullptr;
        OctetInputStream* stream = new OctetInputStream(source_, adopt_);
        source_ = nullptr;
        return stream;
    }

private:
    mutable OctetSource* source_;
    bool adopt_;
};

// The input handed to parsers: its byte stream reads the OctetSource as the parser asks.
class InputSourceAdapter : public xercesc::DOMLSInput, public Allocated {
public:
    /// Adopts systemId (a utalloc string or null).
    InputSourceAdapter(OctetSource* source, bool adopt, XMLCh* systemId)
        : bytes_(source, adopt), systemId_(systemId) {}
    ~InputSourceAdapter() override {
        if (systemId_) utfree(systemId_);
    }
    InputSourceAdapter(const InputSourceAdapter&) = delete;
    InputSourceAdapter& operator=(const InputSourceAdapter&) = delete;

    const XMLCh* getStringData() const override { return nullptr; }
    xercesc::InputSource* getByteStream() const override {
        return const_cast<OctetInputSource*>(&bytes_);
    }
    const XMLCh* getEncoding() const override { return nullptr; }
    const XMLCh* getPublicId() const override { return nullptr; }
    const XMLCh* getSystemId() const override { return systemId_; }
    const XMLCh* getBaseURI() const override { return nullptr; }
    void setStringData(const XMLCh*) override {}
    void setByteStream(xercesc::InputSource*) override {}
    void setEncoding(const XMLCh*) override {}
    void setPublicId(const XMLCh*) override {}
    void setSystemId(const XMLCh*) override {}
    void setBaseURI(const XMLCh*) override {}
    void setIssueFatalErrorIfNotFound(bool) override {}
    bool getIssueFatalErrorIfNotFound() const override { return true; }
    void release() override { delete this; }

private:
    OctetInputSource bytes_;
    XMLCh* systemId_;
};

}  // namespace

xercesc::DOMLSInput* DOMUtil::inputSourceAdapter(OctetSource* source, bool adopt,
                                                 const XMLCh* systemId) {
    // The source is adopted also when this throws.
    std::unique_ptr<OctetSource> owned(adopt ? source : nullptr);
    std::unique_ptr<XMLCh, AMXMLDelete> id(StringUtil::dup(systemId));
    xercesc::DOMLSInput* input = new InputSourceAdapter(source, adopt, id.release());
    owned.release();
    return input;
}

}  // namespace XML
}  // namespace Ambrite
