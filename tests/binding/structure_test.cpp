#include <gtest/gtest.h>

#include <sstream>

#include "binding/vocabulary.h"

using namespace vocabulary;

namespace {

const XMLCh kX[] = u"urn:x";

// A string in {urn:x}v (or with no name), as an element's text or an attribute's value.
class Simple : public Bound {
public:
    explicit Simple(const XMLCh* value, bool hasName = true)
        : Bound(SIMPLE_CONTENT, 20, hasName ? named(QualifiedName(kX, u"v", false)) : nullptr),
          value_(value) {}
    XStructure* clone() const override { return new Simple(*this); }
    int decodes = 0;

protected:
    XMLCh* encodeString(DOMNode*, EncodeContext*) override { return StringUtil::dup(value_); }
    void decodeString(const XMLCh*, DOMNode*, DecodeContext*) override { ++decodes; }

private:
    const XMLCh* value_;
};

std::string failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return printed(e);
    }
    return "none";
}

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
        Simple s(u"1");
        s.encode(attribute ? context.createAttribute(p, kX, u"v") : static_cast<DOMNode*>(p),
                 nullptr, &context);
        EXPECT_EQ(
            attribute ? "<p x:v=\"1\" xmlns:x=\"urn:x\" />" : "<p><v xmlns=\"urn:x\">1</v></p>",
            text(p));
        EXPECT_EQ(u"1", u16(s.rawStringValue()));
    }
}

// Lazily, decodeString waits for the first read and runs once; the element's declarations are
// recorded and written back.
TEST(XStructure, DecodesLazilyOnceAndRecordsDeclarations) {
    DocumentPtr d = parse("<v xmlns='urn:x' xmlns:a='urn:a' a:b='2'>1<!--c-->2</v>");
    DOMElement* v = d->getDocumentElement();
    for (bool lazy : {false, true}) {
        DecodeContext context;
        context.lazyDecode(lazy);
        Simple s(u"1"), a(u"2");
        s.decode(v, &context);
        a.decode(v->getAttributeNode(u"a:b"), &context);
        EXPECT_EQ(lazy ? 0 : 2, s.decodes + a.decodes);
        EXPECT_EQ(u"12", u16(s.rawStringValue()));
        EXPECT_EQ(u"2", u16(a.rawStringValue()));
        s.lazyDecode();
        EXPECT_EQ(2, s.decodes + a.decodes);
        DocumentPtr out(DOMUtil::newDocument());
        EncodeContext e;
        s.encode(out.get(), nullptr, &e);
        EXPECT_EQ("<v xmlns=\"urn:x\" xmlns:a=\"urn:a\">1</v>", text(out->getDocumentElement()));
    }
}

TEST(XStructure, ReportsMisuseAndForeignNodes) {
    DocumentPtr d = parse("<v xmlns='urn:y'>t</v>");
    DOMElement* v = d->getDocumentElement();
    DecodeContext context;
    EncodeContext encoding;
    Simple s(u"1"), unnamed(u"1", false);
    const std::pair<std::function<void()>, const char*> kCases[] = {
        {[&] { s.node(); }, "6: Structure not yet encoded"},
        {[&] { s.rawStringValue(); }, "6: Structure not yet encoded"},
        {[&] { Transform().rawStringValue(); }, "6: Operation not supported"},
        {[&] { unnamed.encode(v, nullptr, &encoding); }, "13052: Operation not supported"},
        {[&] { s.decode(v->getFirstChild(), &context); }, "13053: Not an element node"},
        {[&] { s.decode(v, &context); },
         "13053: Invalid element namespace URI: urn:y (expecting urn:x)"},
        {[&] { s.xmlns(XStructure::NamespaceMap()); }, "6: Structure already processed"},
        {[&] { TextStructure(v, &context); }, "13053: Node is not a text node: Type 1"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(std::string("Ambrite::XML::Exception ") + c.second, failure(c.first));
    }
    std::ostringstream out;
    out << TextStructure(u"hi") << UnknownStructure(v, true) << s << unnamed;
    EXPECT_EQ("<text>[hi]<unknown>[v]v[][]", out.str());
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
