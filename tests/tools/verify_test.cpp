// amxml verify (with --explain and --store-references), run as a subprocess on documents signed by
// a peer (tests/data/verify/make.sh, which also checks that the peer agrees with every verdict
// below).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tool.h"

using namespace amxml_test;

namespace {

const std::string kData = std::string(AMXML_SOURCE_DIR) + "/tests/data/verify/";

std::string data(const std::string& name) { return "'" + kData + name + "'"; }

const std::string kKeys = "--key " + data("keys/rsa.pub.pem") + " --key " + data("keys/ec.pub.pem");

// The line of reference K of signature SIG, then the verdict (when given).
std::string ref(const std::string& sig, const std::string& uri, const std::string& result,
                const std::string& verdict = "", int k = 1) {
    return "reference " + std::to_string(k) + " of signature " + sig + " (URI \"" + uri +
           "\"): " + result + "\n" +
           (verdict.empty() ? "" : "signature " + sig + ": " + verdict + "\n");
}
std::string valid(const std::string& sig, const std::string& uri) {
    return ref(sig, uri, "OK", "VALID");
}
// A Reference of the test's SignedInfo: URI attribute, transforms and digest method.
std::string reference(const std::string& uri, const std::string& transforms = "",
                      const std::string& digest = "http://www.w3.org/2001/04/xmlenc#sha256") {
    return "<ds:Reference" + uri + "><ds:Transforms>" + transforms +
           "</ds:Transforms><ds:DigestMethod Algorithm='" + digest +
           "'/><ds:DigestValue>AA==</ds:DigestValue></ds:Reference>";
}
const std::string kXPath = "http://www.w3.org/TR/1999/REC-xpath-19991116",
                  kFilter2 = "http://www.w3.org/2002/06/xmldsig-filter2";
// An XPath filter transform, its XPath element carrying `attributes`.
std::string xpath(const std::string& expression, const std::string& attributes = "") {
    return "<ds:Transform Algorithm='" + kXPath + "'><ds:XPath" + attributes + ">" + expression +
           "</ds:XPath></ds:Transform>";
}
// An XPath Filter 2.0 transform of one step.
std::string filter2(const std::string& operation, const std::string& expression) {
    return "<ds:Transform Algorithm='" + kFilter2 + "'><f:XPath xmlns:f='" + kFilter2 +
           "' Filter='" + operation + "'>" + expression + "</f:XPath></ds:Transform>";
}
std::string failed(const std::string& sig, const std::string& uri, const std::string& why) {
    return ref(sig, uri, "FAILED: " + why, "INVALID (reference 1 FAILED: " + why + ")");
}

struct Case {
    std::string args;  // before the file
    std::string file;
    int status;
    std::string out, err = "";
};

class Verify : public ToolTest {
protected:
    void check(const Case& c) {
        SCOPED_TRACE(c.file + " " + c.args);
        Outcome r = run("verify " + c.args + " " + data(c.file));
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.err, r.err);
    }
};

// With --explain: the line of reference K of signature SIG with URI and verdict, and what the
// reference covers.
std::string covers(const std::string& sig, const std::string& uri, const std::string& what,
                   int k = 1, const std::string& verdict = "OK") {
    return "reference " + std::to_string(k) + " of signature " + sig + " (URI \"" + uri +
           "\"): " + verdict + "\n" + (what.empty() ? "" : "  covers " + what + "\n");
}

const std::string kPartly = " (only parts of its content are)\n";

typedef ToolTest Explain;

}  // namespace

TEST_F(Verify, AcceptsWhatThePeerSignedAndRejectsAlteredCopiesAndWrongKeys) {
    const std::string rsa = "--key " + data("keys/rsa.pub.pem"), sha1 = " (warning: SHA-1)";
    const std::string mismatch = "digest mismatch",
                      badValue = "INVALID (signature value does not match the keys)";
    const std::string twice = "Ambrite::XML::Exception 13006: More than one element with ID ";
    // clang-format off
    const Case cases[] = {
        {kKeys, "enveloped-exc.xml", 0, valid("/1/2", "")},
        {kKeys, "enveloped-inc.xml", 0, ref("/1/2", "", "OK" + sha1, "VALID" + sha1)},
        {kKeys + " --id-attr Id", "id-attr.xml", 0, valid("/1/2", "#signed")},
        {kKeys + " --id-attr {}Id", "id-attr.xml", 0, valid("/1/2", "#signed")},
        {kKeys, "id-dtd.xml", 0, valid("/1/3", "#p1")},
        {kKeys, "xpointer-id.xml", 0, valid("/1/2", "#xpointer(id('a'))")},
        {kKeys + " --id-attr id --max-signatures 2", "multi-sig.xml", 0,
            valid("/1/3", "#a") + valid("/1/4", "#b")},
        // P-521: r and s of 66 octets; the key of the wrong curve is tried and passed over.
        {kKeys + " --key " + data("keys/ec521.pub.pem"), "ecdsa-p521.xml", 0, valid("/1/2", "")},
        // The second canonicalization reads the octets of the first.
        {kKeys + " --id-attr id", "c14n-twice.xml", 0, valid("/1/2", "#x")},
        {kKeys, "comment-in-signedinfo.xml", 0, valid("/1/3", "#p1")},
        // XPath filters: enveloped, through here() (the first signature covers the second),
        // and XPath Filter 2.0.
        {kKeys, "xpath-enveloped.xml", 0, valid("/1/3", "")},
        {kKeys + " --id-attr id", "xpath-here.xml", 0, valid("/1/2", "") + valid("/1/3", "#a")},
        {kKeys, "filter2.xml", 0, valid("/1/2/3", "")},
        // On the document parsed from octets: an element left out, its attribute and text kept.
        {kKeys, "xpath-after-c14n.xml", 0, valid("/1/2", "#xpointer(id('a'))")},
        // A certificate holds the key as well as a PEM public key does.
        {"--key " + data("keys/rsa.crt"), "id-dtd.xml", 0, valid("/1/3", "#p1")},
        {"--references-only", "xpointer-root.xml", 0, ref("/1/3", "#xpointer(/)", "OK",
            "VALID (references only, SignatureValue not checked)")},
        // Limits at their edge, and just below what the documents need.
        {"--max-references 4 --max-transforms 1 --id-attr=id " + rsa, "multi-ref.xml", 0,
            ref("/1/4", "#a", "OK" + sha1) + ref("/1/4", "#b", "OK", "", 2) +
            ref("/1/4", "#c", "OK", "", 3) + ref("/1/4", "", "OK", "VALID", 4)},
        {"--max-transforms 2 " + kKeys, "xpointer-root.xml", 0, valid("/1/3", "#xpointer(/)")},
        {"--max-references 3 --id-attr id " + kKeys, "multi-ref.xml", 1,
            "signature /1/4: INVALID (more than 3 references (--max-references))\n"},
        {"--max-transforms 1 " + kKeys, "xpointer-root.xml", 1,
            failed("/1/3", "#xpointer(/)", "more than 1 transforms (--max-transforms)")},
        // Altered copies.
        {kKeys, "bad-text.xml", 1, failed("/1/2", "", mismatch)},
        {kKeys, "bad-attribute.xml", 1, failed("/1/2", "", mismatch)},
        {kKeys, "bad-namespace.xml", 1, failed("/1/2", "", mismatch)},
        {kKeys + " --id-attr Id", "bad-digest.xml", 1, failed("/1/2", "#signed", mismatch)},
        {"--references-only --id-attr id", "bad-second-ref.xml", 1,
            ref("/1/4", "#a", "OK" + sha1) + ref("/1/4", "#b", "FAILED: " + mismatch, "", 2) +
            ref("/1/4", "#c", "OK", "", 3) + ref("/1/4", "", "FAILED: " + mismatch, "", 4) +
            "signature /1/4: INVALID (reference 2 FAILED: digest mismatch; references only)\n"},
        {kKeys, "bad-xpath-moved.xml", 1, failed("/1/2", "", mismatch)},
        {kKeys, "bad-filter2-moved.xml", 1, failed("/1/3/3", "", mismatch)},
        {kKeys, "bad-signature-value.xml", 1, ref("/1/3", "#p1", "OK", badValue)},
        {kKeys, "bad-signedinfo-namespace.xml", 1, ref("/1/3", "#p1", "OK", badValue)},
        // The signature value is what a wrong key, or none of the right type, fails on.
        {"--key " + data("keys/other.pub.pem"), "id-dtd.xml", 1, ref("/1/3", "#p1", "OK", badValue)},
        {"--key " + data("keys/ec.pub.pem"), "id-dtd.xml", 1,
            ref("/1/3", "#p1", "OK", "INVALID (no RSA key)")},
        {rsa + " --id-attr id", "multi-sig.xml", 1,
            valid("/1/3", "#a") + ref("/1/4", "#b", "OK", "INVALID (no EC key)")},
        // Without --id-attr the ID is unknown.
        {kKeys, "id-attr.xml", 1, failed("/1/2", "#signed", "no element with ID 'signed'")},
        // The wrapping attack, the signed element moved into the signature and a forgery in its
        // place, fails the document.
        {kKeys, "bad-duplicate-id.xml", 1, "", twice + "p1\n"},
        {kKeys + " --id-attr Id", "bad-wrapped.xml", 1, "", twice + "signed\n"},
    };
    // clang-format on
    for (const Case& c : cases) check(c);
}

TEST_F(Verify, ChecksOnlySameDocumentReferencesItUnderstands) {
    const std::string head =
        "<d xmlns:ds='http://www.w3.org/2000/09/xmldsig#'><e Id='x'>1</e><ds:Signature>"
        "<ds:SignedInfo><ds:CanonicalizationMethod Algorithm='http://www.w3.org/2001/10/"
        "xml-exc-c14n#'/><ds:SignatureMethod Algorithm='http://www.w3.org/2001/04/"
        "xmldsig-more#rsa-sha256'/>";
    const std::string tail =
        "</ds:SignedInfo><ds:SignatureValue>AA==</ds:SignatureValue>"
        "</ds:Signature></d>";
    // clang-format off
    const std::string xslt = "http://www.w3.org/TR/1999/REC-xslt-19991116", hostile = "//*[//*[//*]]", visits = "'#xpointer(" + hostile + ")'";
    const std::string unsupported = "NOT CHECKED: unsupported transform " + xslt, mismatch = "FAILED: digest mismatch";
    const std::string overFive = "FAILED: Evaluation limit exceeded: more than 5 node visits (--max-visits)";
    const std::string exclusive = "<ds:Transform Algorithm='http://www.w3.org/2001/10/xml-exc-c14n#'/>";
    const std::string enveloped =
        "<ds:Transform Algorithm='http://www.w3.org/2000/09/xmldsig#enveloped-signature'/>";
    const struct { std::string options, reference, line; } cases[] = {
        {"", reference(" URI='file:///etc/passwd'"), "NOT CHECKED: external URI"}, {"", reference(""), "NOT CHECKED: no URI"},
        {"--id-attr Id ", reference(" URI='#x'", "<ds:Transform Algorithm='" + xslt + "'/>"), unsupported},
        {"", reference(" URI=''", "", "http://www.w3.org/2001/04/xmldsig-more#md5"), "FAILED: MD5 refused"},
        {"", reference(" URI=''", "", "urn:unknown"), "NOT CHECKED: unsupported digest method urn:unknown"},
        {"", reference(" URI='#nothing'"), "FAILED: no element with ID 'nothing'"},
        {"", reference(" URI='#xpointer(id(\"nothing\"))'"),
            "FAILED: XPointer evaluated to empty set: Failed to resolve ID `nothing'"},
        {"", reference(" URI='#xpointer(('"), "FAILED: Unexpected token (expecting node test): Null"},
        {"", reference(" URI=" + visits), mismatch},
        {"--max-visits 5 ", reference(" URI=" + visits), overFive},
        // Filters: the prefixes in scope of the XPath element; within the default bound and
        // over a small one; malformed ones.
        {"", reference(" URI=''", xpath("u:x | ds:x", " xmlns:u='urn:u'")), mismatch},
        {"", reference(" URI=''", xpath("u:x")), "FAILED: Unbound namespace prefix: u"},
        {"", reference(" URI=''", xpath(hostile)), mismatch}, {"--max-visits 5 ", reference(" URI=''", xpath(hostile)), overFive},
        {"--max-visits 5 ", reference(" URI=''", filter2("union", hostile)), overFive},
        {"", reference(" URI=''", filter2("intersect", "1")), "FAILED: Number cannot be converted to node set"},
        {"", reference(" URI=''", filter2("merge", "/")),
            "FAILED: invalid XPath Filter 2.0 operation Filter=\"merge\" (intersect, subtract or union)"},
        {"", reference(" URI=''", "<ds:Transform Algorithm='" + kXPath + "'/>"), "FAILED: no XPath element in the XPath filter transform"},
        {"", reference(" URI=''", "<ds:Transform Algorithm='" + kFilter2 + "'/>"),
            "FAILED: no XPath element in the XPath Filter 2.0 transform"},
        {"--max-transforms 2 ", reference(" URI=''", repeat(enveloped, 3)), "FAILED: more than 2 transforms (--max-transforms)"},
        {"", reference(" URI=''", exclusive + enveloped), "NOT CHECKED: enveloped signature transform after a canonicalization"},
        {"", reference(" URI=''", repeat(exclusive, 3)), mismatch},
        // The default limit of transforms, on both sides.
        {"", reference(" URI=''", repeat(enveloped, 5)), mismatch},
        {"", reference(" URI=''", repeat(enveloped, 6)), "FAILED: more than 5 transforms (--max-transforms)"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reference);
        const std::string file = write("in.xml", head + c.reference + tail);
        Outcome r = run("verify --references-only " + c.options + file);
        EXPECT_EQ(1, r.status);
        const std::string first = "reference 1 of signature /1/2 (";
        ASSERT_EQ(0u, r.out.find(first)) << r.out;
        const std::string line = r.out.substr(0, r.out.find('\n'));
        EXPECT_EQ(c.line, line.substr(line.find("): ") + 3));
        EXPECT_NE(std::string::npos, r.out.find("\nsignature /1/2: INVALID (reference 1 "));
    }
}

TEST_F(Verify, BoundsTheReferencesOfASignature) {
    // 30 references are checked by default; 31 or 10,000 are not looked at.
    const std::string reference =
        "<Reference URI=''><DigestMethod Algorithm='http://www.w3.org/2001/04/xmlenc#sha256'/>"
        "<DigestValue>47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=</DigestValue></Reference>";
    for (int count : {30, 31, 10000}) {
        SCOPED_TRACE(count);
        std::string document = "<Signature xmlns='http://www.w3.org/2000/09/xmldsig#'><SignedInfo>";
        for (int k = 0; k < count; ++k) document += reference;
        document += "</SignedInfo></Signature>";
        Outcome r = run("verify --references-only " + write("in.xml", document));
        EXPECT_EQ(1, r.status);
        std::string expected;
        if (count <= 30) {
            for (int k = 1; k <= count; ++k) {
                expected += "reference " + std::to_string(k) +
                            " of signature /1 (URI \"\"): FAILED: digest mismatch\n";
            }
            expected +=
                "signature /1: INVALID (reference 1 FAILED: digest mismatch; references only)\n";
        } else {
            expected = "signature /1: INVALID (more than 30 references (--max-references))\n";
        }
        EXPECT_EQ(expected, r.out);
    }
}

TEST_F(Verify, RefusesKeysAndCommandLines) {
    const std::string doc = data("id-dtd.xml");
    const std::string signature = "<Signature xmlns='http://www.w3.org/2000/09/xmldsig#'/>";
    const Expected cases[] = {
        // Before any signature is checked: one more than the default bound, or than the given.
        {"--references-only " + write("many.xml", "<d>" + repeat(signature, 31) + "</d>"), 1,
         "amxml verify: more than 30 signatures (--max-signatures)\n"},
        {"--max-signatures 1 --references-only --id-attr id " + data("multi-sig.xml"), 1,
         "amxml verify: more than 1 signatures (--max-signatures)\n"},
        {doc, 2, "amxml verify: no key given (--key PEM, or --references-only)\n"},
        {"--key " + data("keys/small.pub.pem") + " " + doc, 1, "bits refused (at least 1024)"},
        {"--key " + doc + " " + doc, 1, "amxml verify: no public key or certificate in "},
        {"--key /nonexistent " + doc, 1, "amxml verify: cannot open /nonexistent: "},
        {"--max-references 0 " + kKeys + " " + doc, 2, "invalid value '0' of --max-references"},
        {"--max-visits x " + kKeys + " " + doc, 2, "invalid value 'x' of --max-visits"},
        {"--id-attr {urn:x " + kKeys + " " + doc, 2, "invalid name '{urn:x'"},
        {"--references-only " + data("keys/rsa.crt"), 1, "Exception 9"},
        {"--references-only --max-depth 1 " + doc, 1,
         "Nesting depth limit exceeded (amxml --max-depth)"},
    };
    for (const Expected& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = run("verify " + c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        EXPECT_EQ("", r.out);
    }
    // Standard input as FILE, and options given as --NAME=VALUE.
    Outcome in = run("verify --key=" + data("keys/rsa.pub.pem") + " -", doc);
    EXPECT_EQ(0, in.status);
    EXPECT_EQ("reference 1 of signature /1/3 (URI \"#p1\"): OK\nsignature /1/3: VALID\n", in.out);
    // A document without signatures is no success.
    Outcome r = run("verify --references-only -", write("plain.xml", "<d/>"));
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("amxml verify: no signature in the document\n", r.err);
}

TEST_F(Verify, AcceptsTheSignedSample) {
    Outcome r = run("verify --key '" + std::string(AMXML_SOURCE_DIR) +
                    "/samples/signed-order.pub.pem' --id-attr Id '" + AMXML_SOURCE_DIR +
                    "/samples/signed-order.xml'");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("reference 1 of signature /1/2/4 (URI \"#signed\"): OK\nsignature /1/2/4: VALID\n",
              r.out);
}

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
        {kKeys + " " + data("enveloped-exc.xml"), 0, covers("/1/2", "", "/1 minus /1/2: 2 elements, 3 attributes, 22 characters") +
            "signature /1/2: VALID\nnot covered: /1/2\n"},
        {kKeys + " " + data("id-dtd.xml"), 0, covers("/1/3", "#p1", "/1/1: 1 element, 2 attributes, 7 characters") +
            "signature /1/3: VALID\nnot covered: /1" + kPartly + "not covered: /1/2\nnot covered: /1/3\n"},
        {kKeys + " --id-attr id " + data("multi-ref.xml"), 0, covers("/1/4", "#a", "/1/1: " + one, 1, "OK (warning: SHA-1)") +
            covers("/1/4", "#b", "/1/2: " + one, 2) + covers("/1/4", "#c", "/1/3: " + one, 3) +
            covers("/1/4", "", "/1 minus /1/4: 4 elements, 3 attributes, 7 characters", 4) + "signature /1/4: VALID\nnot covered: /1/4\n"},
        // The second signature is invalid: what its reference covers does not count.
        {"--key " + data("keys/rsa.pub.pem") + " --id-attr id " + data("multi-sig.xml"), 1, covers("/1/3", "#a", "/1/1: " + one) +
            "signature /1/3: VALID\n" + covers("/1/4", "#b", "/1/2: " + one) + "signature /1/4: INVALID (no EC key)\n"
            "not covered: /1" + kPartly + "not covered: /1/2\nnot covered: /1/3\nnot covered: /1/4\n"},
        // The node set on the signed document before its octets were parsed again.
        {kKeys + " --id-attr id " + data("c14n-twice.xml"), 0, covers("/1/2", "#x", "/1/1: 2 elements, 2 attributes, 0 characters") +
            "signature /1/2: VALID\nnot covered: /1" + kPartly + "not covered: /1/2\n"},
        {kKeys + " " + data("bad-wrapped.xml"), 1, covers("/1/2", "#signed", "", 1, "FAILED: no element with ID 'signed'") +
            "signature /1/2: INVALID (reference 1 FAILED: no element with ID 'signed')\n" + nothing + "not covered: /1\n"},
        {kKeys + " --id-attr Id " + in, 0, covers("/1/2", "#signed", "/1/2/3/1: 2 elements, 2 attributes, 10 characters") +
            "  warning: the reference names a node inside its signature\nsignature /1/2: VALID\n" + nothing +
            "not covered: /1" + kPartly + "not covered: /1/1\nnot covered: /1/2" + kPartly +
            "not covered: /1/2/1\nnot covered: /1/2/2\nnot covered: /1/2/3" + kPartly},
        {"--references-only " + comment, 0, covers("/1", "#xpointer(/comment())", "no element: 0 elements, 0 attributes, 0 characters") +
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
        {dir_ + "/full", covers("/1/3", "#p1", ""),
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
