#include <gtest/gtest.h>

#include <sstream>

#include "binding/vocabulary.h"
#include "support/test_support.h"

using namespace amxml_test;
using namespace vocabulary;

namespace {

// Logs its name when destroyed.
struct Logged : Support, Transient, RefCount {
    Logged(std::string& log, char name) : Support(7), log_(log), name_(name) {}
    ~Logged() override { log_ += name_; }
    std::string& log_;
    char name_;
};

}  // namespace

// A context deletes its transients in order and none of its services; a count shared by copies
// of an unknown structure goes with the last of them.
TEST(Context, DeletesItsTransientsAndNothingElse) {
    std::string log;
    DocumentPtr d = parse("<a/>");
    {
        Logged s(log, 's'), t(log, 't');
        DecodeContext context;
        context.install(&s);
        context.install(&t);
        EXPECT_EQ(&t, context.lookup(7));
        std::unique_ptr<XStructure> u(new UnknownStructure(d.get(), new Logged(log, 'c')));
        context.tbd(u->clone());
        u.reset();
        context.tbd(new Logged(log, 'b'));
        EXPECT_EQ("", log);
    }
    EXPECT_EQ("cbts", log);
}

// A string value encoded into an attribute node becomes its value; read back lazily, it is
// parsed once, at the first read.
TEST(XStructure, WritesAndReadsStringsAsAttributeValues) {
    for (bool lazy : {false, true}) {
        DocumentPtr d = parse("<p/>");
        DOMElement* p = d->getDocumentElement();
        EncodeContext context;
        Value s(u"v", XStructure::SIMPLE_CONTENT), read(u"v", XStructure::SIMPLE_CONTENT);
        s.bytes_ = "abc";
        s.encode(context.createAttribute(p, kDs, u"v"), nullptr, &context);
        EXPECT_EQ("<p x:v=\"YWJj\" xmlns:x=\"urn:example:sig\" />", text(p));
        DecodeContext decoding;
        decoding.lazyDecode(lazy);
        const int before = Value::decodes;
        read.decode(s.node(), &decoding);
        EXPECT_EQ(lazy ? before : before + 1, Value::decodes);
        EXPECT_EQ(u"YWJj", u16(read.rawStringValue()));
        EXPECT_EQ("abc", read.bytes());
        EXPECT_EQ(before + 1, Value::decodes);
    }
}

TEST(XStructure, ReportsMisuseAndForeignNodes) {
    DocumentPtr d = parse("<v xmlns='urn:example:sig'>AA==</v>");
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
        {[&] { TextStructure(v, &context); }, "13053: Node is not a text node: Type 1"},
        {[&] { s.decode(v, &context), s.xmlns(XStructure::NamespaceMap()); },
         "6: Structure already processed"},
    };
    for (const auto& c : kCases) EXPECT_EQ(c.second, thrown(c.first));
    std::ostringstream out;
    out << TextStructure(u"hi") << UnknownStructure(v, true) << s;
    EXPECT_EQ("<text>[hi]<unknown>[v]v[]", out.str());
}

// Moved or copied when encoded.
TEST(UnknownStructure, MovesOrClonesItsNode) {
    for (bool clone : {false, true}) {
        DocumentPtr d = parse("<a><b/><c/></a>");
        DOMNode* b = d->getDocumentElement()->getFirstChild();
        EncodeContext context;
        UnknownStructure(b, clone).encode(b->getNextSibling(), nullptr, &context);
        EXPECT_EQ(clone ? "<a><b /><c><b /></c></a>" : "<a><c><b /></c></a>",
                  text(d->getDocumentElement()));
    }
}

// Simple content skips blanks and comments before it and keeps those inside it; declarations
// recorded lazily travel with a copy into another structure.
TEST(XStructure, SurvivesAllocationFailures) {
    DocumentPtr d = parse(
        "<DigestValue xmlns='urn:example:sig' xmlns:a='urn:a'>\n <!--c--> YW<!--c--> "
        "<![CDATA[Jj]]></DigestValue>");
    EXPECT_GT(sweep([&] {
                  const Vocabulary v;
                  DecodeContext context;
                  context.lazyDecode(true);
                  context.tbd(new TextStructure(u"t"));
                  std::unique_ptr<Value> s = v.decode<Value>(d.get(), context);
                  EXPECT_EQ(u" YW Jj", u16(s->rawStringValue()));
                  Value declaring;
                  declaring.xmlns(std::unique_ptr<XStructure>(s->clone())->xmlns());
                  declaring.bytes_ = s->bytes();
                  EXPECT_EQ(
                      "<ds:DigestValue xmlns=\"urn:example:sig\" xmlns:a=\"urn:a\" "
                      "xmlns:ds=\"urn:example:sig\">YWJj</ds:DigestValue>",
                      encoded(declaring));
              }),
              5u);
}
