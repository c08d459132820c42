// Sinks, sources and the UTF-8 encoder with their first, second, third... allocation failing:
// each run ends in success or Exception 18 and leaves nothing behind.
#include <gtest/gtest.h>

#include "support/stream_doubles.h"

using namespace amxml_test;

TEST(AllocationFailure, Streams) {
    const unsigned char* abc = reinterpret_cast<const unsigned char*>("abcdef");
    EXPECT_GT(sweep([&] {
                  BufferSink sink(2);
                  sink.write(abc, 6);
                  std::unique_ptr<unsigned char, AMXMLDelete>(sink.release());
                  OctetSinkSource pipe(1);
                  pipe.write(abc, 3);
                  unsigned char buffer[4];
                  pipe.read(buffer, 4);
              }),
              0u);
    EXPECT_GT(sweep([] {
                  std::unique_ptr<Block> b(new Block("xyz", 3, Block::Copy));
                  std::unique_ptr<OctetSource> first(new BlockSource(b.get()));
                  b.release();
                  std::unique_ptr<OctetSource> second(new StringSource("uvw"));
                  SequenceSource sequence({first.get(), second.get()});
                  first.release();
                  second.release();
                  BufferSink sink(1);
                  IO::io(&sequence, &sink, 2);
              }),
              0u);
    EXPECT_GT(sweep([] {
                  BufferSink sink(1);
                  UTF8Sink out(sink, 3);
                  out.write(u"a\xE9\x20AC\xD83D");
                  out.write(u"\xDE00xyz");
                  out.flush();
                  out.close();
              }),
              0u);
}
