// amxml verify --explain and --store-references, run as a subprocess on the documents signed by
// a peer in tests/data/verify/.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tool.h"

using namespace amxml_test;

namespace {

const std::string kData = std::string(AMXML_SOURCE_DIR) + "/tests/data/verify/";

std::string data(const std::string& name) { return "'" + kData + name + "'"; }

const std::string kKeys = "--key " + data("keys/rsa.pub.pem") + " --key " + data("keys/ec.pub.pem");

// The line of reference K of signature SIG with URI and verdict, and what the reference covers.
std::string ref(const std::string& sig, const std::string& uri, const std::string& covers,
                int k = 1, const std::string& verdict = "OK") {
    return "reference " + std::to_string(k) + " of signature " + sig + " (URI \"" + uri +
           "\"): " + verdict + "\n" + (covers.empty() ? "" : "  covers " + covers + "\n");
}

const std::string kPartly = " (only parts of its content are)\n";

typedef ToolTest Explain;

}  // namespace

TEST_F(Explain, SaysWhatReferencesCoverAndWhatNoValidSignatureCovers) {
    // The wrapping attack with no second ID: the signed element moved into the signature, where
    // its ID still finds it, and a forged one in its place that no reference covers.
    std::string wrapped = readFile(kData + "bad-wrapped.xml");
    wrapped.replace(wrapped.find("<Item Id=\"signed\">"), 18, "<Item>");
    wrapped.insert(wrapped.find("<Object><Item") + 13, " xmlns=\"urn:example:env\"");
    const std::string in = write("wrapped.xml", wrapped),
                      one = "1 element, 1 attribute, 1 character";
    const std::string nothing = "  warning: covers nothing outside the signature\n";
    // A valid reference to a comment before the document element, whose canonical form without
    // comments is empty.
    const std::string comment = write(
        "comment.xml",
        "<!-- c --><Signature xmlns='http://www.w3.org/2000/09/xmldsig#'><SignedInfo><Reference "
        "URI='#xpointer(/comment())'><Transforms><Transform Algorithm='http://www.w3.org/TR/2001/"
        "REC-xml-c14n-20010315'/></Transforms><DigestMethod Algorithm='http://www.w3.org/2001/04/"
        "xmlenc#sha256'/><DigestValue>47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=</DigestValue>"
        "</Reference></SignedInfo></Signature>");
    // clang-format off
    const struct { std::string args; int status; std::string out; } cases[] = {
        {kKeys + " " + data("enveloped-exc.xml"), 0, ref("/1/2", "", "/1 minus /1/2: 2 elements, 3 attributes, 22 characters") +
            "signature /1/2: VALID\nnot covered: /1/2\n"},
        {kKeys + " " + data("id-dtd.xml"), 0, ref("/1/3", "#p1", "/1/1: 1 element, 2 attributes, 7 characters") +
            "signature /1/3: VALID\nnot covered: /1" + kPartly + "not covered: /1/2\nnot covered: /1/3\n"},
        {kKeys + " --id-attr id " + data("multi-ref.xml"), 0, ref("/1/4", "#a", "/1/1: " + one, 1, "OK (warning: SHA-1)") +
            ref("/1/4", "#b", "/1/2: " + one, 2) + ref("/1/4", "#c", "/1/3: " + one, 3) +
            ref("/1/4", "", "/1 minus /1/4: 4 elements, 3 attributes, 7 characters", 4) + "signature /1/4: VALID\nnot covered: /1/4\n"},
        // The second signature is invalid: what its reference covers does not count.
        {"--key " + data("keys/rsa.pub.pem") + " --id-attr id " + data("multi-sig.xml"), 1, ref("/1/3", "#a", "/1/1: " + one) +
            "signature /1/3: VALID\n" + ref("/1/4", "#b", "/1/2: " + one) + "signature /1/4: INVALID (no EC key)\n"
            "not covered: /1" + kPartly + "not covered: /1/2\nnot covered: /1/3\nnot covered: /1/4\n"},
        // The node set on the signed document before its octets were parsed again.
        {kKeys + " --id-attr id " + data("c14n-twice.xml"), 0, ref("/1/2", "#x", "/1/1: 2 elements, 2 attributes, 0 characters") +
            "signature /1/2: VALID\nnot covered: /1" + kPartly + "not covered: /1/2\n"},
        {kKeys + " " + data("bad-wrapped.xml"), 1, ref("/1/2", "#signed", "", 1, "FAILED: no element with ID 'signed'") +
            "signature /1/2: INVALID (reference 1 FAILED: no element with ID 'signed')\n" + nothing + "not covered: /1\n"},
        {kKeys + " --id-attr Id " + in, 0, ref("/1/2", "#signed", "/1/2/3/1: 2 elements, 2 attributes, 10 characters") +
            "  warning: the reference names a node inside its signature\nsignature /1/2: VALID\n" + nothing +
            "not covered: /1" + kPartly + "not covered: /1/1\nnot covered: /1/2" + kPartly +
            "not covered: /1/2/1\nnot covered: /1/2/2\nnot covered: /1/2/3" + kPartly},
        {"--references-only " + comment, 0, ref("/1", "#xpointer(/comment())", "no element: 0 elements, 0 attributes, 0 characters") +
            "  warning: the reference names a node outside the document element\n"
            "signature /1: VALID (references only, SignatureValue not checked)\n" + nothing + "not covered: /1\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = run("verify --explain " + c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ("", r.err);
    }
}

TEST_F(Explain, StoresTheOctetsEachReferenceDigested) {
    // Each file against the canonical form amxml c14n makes of the same selection; the second
    // document's references 2 and 4 fail their digests.
    // clang-format off
    const struct { std::string args, file; std::vector<std::pair<std::string, std::string>> stored; } cases[] = {
        {kKeys, "id-dtd.xml", {{"1/3-ref1.bin", "--apex p1"}, {"1/3-signedinfo.bin", "--apex /1/3/1"}}},
        {"--references-only --id-attr id", "bad-second-ref.xml",
            {{"1/4-ref2.bin", "--id-attr id --apex b"}, {"1/4-ref4.bin", "--exclude-signatures"}}},
        {kKeys, "enveloped-exc.xml", {{"1/2-ref1.bin", "--exclusive --prefixes 'x o' --exclude-signatures"},
            {"1/2-signedinfo.bin", "--exclusive --prefixes x --apex /1/2/1"}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Outcome r =
            run("verify --store-references '" + dir_ + "/out/' " + c.args + " " + data(c.file));
        EXPECT_EQ(c.file == "bad-second-ref.xml" ? 1 : 0, r.status);
        for (const auto& [name, selection] : c.stored) {
            const std::string expected = run("c14n " + selection + " " + data(c.file)).out;
            EXPECT_FALSE(expected.empty());
            EXPECT_EQ(expected, readFile(dir_ + "/out/" + name)) << name;
        }
    }
}

TEST_F(Explain, FailsWhenTheOctetsCannotBeStored) {
    write("file", "");
    ASSERT_EQ(0, std::system(("mkdir -p '" + dir_ + "/full/1' && ln -s /dev/full '" + dir_ +
                              "/full/1/3-ref1.bin'")
                                 .c_str()));
    const struct {
        std::string directory, out, err;
        int status;
    } cases[] = {
        {dir_ + "/file/sub", "", "cannot create the directory " + dir_ + "/file: File exists\n", 1},
        {dir_ + "/full", ref("/1/3", "#p1", ""),
         "cannot write " + dir_ + "/full/1/3-ref1.bin: No space left on device\n", 1},
        {"", "", "empty directory of --store-references\nusage: amxml verify", 2},
    };
    for (const auto& c : cases) {
        Outcome r = run("verify " + kKeys + " --store-references '" + c.directory + "' " +
                        data("id-dtd.xml"));
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(0u, r.err.find("amxml verify: " + c.err)) << r.err;
    }
}
