// Octet streams that record what is done to them; shared by the stream, DOM and c14n tests.
#ifndef AMBRITE_XML_TESTS_STREAM_DOUBLES_H
#define AMBRITE_XML_TESTS_STREAM_DOUBLES_H

#include <algorithm>
#include <cstring>

#include "support/test_support.h"

namespace amxml_test {

/// Keeps each write as a chunk and all of them together; the first `failures` writes throw
/// Exception 3 instead.
struct OctetRecorder : OctetSink {
    void write(const unsigned char* bytes, unsigned int count) override {
        if (failures > 0 && failures--) throw Exception(3, "Sink failed");
        chunks.emplace_back(reinterpret_cast<const char*>(bytes), count);
        all += chunks.back();
    }
    void close() override { ++closes; }
    std::vector<std::string> chunks;
    std::string all;
    int closes = 0, failures = 0;
};

/// Reads a string, failing with Exception 3 once `failAfter` bytes are read; counts its closes
/// and (into *deaths) its destruction.
struct StringSource : OctetSource {
    explicit StringSource(std::string bytes, int* deathCount = nullptr,
                          std::size_t failAfter = std::string::npos)
        : data(std::move(bytes)), deaths(deathCount), failAt(failAfter) {}
    ~StringSource() override {
        if (deaths) ++*deaths;
    }
    unsigned int read(unsigned char* buffer, unsigned int max) override {
        if (position >= failAt) throw Exception(3, "Already closed");
        std::size_t n = std::min<std::size_t>(max, data.size() - position);
        std::memcpy(buffer, data.data() + position, n);
        position += n;
        return static_cast<unsigned int>(n);
    }
    void close() override { ++closes; }
    std::string data;
    int* deaths;
    std::size_t failAt, position = 0;
    int closes = 0;
};

}  // namespace amxml_test

#endif
