#include <gtest/gtest.h>

#include <sstream>

#include "binding/vocabulary.h"
#include "support/allocation.h"

using namespace vocabulary;

namespace {

struct Counted : RefCount {
    explicit Counted(bool& gone) : gone_(gone) {}
    ~Counted() override { gone_ = true; }
    bool& gone_;
};

}  // namespace

TEST(XStructure, EncodesStringsAsElementTextOrAttributeValue) {
    for (bool attribute : {false, true}) {
        DocumentPtr d = parse("<p/>");
        EncodeContext context;
        DOMElement* p = d->getDocumentElement();
        Value s(u"v", XStructure::SIMPLE_CONTENT);
        s.bytes_ = "abc";
        s.encode(attribute ? context.createAttribute(p, kDs, u"v") : static_cast<DOMNode*>(p),
                 nullptr, &context);
        EXPECT_EQ(attribute ? "<p x:v=\"YWJj\" xmlns:x=\"urn:example:sig\" />"
                            : "<p><v xmlns=\"urn:example:sig\">YWJj</v></p>",
                  text(p));
        EXPECT_EQ(u"YWJj", u16(s.rawStringValue()));
    }
}

// Lazily, decodeString waits for the first read and runs once; the element's declarations are
// recorded and written back.
TEST(XStructure, DecodesLazilyOnceAndRecordsDeclarations) {
    DocumentPtr d = parse("<v xmlns='urn:example:sig' xmlns:a='urn:a' a:b='YQ=='>YW<!--c-->Jj</v>");
    DOMElement* v = d->getDocumentElement();
    for (bool lazy : {false, true}) {
        DecodeContext context;
        context.lazyDecode(lazy);
        Value s(u"v", XStructure::SIMPLE_CONTENT), a(u"v", XStructure::SIMPLE_CONTENT);
        const int before = Value::decodes;
        s.decode(v, &context);
        a.decode(v->getAttributeNode(u"a:b"), &context);
        EXPECT_EQ(lazy ? before : before + 2, Value::decodes);
        EXPECT_EQ(u"YWJj", u16(s.rawStringValue()));
        EXPECT_EQ("a", a.bytes());
        s.lazyDecode();
        EXPECT_EQ(before + 2, Value::decodes);
        DocumentPtr out(DOMUtil::newDocument());
        EncodeContext e;
        s.encode(out.get(), nullptr, &e);
        EXPECT_EQ("<v xmlns=\"urn:example:sig\" xmlns:a=\"urn:a\">YWJj</v>",
                  text(out->getDocumentElement()));
    }
}

TEST(XStructure, ReportsMisuseAndForeignNodes) {
    DocumentPtr d = parse("<v xmlns='urn:y'>t</v>");
    DOMElement* v = d->getDocumentElement();
    DecodeContext context;
    EncodeContext encoding;
    Value s(u"v");
    const std::pair<std::function<void()>, const char*> kCases[] = {
        {[&] { s.node(); }, "6: Structure not yet encoded"},
        {[&] { s.rawStringValue(); }, "6: Structure not yet encoded"},
        {[&] { Transform().rawStringValue(); }, "6: Operation not supported"},
        {[&] { Value(nullptr).encode(v, nullptr, &encoding); }, "13052: Operation not supported"},
        {[&] { s.decode(v->getFirstChild(), &context); }, "13053: Not an element node"},
        {[&] { s.decode(v, &context); },
         "13053: Invalid element namespace URI: urn:y (expecting urn:example:sig)"},
        {[&] { s.xmlns(XStructure::NamespaceMap()); }, "6: Structure already processed"},
        {[&] { TextStructure(v, &context); }, "13053: Node is not a text node: Type 1"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(std::string("Ambrite::XML::Exception ") + c.second, failure(c.first));
    }
    std::ostringstream out;
    out << TextStructure(u"hi") << UnknownStructure(v, true) << s;
    EXPECT_EQ("<text>[hi]<unknown>[v]v[]", out.str());
}

// Moved or copied when encoded; a shared count goes with the last structure that holds it.
TEST(UnknownStructure, MovesOrClonesItsNodeAndReleasesItsCount) {
    for (bool clone : {false, true}) {
        DocumentPtr d = parse("<a><b/><c/></a>");
        DOMNode* b = d->getDocumentElement()->getFirstChild();
        EncodeContext context;
        UnknownStructure(b, clone).encode(b->getNextSibling(), nullptr, &context);
        EXPECT_EQ(clone ? "<a><b /><c><b /></c></a>" : "<a><c><b /></c></a>",
                  text(d->getDocumentElement()));
    }
    bool gone = false;
    DocumentPtr d = parse("<a/>");
    std::unique_ptr<XStructure> u(new UnknownStructure(d.get(), new Counted(gone)));
    std::unique_ptr<XStructure> copy(u->clone());
    u.reset();
    EXPECT_FALSE(gone);
    copy.reset();
    EXPECT_TRUE(gone);
    DOMDocument* owned = d.release();
    delete new UnknownStructure(owned, new DocumentRefCount(owned, 0));
}

TEST(XStructure, SurvivesAllocationFailures) {
    DocumentPtr d =
        parse("<DigestValue xmlns='urn:example:sig' xmlns:a='urn:a'>YW<!--c-->Jj</DigestValue>");
    EXPECT_GT(sweep([&] {
                  const Vocabulary v;
                  DecodeContext context;
                  context.lazyDecode(true);
                  context.tbd(new TextStructure(u"t"));
                  std::unique_ptr<XStructure> copy(v.decode<Value>(d.get(), context)->clone());
                  Value declaring;
                  declaring.xmlns(copy->xmlns());
                  declaring.bytes_ = "abc";
                  EXPECT_EQ(
                      "<ds:DigestValue xmlns=\"urn:example:sig\" xmlns:a=\"urn:a\" "
                      "xmlns:ds=\"urn:example:sig\">YWJj</ds:DigestValue>",
                      encoded(declaring));
              }),
              5u);
}
