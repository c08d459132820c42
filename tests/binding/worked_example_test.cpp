#include <gtest/gtest.h>

#include "binding/vocabulary.h"
#include "support/allocation.h"

using namespace vocabulary;

namespace {

const std::string kSigned =
    "<Reference xmlns='urn:example:sig' xmlns:e='urn:example:ext' URI='#a'>\n"
    "  <Transforms>\n"
    "    <Transform Algorithm='urn:t:a'><e:XPath>not(@x)</e:XPath></Transform>\n"
    "    <!-- a comment --><Transform Algorithm='urn:t:b'>\n"
    "      <Reference URI='#b'><Transforms/><DigestValue>AAEC</DigestValue></Reference>\n"
    "    </Transform>\n"
    "  </Transforms>\n"
    "  <DigestValue>AAEC</DigestValue>\n"
    "</Reference>";

// Prefixes, indentation, Base64 lines, recorded declarations, copied unknown content, and
// digests filled in by the callbacks, the inner reference's first (checked in Python).
const std::string kEncoded =
    "<ds:Reference URI=\"#a\" xmlns=\"urn:example:sig\" xmlns:ds=\"urn:example:sig\" "
    "xmlns:e=\"urn:example:ext\">\n"
    "  <ds:Transforms>\n"
    "    <ds:Transform Algorithm=\"urn:t:a\">\n"
    "      <e:XPath>not(@x)</e:XPath>\n"
    "    </ds:Transform>\n"
    "    <ds:Transform Algorithm=\"urn:t:b\">\n"
    "      <ds:Reference URI=\"#b\">\n"
    "        <ds:Transforms />\n"
    "        <ds:DigestValue>\n          4hx0apH0NPg=\n        </ds:DigestValue>\n"
    "      </ds:Reference>\n"
    "    </ds:Transform>\n"
    "  </ds:Transforms>\n"
    "  <ds:DigestValue>\n    4rOipUEB9dw=\n  </ds:DigestValue>\n"
    "</ds:Reference>";

// A Transform holding a chain of n elements. Built bottom-up with DOM calls: the parser takes
// some 25 s over 100,000 nested elements, as its namespace lookup walks every open element.
DocumentPtr nested(const XMLCh* ns, const XMLCh* local, int n) {
    DocumentPtr d(DOMUtil::newDocument());
    DOMElement* inner = nullptr;
    for (int i = 0; i <= n; ++i) {
        DOMElement* e = d->createElementNS(i == n ? kDs : ns, i == n ? u"Transform" : local);
        if (i == n || ns) e->setAttribute(u"Algorithm", u"a");
        if (inner) e->appendChild(inner);
        inner = e;
    }
    d->appendChild(inner);
    return d;
}

}  // namespace

TEST(WorkedExample, DecodesEagerlyAndLazilyAndEncodesByteForByte) {
    const Vocabulary v;
    DocumentPtr d = parse(kSigned);
    for (bool lazy : {false, true}) {
        DecodeContext context;
        context.lazyDecode(lazy);
        const int before = Value::decodes;
        std::unique_ptr<Reference> s = v.decode(d.get(), context);
        EXPECT_EQ(lazy ? before : before + 2, Value::decodes);
        EXPECT_EQ(kEncoded, encoded(*s));
        EXPECT_EQ(before + 2, Value::decodes);
        EXPECT_EQ(kEncoded, encoded(*std::unique_ptr<XStructure>(s->clone())));
    }
}

// Documents written by strangers fail with a clear message, eagerly at decoding and lazily at
// first use; content the vocabulary leaves open decodes.
TEST(WorkedExample, RefusesWhatTheVocabularyDoesNotAllow) {
    const std::string r = "<Reference xmlns='urn:example:sig' URI='u'>", e = "</Reference>";
    const std::string t = "<Transforms/>", v = "<DigestValue>AA==</DigestValue>";
    const std::pair<std::string, std::string> kCases[] = {
        {"<Ref xmlns='urn:example:sig'/>", "Invalid element name: Ref (expecting Reference)"},
        {"<Reference xmlns='urn:x'/>",
         "Invalid element namespace URI: urn:x (expecting urn:example:sig)"},
        {"<Reference/>", "Invalid element namespace URI: Null (expecting urn:example:sig)"},
        {"<Reference xmlns='urn:example:sig'/>", "No URI attribute in Reference"},
        {r + e, "No next Transforms in Reference: Null"},
        {r + v + e, "No next Transforms in Reference: DigestValue"},
        {r + t + e, "No next DigestValue in Reference: Null"},
        {r + t + "text" + v + e, "No next DigestValue in Reference: #text"},
        {r + t + v + "<Extra/>" + e, "Trailing Extra in Reference"},
        {r + "<Transforms><Foo/></Transforms>" + v + e, "No next Transform in Transforms: Foo"},
        {r + "<Transforms><Transform/></Transforms>" + v + e,
         "No Algorithm attribute in Transform"},
        {r + t + "<DigestValue>AA==<b/></DigestValue>" + e, "Trailing b in DigestValue"},
        {r + "<Transforms><Transform Algorithm='a'>t<?p?><x:y xmlns:x='u'/>" + r + t + v + e +
             "</Transform></Transforms>" + v + e,
         ""},
    };
    const Vocabulary vocabulary;
    for (const auto& c : kCases) {
        DocumentPtr d = parse(c.first);
        for (bool lazy : {false, true}) {
            DecodeContext context;
            context.lazyDecode(lazy);
            EXPECT_EQ(c.second.empty() ? "none" : "Ambrite::XML::Exception 13053: " + c.second,
                      failure([&] { encoded(*vocabulary.decode(d.get(), context)); }))
                << c.first;
        }
    }
}

// Registered structures decode by recursion, bounded at 1,000 levels; lazy decoding reads one
// level per call and goes deeper. Unknown content is one structure, copied without recursion.
TEST(WorkedExample, BoundsNestingAndCopiesDeepUnknownContent) {
    const Vocabulary v;
    for (int n : {998, 999, 1000, 99999}) {
        DocumentPtr d = nested(kDs, u"Transform", n);
        DecodeContext context;
        EXPECT_EQ(n < 1000 ? "none" : "Ambrite::XML::Exception 13053: Nesting depth limit exceeded",
                  failure([&] { v.decode<Transform>(d.get(), context); }));
        context.lazyDecode(true);
        std::unique_ptr<Transform> top = v.decode<Transform>(d.get(), context);
        const Transform* level = top.get();
        for (int i = 0; i < std::min(n, 5000); ++i) {
            level = static_cast<const Transform*>(level->content().at(0).get());
        }
    }
    DocumentPtr d = nested(nullptr, u"u", 100000);
    DecodeContext context;
    std::unique_ptr<Transform> s = v.decode<Transform>(d.get(), context);
    ASSERT_EQ(1u, s->content().size());
    EXPECT_EQ(2, s->content()[0]->structureType());
    std::string open, close;
    for (int i = 1; i < 100000; ++i) open += "<u>", close += "</u>";
    EXPECT_TRUE("<ds:Transform Algorithm=\"a\" xmlns:ds=\"urn:example:sig\">\n  " + open + "<u />" +
                    close + "\n</ds:Transform>" ==
                encoded(*s));
}

TEST(WorkedExample, SurvivesAllocationFailures) {
    const Vocabulary v;
    DocumentPtr d = parse(kSigned);
    for (bool lazy : {false, true}) {
        EXPECT_GT(sweep([&] {
                      DecodeContext context;
                      context.lazyDecode(lazy);
                      EXPECT_EQ(kEncoded, encoded(*v.decode(d.get(), context)));
                  }),
                  20u);
    }
}
