#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "support/stream_doubles.h"

using namespace amxml_test;
using Script = std::vector<std::u16string>;

namespace {

const auto u8 = [](const char* s) { return reinterpret_cast<const unsigned char*>(s); };

std::string readOnce(OctetSource& s, unsigned int max) {
    std::string buffer(max, '\0');
    buffer.resize(s.read(reinterpret_cast<unsigned char*>(&buffer[0]), max));
    return buffer;
}

// Runs a script through a UTF8Sink of `size` units: "" stands for flush(), anything else goes in
// with its own write(); then close(), or destruction without it.
OctetRecorder run(unsigned int size, const Script& script, bool close = true) {
    OctetRecorder sink;
    {
        UTF8Sink out(sink, size);
        for (const std::u16string& s : script)
            s.empty() ? out.flush() : out.write(s.data(), s.size());
        if (close) out.close();
    }
    return sink;
}

}  // namespace

// Each run is swept: it ends in success or Exception 18 with each allocation failing in turn, and
// leaves nothing behind.
TEST(BufferSink, ReleaseHandsTheBytesOverAndPipesInterleaveWritesAndReads) {
    EXPECT_LT(0u, sweep([] {
                  BufferSink sink(2);
                  sink.write(u8("abcdef"), 6);
                  std::unique_ptr<unsigned char, AMXMLDelete> released(sink.release());
                  EXPECT_EQ(nullptr, sink.data());
                  EXPECT_EQ("abcdef",
                            std::string(reinterpret_cast<char*>(released.get()), sink.length()));
                  OctetSinkSource pipe(1);
                  pipe.write(u8("abc"), 3);
                  EXPECT_EQ("ab", readOnce(pipe, 2));
                  pipe.write(u8("d"), 1);
                  static_cast<OctetSink&>(pipe).close();
                  static_cast<OctetSource&>(pipe).close();
                  EXPECT_EQ("cd", readOnce(pipe, 10));
                  EXPECT_EQ("", readOnce(pipe, 10));
              }));
}

// One source per read, empty ones skipped; a read of 0 bytes touches none; close() closes all.
TEST(SequenceSource, ReadsOneSourcePerCallAndClosesAll) {
    int deaths = 0;
    StringSource* sources[] = {new StringSource("", &deaths), new StringSource("xy", &deaths),
                               new StringSource("z", &deaths)};
    {
        SequenceSource sequence({sources[0], nullptr, sources[1], sources[2]});
        EXPECT_EQ("x", readOnce(sequence, 1));
        for (const char* s : {"y", "z", ""}) EXPECT_EQ(s, readOnce(sequence, 9));
        sequence.close();
        for (StringSource* s : sources) EXPECT_EQ(1, s->closes);
        EXPECT_EQ(0, deaths);
    }
    EXPECT_EQ(3, deaths);
    EXPECT_EQ(0u, SequenceSource({new StringSource("a", nullptr, 0)}).read(nullptr, 0));
}

// Also in a sequence copied to a sink, with each allocation failing in turn.
TEST(BlockSource, ReadsToTheEndAndFailsAfterClose) {
    BlockSource source(new Block("hello", 5, Block::Copy));
    for (const char* s : {"hel", "lo", ""}) EXPECT_EQ(s, readOnce(source, 3));
    source.close();
    EXPECT_EQ("3: Already closed", thrown([&] { readOnce(source, 3); }));
    source.close();
    EXPECT_LT(0u, sweep([] {
                  std::unique_ptr<Block> b(new Block("xyz", 3, Block::Copy));
                  std::unique_ptr<OctetSource> first(new BlockSource(b.get()));
                  b.release();
                  std::unique_ptr<OctetSource> second(new StringSource("uvw"));
                  SequenceSource sequence({first.get(), second.get()});
                  first.release();
                  second.release();
                  BufferSink sink(1);
                  IO::io(&sequence, &sink, 2);
              }));
}

// The copy closes the source, not the sink; when it fails the source stays open.
TEST(IO, CopiesInChunksAndClosesOnlyTheSource) {
    const std::tuple<std::string, unsigned int, int, std::vector<std::string>> kCases[] = {
        {"abcdefg", 3, 0, {"abc", "def", "g"}},
        {"abc", 0, 0, {"a", "b", "c"}},
        {"", 4, 0, {}},
        {"abc", 2, 1, {}}};
    for (const auto& [input, bufferSize, failures, chunks] : kCases) {
        StringSource source(input);
        OctetRecorder sink;
        sink.failures = failures;
        EXPECT_EQ(failures ? "3: Sink failed" : "no exception",
                  thrown([&, n = bufferSize] { IO::io(&source, &sink, n); }));
        EXPECT_EQ(chunks, sink.chunks) << input;
        EXPECT_EQ(failures ? 0 : 1, source.closes);
        EXPECT_EQ(0, sink.closes);
    }
}

// Exact bytes, which also pin the reference encoder of the model comparison below: a pair is one
// character, also when split across writes and held over an internal flush (a buffer of one
// unit); a lone surrogate and a high one at the end are three bytes each. Each allocation of the
// encoder fails in turn too: the result is the same or Exception 18, and nothing is left behind.
TEST(UTF8Sink, EncodesUnitsAndSurrogates) {
    const std::pair<Script, std::string> kCases[] = {
        {{u"A\x7F\x80\xE9\x7FF"}, "A\x7F\xC2\x80\xC3\xA9\xDF\xBF"},
        {{u"\x800\x20AC\xD7FF\xE000\xFFFF"},
         "\xE0\xA0\x80\xE2\x82\xAC\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"},
        {{std::u16string(u"a\0b", 3)}, std::string("a\0b", 3)},
        {{u"\xD83D", u"\xDE00"}, "\xF0\x9F\x98\x80"},
        {{u"\xD800\xDC00", u"\xDBFF\xDFFF"}, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {{u"\xDE00\xD83D\x61"}, "\xED\xB8\x80\xED\xA0\xBD\x61"},
        {{u"\xD83D\xD83D\xDE00"}, "\xED\xA0\xBD\xF0\x9F\x98\x80"},
        {{u"x\xD83D"}, "x\xED\xA0\xBD"},
    };
    for (const auto& [pieces, bytes] : kCases) {
        const std::u16string all = std::accumulate(pieces.begin(), pieces.end(), std::u16string());
        EXPECT_EQ(bytes, utf8(all)) << ::testing::PrintToString(pieces);
        EXPECT_LT(0u, sweep([&, &pieces = pieces, &bytes = bytes] {
                      EXPECT_EQ(bytes, run(4096, pieces).all) << ::testing::PrintToString(pieces);
                      EXPECT_EQ(bytes, run(1, pieces).all) << ::testing::PrintToString(pieces);
                  }));
    }
}

// Beyond the model comparison below: a buffer of 0 units counts as 1, a pair straddling the end of
// a buffer goes whole into the next chunk, and destruction without close() drops what waits.
TEST(UTF8Sink, HandsOnAChunkPerBufferOfUnits) {
    const std::tuple<unsigned int, Script, bool, std::vector<std::string>> kCases[] = {
        {4, {u"0123456789"}, false, {"0123", "4567"}},
        {0, {u"ab"}, false, {"a", "b"}},
        {2, {u"a\xD83D\xDE00\x62"}, true, {"a", "\xF0\x9F\x98\x80\x62", ""}},
    };
    for (const auto& [size, script, close, chunks] : kCases) {
        const OctetRecorder sink = run(size, script, close);
        EXPECT_EQ(chunks, sink.chunks) << ::testing::PrintToString(script);
        EXPECT_EQ(close ? 1 : 0, sink.closes);
    }
}

// A chunk the octet sink refused is handed on again before more units are taken in.
TEST(UTF8Sink, KeepsTheChunkWhenTheOctetSinkFails) {
    OctetRecorder sink;
    sink.failures = 1;
    UTF8Sink out(sink, 2);
    EXPECT_THROW(out.write(u"ab"), Exception);
    out.write(u"c");
    out.close();
    EXPECT_EQ((std::vector<std::string>{"ab", "c"}), sink.chunks);
}

// Random scripts and sizes against the plain encoder of the test support: between flushes a chunk
// per `size` units, and every chunk starts on a character.
TEST(UTF8Sink, MatchesAReferenceEncoder) {
    std::mt19937 random(20240611);
    // Half ASCII, so that runs long enough for the word-wise copy occur.
    const char16_t low[] = {0, 0, 0, 0, 0, 0x80, 0x800, 0xD800, 0xDC00, 0xE000};
    const char16_t high[] = {0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7FF, 0xD7FF, 0xDBFF, 0xDFFF, 0xFFFF};
    for (int round = 0; round < 2000; ++round) {
        const unsigned int size = 1 + random() % 9;
        Script script(random() % 10);
        std::string expected;
        std::u16string segment;  // since the last flush
        std::size_t chunks = 0;
        auto flush = [&] {
            expected += utf8(segment);
            chunks += 1 + segment.size() / size;
            segment.clear();
        };
        for (std::u16string& s : script) {
            for (int n = random() % 4 ? random() % 16 : 0, k; n > 0; --n) {
                k = random() % 10;
                s += static_cast<char16_t>(low[k] + random() % (high[k] - low[k] + 1));
            }
            segment += s;
            if (s.empty()) flush();
        }
        flush();
        const OctetRecorder sink = run(size, script);
        ASSERT_EQ(expected, sink.all) << "round " << round;
        ASSERT_EQ(chunks, sink.chunks.size()) << "round " << round;
        for (const std::string& c : sink.chunks) ASSERT_NE(0x80, c[0] & 0xC0) << "round " << round;
    }
}
