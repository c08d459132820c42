#include <gtest/gtest.h>

#include <random>

#include "streams/octet_recorder.h"
#include "support/test_support.h"

using namespace amxml_test;

namespace {

// Writes each piece with its own write(), then closes; gives the bytes of all chunks.
std::string encoded(const std::vector<std::u16string>& pieces, unsigned int bufferSize = 4096) {
    OctetRecorder sink;
    UTF8Sink out(sink, bufferSize);
    for (const std::u16string& p : pieces) out.write(p.data(), p.size());
    out.close();
    return sink.all();
}

}  // namespace

TEST(UTF8Sink, EncodesEachUnitRange) {
    const struct {
        char16_t unit;
        const char* bytes;
    } cases[] = {{0x0041, "\x41"},         {0x007F, "\x7F"},         {0x0080, "\xC2\x80"},
                 {0x00E9, "\xC3\xA9"},     {0x07FF, "\xDF\xBF"},     {0x0800, "\xE0\xA0\x80"},
                 {0x20AC, "\xE2\x82\xAC"}, {0xD7FF, "\xED\x9F\xBF"}, {0xE000, "\xEE\x80\x80"},
                 {0xFFFF, "\xEF\xBF\xBF"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.unit));
        EXPECT_EQ(c.bytes, encoded({std::u16string(1, c.unit)}));
    }
    EXPECT_EQ(std::string("a\0b", 3), encoded({std::u16string(u"a\0b", 3)}));
}

TEST(UTF8Sink, CombinesPairsAndWritesUnpairedSurrogatesAsThreeBytes) {
    const struct {
        std::vector<std::u16string> pieces;
        const char* bytes;
    } cases[] = {
        {{u"\xD83D\xDE00"}, "\xF0\x9F\x98\x80"},
        {{u"\xD83D", u"\xDE00"}, "\xF0\x9F\x98\x80"},
        {{u"\xD800\xDC00", u"\xDBFF\xDFFF"}, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {{u"\xDE00"}, "\xED\xB8\x80"},
        {{u"\xD83D"
          u"a"},
         "\xED\xA0\xBD"
         "a"},
        {{u"\xD83D", u"a"},
         "\xED\xA0\xBD"
         "a"},
        {{u"\xD83D\xD83D\xDE00"}, "\xED\xA0\xBD\xF0\x9F\x98\x80"},
        {{u"\xDE00\xD83D"}, "\xED\xB8\x80\xED\xA0\xBD"},
        {{u"x\xD83D"}, "x\xED\xA0\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.pieces));
        EXPECT_EQ(c.bytes, encoded(c.pieces));
        EXPECT_EQ(c.bytes, encoded(c.pieces, 1));
    }
}

TEST(UTF8Sink, PairStraddlingAChunkBoundaryIsWrittenWhole) {
    OctetRecorder sink;
    UTF8Sink out(sink, 2);
    out.write(
        u"a\xD83D\xDE00"
        u"b");
    out.close();
    EXPECT_EQ((std::vector<std::string>{"a",
                                        "\xF0\x9F\x98\x80"
                                        "b",
                                        ""}),
              sink.chunks);
}

TEST(UTF8Sink, ExplicitFlushWritesAHeldHighSurrogateAlone) {
    OctetRecorder sink;
    UTF8Sink out(sink, 8);
    out.write(u"\xD83D");
    out.flush();
    out.write(u"\xDE00");
    out.close();
    EXPECT_EQ((std::vector<std::string>{"\xED\xA0\xBD", "\xED\xB8\x80"}), sink.chunks);
}

TEST(UTF8Sink, WritesOneChunkPerBufferOfUnitsAndOneOnClose) {
    OctetRecorder sink;
    UTF8Sink out(sink, 4);
    out.write(u"0123456789", 10);
    EXPECT_EQ((std::vector<std::string>{"0123", "4567"}), sink.chunks);
    EXPECT_EQ(0, sink.closes);
    out.close();
    EXPECT_EQ((std::vector<std::string>{"0123", "4567", "89"}), sink.chunks);
    EXPECT_EQ(1, sink.closes);
    EXPECT_EQ(u"UTF-8", u16(out.encoding()));
}

TEST(UTF8Sink, CloseWithNothingWaitingWritesZeroBytes) {
    OctetRecorder sink;
    UTF8Sink(sink, 4).close();
    EXPECT_EQ(std::vector<std::string>{""}, sink.chunks);
    EXPECT_EQ(1, sink.closes);
}

TEST(UTF8Sink, DestructionWithoutCloseDropsWaitingUnits) {
    OctetRecorder sink;
    UTF8Sink(sink, 4).write(u"abc");
    EXPECT_TRUE(sink.chunks.empty());
    EXPECT_EQ(0, sink.closes);
}

TEST(UTF8Sink, BufferSizeZeroFlushesEveryUnit) {
    OctetRecorder sink;
    UTF8Sink out(sink, 0);
    out.write(u"ab");
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), sink.chunks);
}

TEST(UTF8Sink, KeepsTheChunkWhenTheOctetSinkFails) {
    OctetRecorder sink;
    sink.failures = 1;
    UTF8Sink out(sink, 2);
    EXPECT_THROW(out.write(u"ab"), Exception);
    out.write(u"c");
    out.close();
    EXPECT_EQ((std::vector<std::string>{"ab", "c"}), sink.chunks);
}

// Random unit strings, write splits, flushes and buffer sizes against a plain encoder; every
// chunk must also start on a character boundary.
TEST(UTF8Sink, MatchesAReferenceEncoder) {
    std::mt19937 random(20240611);
    // Half ASCII, so that runs long enough for the word-wise copy occur.
    const char16_t kinds[][2] = {
        {0x00, 0x7F},  {0x00, 0x7F},    {0x00, 0x7F},     {0x00, 0x7F},     {0x00, 0x7F},
        {0x80, 0x7FF}, {0x800, 0xD7FF}, {0xD800, 0xDBFF}, {0xDC00, 0xDFFF}, {0xE000, 0xFFFF}};
    for (int round = 0; round < 2000; ++round) {
        unsigned int bufferSize = 1 + random() % 9;
        OctetRecorder sink;
        UTF8Sink out(sink, bufferSize);
        std::string expected;
        std::u16string segment;  // units since the last explicit flush
        std::size_t chunks = 0, sinceChunk = 0;
        for (int piece = random() % 8; piece > 0; --piece) {
            std::u16string text;
            for (int n = random() % 16; n > 0; --n) {
                const char16_t* k = kinds[random() % 10];
                text += static_cast<char16_t>(k[0] + random() % (k[1] - k[0] + 1));
            }
            out.write(text.data(), text.size());
            segment += text;
            sinceChunk += text.size();
            chunks += sinceChunk / bufferSize;
            sinceChunk %= bufferSize;
            if (random() % 4 == 0) {
                out.flush();
                expected += utf8(segment);
                segment.clear();
                ++chunks;
                sinceChunk = 0;
            }
        }
        out.close();
        expected += utf8(segment);
        ASSERT_EQ(expected, sink.all()) << "round " << round;
        ASSERT_EQ(chunks + 1, sink.chunks.size()) << "round " << round;
        for (const std::string& c : sink.chunks) {
            ASSERT_TRUE(c.empty() || (c[0] & 0xC0) != 0x80) << "round " << round;
        }
    }
}
