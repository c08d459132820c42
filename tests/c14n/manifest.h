// Reads the manifest of the canonical XML examples (one flat JSON object per line).
#ifndef AMBRITE_XML_TESTS_C14N_MANIFEST_H
#define AMBRITE_XML_TESTS_C14N_MANIFEST_H

#include <ambrite/xml/c14n.h>

#include <fstream>
#include <string>
#include <vector>

namespace amxml_test {

struct ManifestCase {
    std::string id;
    std::string input;  // absolute paths
    std::string expected;
    std::string expectedXerces;  // may not exist
    std::string modeName;
    Ambrite::XML::C14n::DOMCanonicalizer::Mode mode;
    std::string apex;
    std::string exclude;
    bool expectError;
};

inline std::string manifestDir() { return AMXML_SOURCE_DIR "/tests/data/c14n-w3c/"; }

// The raw text of a field's value: a string's contents, or the literal (null, true, [...]).
inline std::string jsonField(const std::string& line, const std::string& key) {
    std::string marker = "\"" + key + "\": ";
    std::size_t p = line.find(marker);
    if (p == std::string::npos) return "";
    p += marker.size();
    if (line[p] != '"') {
        std::size_t end = line.find_first_of(",}", p);
        return line.substr(p, end - p);
    }
    std::string value;
    for (++p; p < line.size() && line[p] != '"'; ++p) {
        if (line[p] == '\\' && p + 1 < line.size()) ++p;
        value += line[p];
    }
    return value;
}

inline std::vector<ManifestCase> readManifest() {
    using Ambrite::XML::C14n::DOMCanonicalizer;
    std::vector<ManifestCase> cases;
    for (const char* file : {"cases.jsonl", "error_cases.jsonl"}) {
        std::ifstream in(manifestDir() + file);
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty()) continue;
            ManifestCase c;
            c.id = jsonField(line, "id");
            c.input = manifestDir() + jsonField(line, "input");
            std::string expected = jsonField(line, "expected");
            if (expected != "null") {
                c.expected = manifestDir() + expected;
                c.expectedXerces = c.expected.substr(0, c.expected.size() - 4) + "-xerces.bin";
            }
            c.modeName = jsonField(line, "mode");
            c.mode = c.modeName == "c14n-comments"  ? DOMCanonicalizer::CANONICAL_WITH_COMMENTS
                     : c.modeName == "exc"          ? DOMCanonicalizer::EXCLUSIVE
                     : c.modeName == "exc-comments" ? DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS
                                                    : DOMCanonicalizer::CANONICAL;
            std::string apex = jsonField(line, "apex");
            c.apex = apex == "null" ? "" : apex;
            std::string exclude = jsonField(line, "exclude");
            c.exclude = exclude == "[]" ? "" : exclude;
            c.expectError = jsonField(line, "expect_error") == "true";
            cases.push_back(c);
        }
    }
    return cases;
}

}  // namespace amxml_test

#endif
