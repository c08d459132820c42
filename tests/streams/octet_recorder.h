// An octet sink that keeps every write as its own chunk, for the stream tests.
#ifndef AMBRITE_XML_TESTS_OCTET_RECORDER_H
#define AMBRITE_XML_TESTS_OCTET_RECORDER_H

#include <ambrite/xml/streams.h>

#include <string>
#include <vector>

namespace amxml_test {

class OctetRecorder : public Ambrite::XML::OctetSink {
public:
    void write(const unsigned char* bytes, unsigned int count) override {
        if (failures > 0) {
            --failures;
            throw Ambrite::XML::Exception(3, "Sink failed");
        }
        chunks.push_back(std::string(reinterpret_cast<const char*>(bytes), count));
    }
    void close() override { ++closes; }
    std::string all() const {
        std::string s;
        for (const std::string& c : chunks) s += c;
        return s;
    }

    std::vector<std::string> chunks;
    int closes = 0;
    int failures = 0;  // writes still to fail before writes succeed again
};

}  // namespace amxml_test

#endif
