#include <gtest/gtest.h>

#include <algorithm>

#include "streams/octet_recorder.h"
#include "support/test_support.h"

using namespace amxml_test;

namespace {

const unsigned char* u8(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

// A source over a string that counts its reads, closes and destruction.
class StringSource : public OctetSource {
public:
    StringSource(std::string bytes, int* closes, int* deaths)
        : bytes_(std::move(bytes)), closes_(closes), deaths_(deaths) {}
    ~StringSource() override { ++*deaths_; }
    unsigned int read(unsigned char* buffer, unsigned int max) override {
        ++reads;
        unsigned int k = std::min<unsigned int>(max, bytes_.size() - position_);
        std::copy_n(bytes_.data() + position_, k, buffer);
        position_ += k;
        return k;
    }
    void close() override { ++*closes_; }

    int reads = 0;

private:
    std::string bytes_;
    unsigned int position_ = 0;
    int* closes_;
    int* deaths_;
};

std::string readOnce(OctetSource& s, unsigned int max) {
    std::string buffer(max, '\0');
    buffer.resize(s.read(reinterpret_cast<unsigned char*>(&buffer[0]), max));
    return buffer;
}

}  // namespace

TEST(BufferSink, GrowsToCountPlusTwiceCapacity) {
    BufferSink sink(4);
    sink.write(u8("abc"), 3);
    EXPECT_EQ(4u, sink.capacity());
    sink.write(u8("def"), 3);
    EXPECT_EQ(11u, sink.capacity());
    EXPECT_EQ("abcdef", bytes(sink));

    BufferSink exact(4);
    exact.write(u8("abcd"), 4);
    EXPECT_EQ(4u, exact.capacity());
    exact.write(u8("e"), 1);
    EXPECT_EQ(9u, exact.capacity());
    EXPECT_EQ("abcde", bytes(exact));
}

TEST(BufferSink, CapacityZeroAcceptsWrites) {
    BufferSink sink(0);
    sink.write(u8("hello"), 5);
    EXPECT_EQ(5u, sink.capacity());
    EXPECT_EQ("hello", bytes(sink));
}

TEST(BufferSink, ReleaseHandsTheBytesOver) {
    BufferSink sink(2);
    sink.write(u8("xyz"), 3);
    sink.close();
    unsigned char* data = sink.release();
    EXPECT_EQ(nullptr, sink.data());
    EXPECT_EQ(3u, sink.length());
    EXPECT_EQ("xyz", std::string(reinterpret_cast<char*>(data), 3));
    utfree(data);
}

TEST(OctetSinkSource, InterleavesWritesAndReads) {
    OctetSinkSource pipe(1);
    pipe.write(u8("abc"), 3);
    EXPECT_EQ("ab", readOnce(pipe, 2));
    pipe.write(u8("d"), 1);
    static_cast<OctetSink&>(pipe).close();
    static_cast<OctetSource&>(pipe).close();
    EXPECT_EQ("cd", readOnce(pipe, 10));
    EXPECT_EQ("", readOnce(pipe, 10));
}

TEST(SequenceSource, ReadsOneSourcePerCallAndSkipsEmptyOnes) {
    int closes = 0, deaths = 0;
    {
        SequenceSource sequence({new StringSource("", &closes, &deaths), nullptr,
                                 new StringSource("xy", &closes, &deaths),
                                 new StringSource("z", &closes, &deaths)});
        EXPECT_EQ("xy", readOnce(sequence, 10));
        EXPECT_EQ("z", readOnce(sequence, 10));
        EXPECT_EQ("", readOnce(sequence, 10));
        sequence.close();
        EXPECT_EQ(3, closes);
        EXPECT_EQ(0, deaths);
    }
    EXPECT_EQ(3, deaths);
}

TEST(SequenceSource, MaxZeroTouchesNoSource) {
    int closes = 0, deaths = 0;
    StringSource* first = new StringSource("ab", &closes, &deaths);
    SequenceSource sequence({first, new StringSource("c", &closes, &deaths)});
    EXPECT_EQ(0u, sequence.read(nullptr, 0));
    EXPECT_EQ(0, first->reads);
    EXPECT_EQ("a", readOnce(sequence, 1));
}

TEST(BlockSource, ReadsToTheEndAndFailsAfterClose) {
    BlockSource source(new Block("hello", 5, Block::Copy));
    EXPECT_EQ("hel", readOnce(source, 3));
    EXPECT_EQ("lo", readOnce(source, 3));
    EXPECT_EQ("", readOnce(source, 3));
    source.close();
    try {
        readOnce(source, 3);
        FAIL() << "read after close";
    } catch (const Exception& e) {
        EXPECT_EQ(3, e.id());
        EXPECT_STREQ("Already closed", e.what().c_str());
    }
    source.close();
}

TEST(IO, CopiesInChunksAndClosesOnlyTheSource) {
    const struct {
        const char* input;
        unsigned int bufferSize;
        std::vector<std::string> chunks;
    } cases[] = {{"abcdefg", 3, {"abc", "def", "g"}}, {"abc", 0, {"a", "b", "c"}}, {"", 4, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        int closes = 0, deaths = 0;
        StringSource source(c.input, &closes, &deaths);
        OctetRecorder sink;
        IO::io(&source, &sink, c.bufferSize);
        EXPECT_EQ(c.chunks, sink.chunks);
        EXPECT_EQ(1, closes);
        EXPECT_EQ(0, sink.closes);
    }
}

TEST(IO, SinkFailurePassesThroughAndLeavesTheSourceOpen) {
    int closes = 0, deaths = 0;
    StringSource source("abc", &closes, &deaths);
    OctetRecorder sink;
    sink.failures = 1;
    try {
        IO::io(&source, &sink, 2);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ("Sink failed", e.what().c_str());
    }
    EXPECT_EQ(0, closes);
}
