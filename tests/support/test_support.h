// Helpers shared by the tests: readable XMLCh strings, parsing from text, capturing output.
#ifndef AMBRITE_XML_TEST_SUPPORT_H
#define AMBRITE_XML_TEST_SUPPORT_H

#include <ambrite/xml/dom.h>
#include <ambrite/xml/foundation.h>
#include <ambrite/xml/streams.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace amxml_test {

using namespace Ambrite::XML;

/// A UTF-16 string for comparisons; gtest prints it readably.
inline std::u16string u16(const XMLCh* s) { return s ? std::u16string(s) : std::u16string(u"<null>"); }

/// UTF-16 to UTF-8 (pairs combined; lone surrogates as three bytes).
inline std::string utf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

inline std::string utf8(const XMLCh* s) { return s ? utf8(std::u16string(s)) : "<null>"; }

/// ASCII/UTF-8 literal widened byte by byte (tests use ASCII inputs here).
inline std::u16string widen(const std::string& s) {
    std::u16string out;
    for (unsigned char c : s) out += static_cast<char16_t>(c);
    return out;
}

struct DocumentDeleter {
    void operator()(DOMDocument* d) const {
        if (d) DocumentRelease()(d);
    }
};
typedef std::unique_ptr<DOMDocument, DocumentDeleter> DocumentPtr;

/// Parses text with the library's parser (a source over a copy of the bytes).
inline DocumentPtr parse(const std::string& xml) {
    BlockSource source(new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
    return DocumentPtr(DOMUtil::parse(&source));
}

/// Parses text with the given limits.
inline DocumentPtr parse(const std::string& xml, const DOMUtil::Limits& limits) {
    BlockSource source(new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
    return DocumentPtr(DOMUtil::parse(&source, limits));
}

/// Limits that let a document nest `depth` deep.
inline DOMUtil::Limits depthLimits(unsigned int depth) {
    DOMUtil::Limits limits;
    limits.maxDepth(depth);
    return limits;
}

inline bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

/// The bytes of a file, empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/// The text of an Exception as the library prints it.
inline std::string printed(const Exception& e) {
    std::ostringstream s;
    s << e;
    return s.str();
}

/// A character sink that records every write, for checking write patterns.
class RecordingSink : public CharacterSink {
public:
    using CharacterSink::write;
    void write(const XMLCh* text, unsigned int count) override {
        writes.push_back(std::u16string(text, count));
        text_.append(text, count);
    }
    void close() override { closed = true; }
    const XMLCh* encoding() const override { return nullptr; }
    const std::u16string& text() const { return text_; }

    std::vector<std::u16string> writes;
    bool closed = false;

private:
    std::u16string text_;
};

/// The bytes a BufferSink holds.
inline std::string bytes(const BufferSink& sink) {
    return sink.data() ? std::string(reinterpret_cast<const char*>(sink.data()), sink.length())
                       : std::string();
}

}  // namespace amxml_test

#endif
