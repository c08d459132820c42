// The examples of the Canonical XML recommendation, byte for byte, from the manifest in
// tests/data/c14n-w3c (one flat JSON object per line), through the DOM path and the streaming
// one.
#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

struct ManifestCase {
    std::string id, input, expected, expectedXerces;  // paths; the last two may not exist
    DOMCanonicalizer::Mode mode;
    bool subset, expectError;
};

// The value after `"key": ` up to the next quote, comma or brace (the fields read hold no
// escapes).
std::string field(const std::string& line, const std::string& key) {
    std::size_t p = line.find("\"" + key + "\": ");
    if (p == std::string::npos) return "";
    p += key.size() + 4;
    if (line[p] == '"') ++p;
    return line.substr(p, line.find_first_of("\",}", p) - p);
}

std::vector<ManifestCase> readManifest() {
    const std::string dir = AMXML_SOURCE_DIR "/tests/data/c14n-w3c/";
    std::vector<ManifestCase> cases;
    for (const char* file : {"cases.jsonl", "error_cases.jsonl"}) {
        std::ifstream in(dir + file);
        for (std::string line; std::getline(in, line);) {
            if (line.empty()) continue;
            const std::string mode = field(line, "mode"), expected = dir + field(line, "expected");
            cases.push_back({field(line, "id"), dir + field(line, "input"), expected,
                             expected.substr(0, expected.size() - 4) + "-xerces.bin",
                             mode == "c14n-comments"  ? DOMCanonicalizer::CANONICAL_WITH_COMMENTS
                             : mode == "exc"          ? DOMCanonicalizer::EXCLUSIVE
                             : mode == "exc-comments" ? DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS
                                                      : DOMCanonicalizer::CANONICAL,
                             field(line, "apex") != "null" || field(line, "exclude") != "[]",
                             field(line, "expect_error") == "true"});
        }
    }
    return cases;
}

}  // namespace

TEST(Conformance, EveryManifestCaseMatchesByteForByte) {
    const std::vector<ManifestCase> cases = readManifest();
    ASSERT_EQ(13u, cases.size());
    for (const ManifestCase& c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_FALSE(c.subset) << "subset cases are not in this manifest";
        const std::string input = readFile(c.input);
        const std::string actual = c14nOutcome(input, true, c.mode);
        // The streaming path gives the same bytes, or the same failure.
        EXPECT_EQ(failureOf(actual), failureOf(c14nOutcome(input, false, c.mode)));
        if (c.expectError) {
            EXPECT_EQ(0u, actual.rfind(" | failure 13050: ", 0)) << actual;
            continue;
        }
        // Where Xerces normalizes an attribute value otherwise than the recommendation's parser
        // did (see the README there), its own expected output is accepted.
        const std::string expected = readFile(c.expected), xerces = readFile(c.expectedXerces);
        ASSERT_FALSE(expected.empty());
        if (xerces.empty() || actual != xerces) {
            EXPECT_EQ(expected, actual);
        }
    }
}
