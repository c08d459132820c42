// The examples of the Canonical XML recommendation, byte for byte, from the manifest in
// tests/data/c14n-w3c (one flat JSON object per line), through the DOM path and the streaming
// one.
#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

// The value after `"key": ` up to the next quote, comma or brace (the fields read hold no
// escapes).
std::string field(const std::string& line, const std::string& key) {
    std::size_t p = line.find("\"" + key + "\": ");
    if (p == std::string::npos) return "";
    p += key.size() + 4;
    if (line[p] == '"') ++p;
    return line.substr(p, line.find_first_of("\",}", p) - p);
}

}  // namespace

TEST(Conformance, EveryManifestCaseMatchesByteForByte) {
    const std::string dir = AMXML_SOURCE_DIR "/tests/data/c14n-w3c/";
    std::size_t cases = 0;
    for (const char* file : {"cases.jsonl", "error_cases.jsonl"}) {
        std::ifstream in(dir + file);
        for (std::string line; std::getline(in, line);) {
            if (line.empty()) continue;
            ++cases;
            SCOPED_TRACE(field(line, "id"));
            ASSERT_TRUE(field(line, "apex") == "null" && field(line, "exclude") == "[]")
                << "subset cases are not in this manifest";
            const std::string mode = field(line, "mode"),
                              input = readFile(dir + field(line, "input"));
            const int m = mode == "c14n-comments"  ? DOMCanonicalizer::CANONICAL_WITH_COMMENTS
                          : mode == "exc"          ? DOMCanonicalizer::EXCLUSIVE
                          : mode == "exc-comments" ? DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS
                                                   : DOMCanonicalizer::CANONICAL;
            const std::string actual = c14nOutcome(input, true, m);
            // The streaming path gives the same bytes, or the same failure.
            EXPECT_EQ(failureOf(actual), failureOf(c14nOutcome(input, false, m)));
            if (field(line, "expect_error") == "true") {
                EXPECT_EQ(0u, actual.rfind(" | failure 13050: ", 0)) << actual;
                continue;
            }
            // Where Xerces normalizes an attribute value otherwise than the recommendation's
            // parser did (see the README there), its own expected output is accepted.
            const std::string path = dir + field(line, "expected"), expected = readFile(path),
                              xerces = readFile(path.substr(0, path.size() - 4) + "-xerces.bin");
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(expected, xerces.empty() || actual != xerces ? actual : expected);
        }
    }
    EXPECT_EQ(13u, cases);
}
