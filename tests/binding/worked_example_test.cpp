#include <gtest/gtest.h>

#include "binding/vocabulary.h"
#include "support/allocation.h"

using namespace vocabulary;
using amxml_test::parse;

namespace {

const std::string kSigned =
    "<Signature xmlns='urn:example:sig' xmlns:e='urn:example:ext'>\n"
    "  <SignedInfo>\n"
    "    <Reference URI='#o1'>\n"
    "      <Transforms>\n"
    "        <Transform Algorithm='urn:t:a'><e:XPath>not(@x)</e:XPath></Transform>\n"
    "        <!-- a comment --><Transform Algorithm='urn:t:b'/>\n"
    "      </Transforms>\n"
    "      <DigestValue>AAEC</DigestValue>\n"
    "    </Reference>\n"
    "  </SignedInfo>\n"
    "  <SignatureValue>\n"
    "    AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1\n"
    "    Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9Q\n"
    "  </SignatureValue>\n"
    "  <Object Id='o1'><Data>payload</Data></Object>\n"
    "</Signature>";

// Prefixes, indentation, Base64 lines, recorded declarations, copied objects, and digests
// filled in by the callbacks, the reference's before the signature's (the digests checked
// with an FNV-1a written in Python).
const std::string kEncoded =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<ds:Signature xmlns=\"urn:example:sig\" xmlns:ds=\"urn:example:sig\" "
    "xmlns:e=\"urn:example:ext\">\n"
    "  <ds:SignedInfo>\n"
    "    <ds:Reference URI=\"#o1\">\n"
    "      <ds:Transforms>\n"
    "        <ds:Transform Algorithm=\"urn:t:a\">\n"
    "          <e:XPath>not(@x)</e:XPath>\n"
    "        </ds:Transform>\n"
    "        <ds:Transform Algorithm=\"urn:t:b\" />\n"
    "      </ds:Transforms>\n"
    "      <ds:DigestValue>FelgAzbtklA=</ds:DigestValue>\n"
    "    </ds:Reference>\n"
    "  </ds:SignedInfo>\n"
    "  <ds:SignatureValue>\n"
    "    /gnx5b1XMlaLyHAK9u0k8Ah825re/CK0Nfm0q/vRziEaakxp7Hm6Yceojs45Ezmi\n"
    "  </ds:SignatureValue>\n"
    "  <Object Id=\"o1\"><Data>payload</Data></Object>\n"
    "</ds:Signature>\n";

}  // namespace

TEST(WorkedExample, DecodesEagerlyAndLazilyAndEncodesByteForByte) {
    const Vocabulary v;
    DocumentPtr d = parse(kSigned);
    for (bool lazy : {false, true}) {
        SCOPED_TRACE(lazy);
        DecodeContext context;
        context.lazyDecode(lazy);
        const int before = Value::decodes;
        std::unique_ptr<Signature> s = v.decode(d.get(), context);
        EXPECT_EQ(lazy ? before : before + 2, Value::decodes);
        EXPECT_EQ(kEncoded, encoded(*s));
        EXPECT_EQ(before + 2, Value::decodes);
        std::unique_ptr<XStructure> copy(s->clone());
        EXPECT_EQ(kEncoded, encoded(*copy));
    }
    // The callbacks wrote the digests of the encoded document, the reference's first.
    DocumentPtr out = parse(kEncoded);
    DecodeContext context;
    auto value = [&](const XMLCh* name) {
        DOMNode* n = out->getElementsByTagNameNS(kDs, name)->item(0);
        return std::unique_ptr<XStructure>(v.factories[3 + (name[0] == u'S')].create(n, &context));
    };
    EXPECT_EQ(digest(out->getElementsByTagNameNS(kDs, u"Object")->item(0), 1),
              static_cast<Value&>(*value(u"DigestValue")).bytes());
    EXPECT_EQ(digest(out->getElementsByTagNameNS(kDs, u"SignedInfo")->item(0), 6),
              static_cast<Value&>(*value(u"SignatureValue")).bytes());
}

// Documents written by strangers fail with a clear message, eagerly at decoding and lazily at
// first use; content the vocabulary leaves open decodes.
TEST(WorkedExample, RefusesWhatTheVocabularyDoesNotAllow) {
    const std::string ns = " xmlns='urn:example:sig'";
    const std::string digest = "<DigestValue>AA==</DigestValue>";
    struct Case {
        std::string xml;
        int factory;
        const char* message;
    } const kCases[] = {
        {"<Sig" + ns + "/>", 0, "Invalid element name: Sig (expecting Signature)"},
        {"<Signature xmlns='urn:x'/>", 0,
         "Invalid element namespace URI: urn:x (expecting urn:example:sig)"},
        {"<Signature/>", 0, "Invalid element namespace URI: Null (expecting urn:example:sig)"},
        {"<Signature" + ns + "/>", 0, "No next SignedInfo in Signature: Null"},
        {"<Signature" + ns + "><SignedInfo><Foo/></SignedInfo></Signature>", 0,
         "No next Reference in SignedInfo: Foo"},
        {"<Reference" + ns + "/>", 1, "No next DigestValue in Reference: Null"},
        {"<Reference" + ns + ">text" + digest + "</Reference>", 1,
         "No next DigestValue in Reference: #text"},
        {"<Reference" + ns + ">" + digest + "<Extra/></Reference>", 1,
         "Trailing Extra in Reference"},
        {"<Reference" + ns + "><Transforms/>" + digest + "</Reference>", 1,
         "No next Transform in Transforms: Null"},
        {"<Reference" + ns + "><Transforms><Transform/></Transforms>" + digest + "</Reference>",
         1, "No Algorithm attribute in Transform"},
        {"<DigestValue" + ns + ">AA==<b/></DigestValue>", 3, "Trailing b in DigestValue"},
        {"<Transform" + ns + " Algorithm='a'>t<?p?><x:y xmlns:x='u'/><Transform Algorithm='b'/>"
                             "</Transform>", 2, nullptr},
    };
    const Vocabulary v;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.xml);
        DocumentPtr d = parse(c.xml);
        for (bool lazy : {false, true}) {
            DecodeContext context;
            context.lazyDecode(lazy);
            try {
                std::unique_ptr<XStructure> s = v.decode<XStructure>(d.get(), context, c.factory);
                encoded(*s);
                EXPECT_EQ(nullptr, c.message);
            } catch (const Exception& e) {
                EXPECT_EQ(std::string("Ambrite::XML::Exception 13053: ") + (c.message ? c.message : ""),
                          amxml_test::printed(e));
            }
        }
    }
}

namespace {
// A Transform holding a chain of n elements. Built bottom-up with DOM calls: the parser takes
// some 25 s over 100,000 nested elements, as its namespace lookup walks every open element.
DocumentPtr nested(const XMLCh* ns, const XMLCh* local, int n) {
    DocumentPtr d(DOMUtil::newDocument());
    DOMElement* inner = nullptr;
    for (int i = 0; i <= n; ++i) {
        DOMElement* e = i == n ? d->createElementNS(kDs, u"Transform") : d->createElementNS(ns, local);
        if (i == n || ns) e->setAttribute(u"Algorithm", u"a");
        if (inner) e->appendChild(inner);
        inner = e;
    }
    d->appendChild(inner);
    return d;
}
}  // namespace

// Registered structures decode by recursion, bounded at 1,000 levels; lazy decoding reads one
// level per call and goes deeper. Unknown content is one structure, copied without recursion.
TEST(WorkedExample, BoundsNestingAndCopiesDeepUnknownContent) {
    const Vocabulary v;
    for (int n : {998, 999, 1000, 99999}) {
        DocumentPtr d = nested(kDs, u"Transform", n);
        DecodeContext context;
        try {
            v.decode<Transform>(d.get(), context, 2);
            EXPECT_LT(n, 1000);
        } catch (const Exception& e) {
            EXPECT_GE(n, 1000);
            EXPECT_EQ("Ambrite::XML::Exception 13053: Nesting depth limit exceeded",
                      amxml_test::printed(e));
        }
        context.lazyDecode(true);
        const Transform* level = v.decode<Transform>(d.get(), context, 2).release();
        std::unique_ptr<const Transform> top(level);
        for (int i = 0; i < std::min(n, 5000); ++i) {
            level = static_cast<const Transform*>(level->content().at(0).get());
        }
    }
    DocumentPtr d = nested(nullptr, u"u", 100000);
    DecodeContext context;
    std::unique_ptr<Transform> s = v.decode<Transform>(d.get(), context, 2);
    ASSERT_EQ(1u, s->content().size());
    EXPECT_EQ(2, s->content()[0]->structureType());
    std::string inner;
    for (int i = 1; i < 100000; ++i) inner += "<u>";
    inner += "<u />";
    for (int i = 1; i < 100000; ++i) inner += "</u>";
    EXPECT_TRUE("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ds:Transform Algorithm=\"a\" "
                "xmlns:ds=\"urn:example:sig\">\n  " + inner +
                    "\n</ds:Transform>\n" == encoded(*s));
}

TEST(WorkedExample, SurvivesAllocationFailures) {
    const Vocabulary v;
    DocumentPtr d = parse(kSigned);
    for (bool lazy : {false, true}) {
        EXPECT_GT(amxml_test::sweep([&] {
            DecodeContext context;
            context.lazyDecode(lazy);
            std::unique_ptr<Signature> s = v.decode(d.get(), context);
            EXPECT_EQ(kEncoded, encoded(*s));
        }), 20u);
    }
}
