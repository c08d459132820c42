// Octet sources and sinks, character sinks and UTF-8 encoding.
#ifndef AMBRITE_XML_STREAMS_H
#define AMBRITE_XML_STREAMS_H

#include <ambrite/xml/foundation.h>

#include <vector>

namespace Ambrite {
namespace XML {

/// Something that can be read from until it is empty.
class AMXML_API OctetSource : public Allocated {
public:
    virtual ~OctetSource() = 0;
    /// Stores at most max bytes into buffer and gives their number; 0 once exhausted.
    virtual unsigned int read(unsigned char* buffer, unsigned int max) = 0;
    virtual void close() = 0;
};

/// Something that can be written to and then closed.
class AMXML_API OctetSink : public Allocated {
public:
    virtual ~OctetSink() = 0;
    virtual void write(const unsigned char* bytes, unsigned int count) = 0;
    virtual void close() = 0;
};

/// An in-memory sink; the bytes stay available after close().
class AMXML_API BufferSink : public OctetSink {
public:
    explicit BufferSink(unsigned int capacity = 4096);
    ~BufferSink() override;
    BufferSink(const BufferSink&) = delete;
    BufferSink& operator=(const BufferSink&) = delete;

    void write(const unsigned char* bytes, unsigned int count) override;
    void close() override;
    /// Null after release().
    const unsigned char* data() const { return data_; }
    operator const unsigned char*() const { return data_; }
    unsigned int length() const { return length_; }
    unsigned int capacity() const { return capacity_; }
    /// Hands the bytes to the caller (free with utfree); no write may follow.
    unsigned char* release();

private:
    unsigned char* data_;
    unsigned int capacity_;
    unsigned int length_;
};

/// An in-memory pipe: what is written can be read back; nothing read is discarded.
class AMXML_API OctetSinkSource : public OctetSink, public OctetSource {
public:
    explicit OctetSinkSource(unsigned int capacity = 4096);
    ~OctetSinkSource() override;

    void write(const unsigned char* bytes, unsigned int count) override;
    unsigned int read(unsigned char* buffer, unsigned int max) override;
    /// Closes neither side; reading and writing may go on.
    void close() override;

private:
    BufferSink buffer_;
    unsigned int readPosition_;
};

/// Reads the bytes of a Block, which it owns.
class AMXML_API BlockSource : public OctetSource {
public:
    /// Adopts block.
    explicit BlockSource(Block* block);
    ~BlockSource() override;
    BlockSource(const BlockSource&) = delete;
    BlockSource& operator=(const BlockSource&) = delete;

    /// Throws Exception 3 "Already closed" after close().
    unsigned int read(unsigned char* buffer, unsigned int max) override;
    /// Deletes the block; a second close does nothing.
    void close() override;

private:
    Block* block_;
    unsigned int readPosition_;
};

/// The concatenation of several sources, which it owns.
class AMXML_API SequenceSource : public OctetSource {
public:
    /// Adopts every source in the vector.
    explicit SequenceSource(const std::vector<OctetSource*>& sources);
    ~SequenceSource() override;
    SequenceSource(const SequenceSource&) = delete;
    SequenceSource& operator=(const SequenceSource&) = delete;

    /// Reads from one source per call; never fills the buffer from two.
    unsigned int read(unsigned char* buffer, unsigned int max) override;
    /// Closes every source, first to last.
    void close() override;

private:
    std::vector<OctetSource*> sources_;
    std::vector<OctetSource*>::iterator current_;
};

class AMXML_API IO {
public:
    /// Copies source into sink through a scratch buffer, then closes the source (not the sink).
    /// When the copy throws, the source is left open.
    static void io(OctetSource* source, OctetSink* sink, unsigned int bufferSize);
};

/// Sink of a message digest, supplied by cryptographic providers.
class AMXML_API DigestSink : public OctetSink {
public:
    DigestSink();
    ~DigestSink() override = 0;
    /// The digest of everything written; caller owns the block.
    virtual Block* digest() = 0;
};

/// Sink of data to be signed, supplied by cryptographic providers.
class AMXML_API SignSink : public OctetSink {
public:
    SignSink();
    ~SignSink() override = 0;
    /// The signature over everything written; caller owns the block.
    virtual Block* sign() = 0;
};

/// Sink of signed data to be verified, supplied by cryptographic providers.
class AMXML_API VerifySink : public OctetSink {
public:
    VerifySink();
    ~VerifySink() override = 0;
    /// Whether `signature` is valid for everything written.
    virtual bool verify(const Block* signature) = 0;
};

/// Receives UTF-16 text.
class AMXML_API CharacterSink : public Allocated {
public:
    virtual ~CharacterSink() = 0;
    /// Writes count code units; a count of 0 writes nothing.
    virtual void write(const XMLCh* text, unsigned int count) = 0;
    /// Writes a null-terminated string.
    virtual void write(const XMLCh* text);
    virtual void close() = 0;
    /// The name of the encoding the sink produces.
    virtual const XMLCh* encoding() const = 0;
};

/// Encodes UTF-16 as UTF-8 into an octet sink (not owned). A surrogate pair becomes one
/// four-byte sequence, also across writes and buffer flushes; an unpaired surrogate is written
/// as its own three-byte sequence.
class AMXML_API UTF8Sink : public CharacterSink {
public:
    UTF8Sink(OctetSink& sink, unsigned int bufferSize = 4096);
    /// Does not flush: units still waiting are dropped.
    ~UTF8Sink() override;
    UTF8Sink(const UTF8Sink&) = delete;
    UTF8Sink& operator=(const UTF8Sink&) = delete;

    using CharacterSink::write;
    void write(const XMLCh* text, unsigned int count) override;
    /// flush(), then closes the octet sink.
    void close() override;
    const XMLCh* encoding() const override;
    /// Hands everything waiting to the octet sink (one write, also when empty).
    void flush();

private:
    void encode(const XMLCh* text, unsigned int count);
    void emit();

    OctetSink& sink_;
    unsigned int bufferSize_;  // units per chunk handed to the octet sink
    unsigned int room_;        // units still taken in before the next chunk is handed on
    unsigned char* bytes_;     // encoded bytes waiting: 3 x bufferSize_ + 4
    unsigned int byteCount_;
    XMLCh pendingHigh_;  // a high surrogate whose partner has not arrived yet, or 0
};

}  // namespace XML
}  // namespace Ambrite

#endif
