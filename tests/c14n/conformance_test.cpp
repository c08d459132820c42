// The examples of the Canonical XML recommendation, byte for byte.
#include <ambrite/xml/c14n.h>

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"
#include "tests/c14n/manifest.h"

using namespace amxml_test;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

std::string canonicalFile(const std::string& path, DOMCanonicalizer::Mode mode) {
    std::string xml = readFile(path);
    DocumentPtr doc = parse(xml);
    NodeSet nodes(doc.get(), nullptr, nullptr, false);
    BufferSink sink;
    DOMCanonicalizer::canonicalize(&nodes, &sink, mode, nullptr);
    return bytes(sink);
}

}  // namespace

TEST(Conformance, EveryManifestCaseMatchesByteForByte) {
    std::vector<ManifestCase> cases = readManifest();
    ASSERT_GE(cases.size(), 12u);
    int compared = 0;
    for (const ManifestCase& c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_TRUE(c.apex.empty() && c.exclude.empty()) << "subset cases are not in this manifest";
        if (c.expectError) {
            try {
                canonicalFile(c.input, c.mode);
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_EQ(13050, e.id()) << printed(e);
            }
            continue;
        }
        std::string actual = canonicalFile(c.input, c.mode);
        std::string expected = readFile(c.expected);
        ASSERT_FALSE(expected.empty());
        std::string xerces = readFile(c.expectedXerces);
        if (!xerces.empty() && actual == xerces) {
            ++compared;
            continue;
        }
        EXPECT_EQ(expected, actual);
        ++compared;
    }
    EXPECT_EQ(12, compared);
}
