#include <gtest/gtest.h>

#include "binding/vocabulary.h"
#include "support/test_support.h"

using namespace amxml_test;
using namespace vocabulary;

namespace {

const XMLCh P[] = u"urn:p";
const XMLCh* const Any = ElementIterator::Any;
const XMLCh* const Other = ElementIterator::Other;

const std::string kSigned =
    "<Reference xmlns='urn:example:sig' xmlns:e='urn:example:ext' URI='#a'>\n  <Transforms>\n"
    "    <Transform Algorithm='urn:t:a'><e:XPath a='1'>not(<e:y/>@x)<e:z/></e:XPath></Transform>\n"
    "    <!-- a comment --><Transform Algorithm='urn:t:b'>\n"
    "      <Reference URI='#b'><Transforms/><DigestValue>AAEC</DigestValue></Reference>\n"
    "    </Transform>\n  </Transforms>\n  <DigestValue xmlns:a='urn:a'>\n <!--c--> AA<!--c--> "
    "<![CDATA[EC]]></DigestValue>\n</Reference>";

// Prefixes, indentation, Base64 lines, recorded declarations, copied unknown content, and
// digests filled in by the callbacks, the inner reference's first (checked in Python).
const std::string kEncoded =
    "<ds:Reference URI=\"#a\" xmlns=\"urn:example:sig\" xmlns:ds=\"urn:example:sig\" "
    "xmlns:e=\"urn:example:ext\">\n  <ds:Transforms>\n    <ds:Transform Algorithm=\"urn:t:a\">\n"
    "      <e:XPath a=\"1\">not(<e:y />@x)<e:z /></e:XPath>\n    </ds:Transform>\n"
    "    <ds:Transform Algorithm=\"urn:t:b\">\n      <ds:Reference URI=\"#b\">\n"
    "        <ds:Transforms />\n        <ds:DigestValue>\n          4hx0apH0NPg=\n"
    "        </ds:DigestValue>\n      </ds:Reference>\n    </ds:Transform>\n  </ds:Transforms>\n"
    "  <ds:DigestValue xmlns:a=\"urn:a\">\n    /NOyC8geTPQ=\n  </ds:DigestValue>\n</ds:Reference>";

}  // namespace

// Each run also with its 1st, 2nd, ... allocation failing: Exception 18 and no leak, or the
// same bytes. Simple content skips blanks and comments before it and keeps those inside it;
// declarations travel with copies and into other structures.
TEST(WorkedExample, DecodesEagerlyAndLazilyAndEncodesByteForByte) {
    DocumentPtr d = parse(kSigned);
    for (bool lazy : {false, true}) {
        EXPECT_GT(sweep([&] {
                      const Vocabulary v;
                      DecodeContext context;
                      const int before = Value::decodes;
                      std::unique_ptr<Reference> s = v.decode<Reference>(d.get(), context, lazy);
                      EXPECT_EQ(lazy ? before : before + 2, Value::decodes);
                      EXPECT_EQ(&v.provider, s->lookup(0));
                      EXPECT_EQ(u" AA EC", u16(s->digest().rawStringValue()));
                      EXPECT_EQ(kEncoded, encoded(*s));
                      EXPECT_EQ(before + 2, Value::decodes);
                      XStructure* copy = s->clone();
                      context.tbd(copy), copy->xmlns(s->digest().xmlns());
                      EXPECT_EQ(std::string(kEncoded).insert(kEncoded.find(" xmlns:ds"),
                                                             " xmlns:a=\"urn:a\""),
                                encoded(*copy));
                  }),
                  20u);
    }
}

// Documents written by strangers fail with a clear message, eagerly at decoding and lazily at
// first use; content the vocabulary leaves open decodes. Registered structures decode by
// recursion, bounded at 1,000 levels (not 1,000 structures); lazy decoding reads one level per
// call and goes deeper.
TEST(WorkedExample, RefusesWhatTheVocabularyDoesNotAllow) {
    const std::string r = "<Reference xmlns='urn:example:sig' URI='u'>", e = "</Reference>";
    const std::string t = "<Transforms/>", v = "<DigestValue>AA==</DigestValue>";
    const std::string deep = "Nesting depth limit exceeded",
                      n = "<Transform xmlns='urn:example:sig' Algorithm='a'>", m = "</Transform>";
    const std::pair<std::string, std::string> kCases[] = {
        {"<Ref xmlns='urn:example:sig'/>", "Invalid element name: Ref (expecting Reference)"},
        {"<Reference xmlns='x'/>", "Invalid element namespace URI: x (expecting urn:example:sig)"},
        {"<Reference xmlns='urn:example:sig'/>", "No URI attribute in Reference"},
        {r + v + e, "No next Transforms in Reference: DigestValue"},
        {r + t + e, "No next DigestValue in Reference: Null"},
        {r + t + "text" + v + e, "No next DigestValue in Reference: #text"},
        {r + t + v + "<Extra/>" + e, "Trailing Extra in Reference"},
        {r + "<Transforms><Foo/></Transforms>" + v + e, "No next Transform in Transforms: Foo"},
        {r + t + "<DigestValue>AA==<b/></DigestValue>" + e, "Trailing b in DigestValue"},
        {r + "<Transforms><Transform Algorithm='a'>t<?p?><x:y xmlns:x='u'/>" + r + t + v + e +
             "</Transform></Transforms>" + v + e,
         ""},
        {repeat(n, 1000) + repeat(m, 1000), ""},
        {repeat(n, 1001) + repeat(m, 1001), deep},
        {n + repeat("<Transform Algorithm='a'/>", 1000) + m, ""},
    };
    const Vocabulary vocabulary;
    for (const auto& [xml, message] : kCases) {
        DocumentPtr d = parse(xml);
        for (bool lazy : {false, true}) {
            DecodeContext context;
            std::unique_ptr<XStructure> s;
            const std::string expected =
                message.empty() || (lazy && message == deep) ? "no exception" : "13053: " + message;
            EXPECT_EQ(expected,
                      thrown([&] { encoded(*(s = vocabulary.decode(d.get(), context, lazy))); }))
                << xml.substr(0, 200);
            // A structure whose lazy decoding failed fails the same way when read again.
            EXPECT_EQ(expected, s ? thrown([&] { encoded(*s); }) : expected);
        }
    }
}

// Unknown content is one structure, copied without recursion. The chain of 100,000 elements is
// built bottom-up with DOM calls: the parser takes some 25 s over it, as its namespace lookup
// walks every open element.
TEST(WorkedExample, CopiesDeepUnknownContent) {
    DocumentPtr d(DOMUtil::newDocument());
    DOMNode* u = d->createElementNS(nullptr, u"u");
    for (int i = 1; i < 100000; ++i)
        u = d->createElementNS(nullptr, u"u")->appendChild(u)->getParentNode();
    d->appendChild(d->createElementNS(kDs, u"Transform"))->appendChild(u);
    d->getDocumentElement()->setAttribute(u"Algorithm", u"a");
    DecodeContext context;
    EXPECT_TRUE("<ds:Transform Algorithm=\"a\" xmlns:ds=\"urn:example:sig\">\n  " +
                    repeat("<u>", 99999) + "<u />" + repeat("</u>", 99999) + "\n</ds:Transform>" ==
                encoded(*Vocabulary().decode(d.get(), context, false)));
}

// A string value encoded into an attribute node becomes its value; read back lazily, it is
// parsed once, at the first read. Misuse and foreign nodes fail with their messages.
TEST(XStructure, WritesStringsIntoAttributesAndReportsMisuse) {
    DocumentPtr d = parse("<v xmlns='urn:example:sig'>AA==</v>");
    DOMElement* v = d->getDocumentElement();
    EncodeContext encoding;
    for (bool lazy : {false, true}) {
        DecodeContext context;
        context.lazyDecode(lazy);
        Value s(u"v", XStructure::SIMPLE_CONTENT), read(u"v", XStructure::SIMPLE_CONTENT);
        s.bytes_ = "abc";
        s.encode(encoding.createAttribute(v, kDs, u"v"), nullptr, &encoding);
        const int before = Value::decodes;
        read.decode(s.node(), &context);
        EXPECT_EQ(lazy ? before : before + 1, Value::decodes);
        EXPECT_EQ(u"YWJj", u16(read.rawStringValue()));
        EXPECT_EQ(before + 1, Value::decodes);
    }
    DecodeContext context;
    Value s(u"v");
    const std::pair<std::function<void()>, const char*> kCases[] = {
        {[&] { s.rawStringValue(); }, "6: Structure not yet encoded"},
        {[&] { Value(u"v", Value::ELEMENT_ONLY).rawStringValue(); }, "6: Operation not supported"},
        {[&] { Value(nullptr).encode(v, nullptr, &encoding); }, "13052: Operation not supported"},
        {[&] { s.decode(v->getFirstChild(), &context); }, "13053: Not an element node"},
        {[&] { TextStructure(v, &context); }, "13053: Node is not a text node: Type 1"},
        {[&] { s.decode(v, &context), s.xmlns({}); }, "6: Structure already processed"},
    };
    for (const auto& c : kCases) EXPECT_EQ(c.second, thrown(c.first));
    std::ostringstream out;
    out << TextStructure(u"hi") << UnknownStructure(v, true) << s;
    EXPECT_EQ("<text>[hi]<unknown>[v]v[]", out.str());
    // A count shared by copies of an unknown structure goes with the last of them, which the leak
    // check sees.
    RefCount* count = new RefCount;
    std::unique_ptr<XStructure> u(new UnknownStructure(nullptr, count));
    delete u->clone();
    EXPECT_EQ(1u, unsigned(*count));
}

// Children read as text, unclaimed nodes and registered elements; a factory that stands in for
// its parent's name, a circle of parents (A standing in for A), an iterator without a provider,
// and a registry in which equal names replace key and value. Elements matched by name and
// wildcard: <u/> in no namespace, <x:A/> in urn:p.
TEST(ElementIterator, ReadsChildrenByNameWildcardAndProvider) {
    DocumentPtr d = parse(
        "<a xmlns='urn:example:sig'>t<?p?><u xmlns=''/><Transform Algorithm='x'/>"
        "<DigestValue>AA==</DigestValue><x:A xmlns:x='urn:p'/></a>");
    // Namespace, local name, whether they match <x:A/> and <u/>.
    const std::tuple<const XMLCh*, const XMLCh*, bool, bool> kWildcards[] = {
        {Any, Any, 1, 1}, {P, Any, 1, 0},         {nullptr, Any, 0, 1},
        {P, Other, 0, 1}, {nullptr, Other, 1, 0}, {P, u"A", 1, 0},
        {P, u"u", 0, 0},  {nullptr, u"u", 0, 1},  {Any, u"A", 0, 0},
    };
    const QualifiedName base(kDs, u"Base", false), mid(kDs, u"Mid", false), a(P, u"A", false),
        digest(kDs, u"DigestValue", false);
    const Factory<Value> derived(&mid), middle(&base), loop(&a);
    Vocabulary v;
    v.provider.element(&digest, &derived);
    v.provider.element(&mid, &middle);
    v.provider.element(&a, &loop);
    EXPECT_EQ(&digest, v.provider.elementMap().find(&digest)->key);
    DecodeContext context, bare;
    context.install(&v.provider);
    ElementIterator it(d->getDocumentElement(), &context), without(d->getDocumentElement(), &bare);
    EXPECT_FALSE(without.hasNextStructure(nullptr));
    for (int type : {1, 2})
        EXPECT_EQ(type, std::unique_ptr<XStructure>(it.nextStructure(nullptr))->structureType());
    for (const auto& [n, l, onA, onU] : kWildcards) EXPECT_EQ(onU, it.hasNextElement(n, l));
    for (int type : {2, 11})
        EXPECT_EQ(type, std::unique_ptr<XStructure>(it.nextStructure(nullptr))->structureType());
    EXPECT_TRUE(it.hasNextStructure(&base));
    EXPECT_EQ("13053: No next A in a: DigestValue", thrown([&] { it.nextStructure(&a); }));
    it.nextNode();
    EXPECT_FALSE(it.hasNextStructure(&base));
    for (const auto& [n, l, onA, onU] : kWildcards) EXPECT_EQ(onA, it.hasNextElement(n, l));
    it.nextElement(P, u"A");
    EXPECT_EQ("13053: No next node in a", thrown([&] { it.nextNode(); }));
    EXPECT_EQ("13053: No next structure in a: Null", thrown([&] { it.nextStructure(nullptr); }));
    without.nextNode(), without.nextNode(), without.nextNode();
    EXPECT_EQ("13053: Provider not installed", thrown([&] { without.hasNextStructure(nullptr); }));
}
