#include "dom/dom_internal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/BinInputStream.hpp>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

using namespace amxml_test;

namespace {

struct Failure {
    int id;
    std::string message;
};

template <class F>
Failure failure(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return Failure{e.id(), utf8(e.what().str())};
    }
    ADD_FAILURE() << "no exception";
    return Failure{0, ""};
}

Failure parseFailure(const std::string& xml) {
    return failure([&] { parse(xml); });
}

// Writes a file a document might try to pull in; the caller removes it.
std::string writeFile(const std::string& name, const std::string& content) {
    std::string path = testing::TempDir() + "amxml-parse-" + std::to_string(getpid()) + name;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), out);
    std::fclose(out);
    return path;
}

// Serialized without declaration: what the parser put in the tree.
std::string content(DOMDocument* document) {
    BufferSink sink;
    DOMSerializer::Parameters p(false, nullptr, nullptr, nullptr);
    DOMSerializer::serialize(document->getDocumentElement(), sink, &p);
    return bytes(sink);
}

// A source that tells how much was read and can fail after a given number of bytes.
class CountingSource : public OctetSource {
public:
    CountingSource(std::string data, std::size_t failAfter = std::string::npos,
                   bool* deleted = nullptr)
        : data_(std::move(data)), failAfter_(failAfter), deleted_(deleted) {}
    ~CountingSource() override {
        if (deleted_) *deleted_ = true;
    }
    unsigned int read(unsigned char* buffer, unsigned int max) override {
        if (position_ >= failAfter_) throw Exception(3, "Already closed");
        std::size_t n = std::min<std::size_t>(max, data_.size() - position_);
        std::memcpy(buffer, data_.data() + position_, n);
        position_ += n;
        return static_cast<unsigned int>(n);
    }
    void close() override {}
    std::size_t position() const { return position_; }

private:
    std::string data_;
    std::size_t position_ = 0;
    std::size_t failAfter_;
    bool* deleted_;
};

std::string laughs(int levels, const std::string& use) {
    std::string xml = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= levels; ++i) {
        xml += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) xml += "&l" + std::to_string(i - 1) + ";";
        xml += "\">";
    }
    return xml + "]>" + use;
}

}  // namespace

TEST(DOMUtilParse, KeepsEntityReferencesCDATACommentsAndNamespaceDeclarations) {
    DocumentPtr d = parse(
        "<!DOCTYPE a [<!ENTITY e 'v'>]><a xmlns='u' xmlns:p='w'>&e;<![CDATA[x]]><!--c--></a>");
    DOMElement* a = d->getDocumentElement();
    ASSERT_EQ(3u, a->getChildNodes()->getLength());
    EXPECT_EQ(DOMNode::ENTITY_REFERENCE_NODE, a->getFirstChild()->getNodeType());
    EXPECT_EQ(u"v", u16(a->getFirstChild()->getFirstChild()->getNodeValue()));
    EXPECT_EQ(DOMNode::CDATA_SECTION_NODE, a->getChildNodes()->item(1)->getNodeType());
    EXPECT_EQ(DOMNode::COMMENT_NODE, a->getLastChild()->getNodeType());
    EXPECT_EQ(2u, a->getAttributes()->getLength());
    EXPECT_EQ(u"u", u16(a->getNamespaceURI()));
}

TEST(DOMUtilParse, NeverReadsExternalDtdsOrEntities) {
    // Reading any of these files would define e or fail on their syntax.
    const std::string dtd = writeFile("ext.dtd", "<!ENTITY e 'FROMDTD'> <!ELEMENT");
    const std::string ent = writeFile("ext.ent", "FROMENTITY");
    const std::string pe = writeFile("p.ent", "<!ENTITY e 'FROMPE'>");
    DocumentPtr d = parse("<!DOCTYPE a SYSTEM \"" + dtd + "\"><a>x&e;</a>");
    EXPECT_EQ("<a>x</a>", content(d.get()));
    EXPECT_EQ(widen(dtd), u16(d->getDoctype()->getSystemId()));
    const std::string kRefused[][2] = {
        {"<!ENTITY e SYSTEM \"" + ent + "\">]><a>&e;</a>", ent},
        {"<!ENTITY e PUBLIC \"-//p\" \"" + ent + "\">]><a>&e;</a>", ent},
        {"<!ENTITY % p SYSTEM \"" + pe + "\"> %p;]><a>&e;</a>", pe},
    };
    for (const auto& c : kRefused) {
        SCOPED_TRACE(c[0]);
        Failure f = parseFailure("<!DOCTYPE a [" + c[0]);
        EXPECT_EQ(13050, f.id);
        EXPECT_EQ("Unable to resolve entity: " + c[1], f.message);
    }
    for (const std::string& file : {dtd, ent, pe}) std::remove(file.c_str());
}

TEST(DOMUtilParse, MalformedInputFailsWithItsLocation) {
    struct Case {
        const char* xml;
        const char* prefix;
    };
    const Case kCases[] = {
        {"<a><b></a>", "Fatal DOM error: Line 1, column 9, offset -1: "},
        {"<a>\n\n  <b x='1' x='2'/></a>", "Fatal DOM error: Line 3, column "},
        {"", "Fatal DOM error: Line 1, column 1, offset -1: "},
        {"<a/><b/>", "Fatal DOM error: Line 1, column "},
        {"<a>&undeclared;</a>", "Fatal DOM error: Line 1, column "},
        {"<p:a/>", "Fatal DOM error: Line 1, column "},
        {"<!DOCTYPE a [<!ENTITY e SYSTEM 'x'>]><a b='&e;'/>",
         "Fatal DOM error: Line 1, column 47, offset -1: "},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.xml);
        Failure f = parseFailure(c.xml);
        EXPECT_EQ(9, f.id);
        EXPECT_EQ(0u, f.message.find(c.prefix)) << f.message;
        EXPECT_GT(f.message.size(), std::strlen(c.prefix));
    }
}

TEST(DOMUtilParse, EntityExpansionBombsFailWithAnException) {
    for (const std::string& use : {std::string("<a>&l9;</a>"), std::string("<a b='&l9;'/>")}) {
        SCOPED_TRACE(use);
        Failure f = parseFailure(laughs(9, use));
        EXPECT_EQ(9, f.id);
        EXPECT_NE(std::string::npos, f.message.find("entity expansions")) << f.message;
    }
}

TEST(DOMUtilParse, EntityExpansionLimitIsExact) {
    const unsigned limit = internal::kEntityExpansionLimit;
    std::string refs;
    for (unsigned i = 0; i < limit; ++i) refs += "&e;";
    // Character references and the predefined entities are not counted.
    const std::string head = "<!DOCTYPE a [<!ENTITY e 'x'>]><a>&amp;&#65;&lt;";
    DocumentPtr d = parse(head + refs + "</a>");
    EXPECT_EQ(limit + 1, d->getDocumentElement()->getChildNodes()->getLength());
    EXPECT_EQ(9, parseFailure(head + refs + "&e;</a>").id);
}

TEST(DOMUtilParse, SourceErrorsPassThroughAndNothingLeaks) {
    std::string xml = "<a>" + std::string(200000, 'x') + "</a>";
    CountingSource source(xml, 1000);
    Failure f = failure([&] { DocumentRelease()(DOMUtil::parse(&source)); });
    EXPECT_EQ(3, f.id);
    EXPECT_EQ("Already closed", f.message);
}

TEST(DOMUtilParse, StreamsTheSourceAndStopsAtTheFirstError) {
    // Reading stops near the error; the rest of a large input is never fetched.
    std::string xml = "<a><b></a>" + std::string(4 << 20, ' ');
    CountingSource source(xml);
    EXPECT_EQ(9, failure([&] { DocumentRelease()(DOMUtil::parse(&source)); }).id);
    EXPECT_LT(source.position(), std::size_t(1) << 20);
}

TEST(DOMUtilInputSourceAdapter, SecondStreamIsNullAndAdoptionIsHonoured) {
    bool deleted = false;
    xercesc::DOMLSInput* input = DOMUtil::inputSourceAdapter(
        new CountingSource("<a/>", std::string::npos, &deleted), true, u"urn:x");
    EXPECT_EQ(u"urn:x", u16(input->getSystemId()));
    xercesc::BinInputStream* stream = input->getByteStream()->makeStream();
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ(nullptr, input->getByteStream()->makeStream());
    input->release();
    EXPECT_FALSE(deleted) << "the stream holds the source now";
    XMLByte buffer[8];
    EXPECT_EQ(4u, stream->readBytes(buffer, sizeof buffer));
    EXPECT_EQ(4u, stream->curPos());
    delete stream;
    EXPECT_TRUE(deleted);

    deleted = false;
    DOMUtil::inputSourceAdapter(new CountingSource("", std::string::npos, &deleted), true, nullptr)
        ->release();
    EXPECT_TRUE(deleted) << "an adopted source without a stream goes with the adapter";

    deleted = false;
    CountingSource kept("<a/>", std::string::npos, &deleted);
    input = DOMUtil::inputSourceAdapter(&kept, false, nullptr);
    EXPECT_EQ(nullptr, input->getSystemId());
    delete input->getByteStream()->makeStream();
    input->release();
    EXPECT_FALSE(deleted);
}

TEST(DOMUtilInputSourceAdapter, DrivesACallersParser) {
    std::unique_ptr<xercesc::DOMLSParser, ParserRelease> parser(DOMUtil::wellFormedParser());
    CountingSource source("<a xmlns='u'>t</a>");
    std::unique_ptr<xercesc::DOMLSInput, void (*)(xercesc::DOMLSInput*)> input(
        DOMUtil::inputSourceAdapter(&source, false, nullptr),
        [](xercesc::DOMLSInput* i) { i->release(); });
    DocumentPtr d(parser->parse(input.get()));
    ASSERT_TRUE(d);
    EXPECT_EQ("<a xmlns=\"u\">t</a>", content(d.get()));
}

TEST(DOMUtilException, DOMExceptionBecomesIdThousandPlusCode) {
    DocumentPtr d(DOMUtil::newDocument());
    EXPECT_EQ(nullptr, d->getDocumentElement());
    try {
        d->createElement(u"1bad");
        FAIL() << "no DOMException";
    } catch (const xercesc::DOMException& e) {
        Exception converted = internal::convert(e);
        EXPECT_EQ(1005, converted.id());
        ASSERT_NE(nullptr, e.msg);
        EXPECT_EQ("INVALID_CHARACTER_ERR: " + utf8(e.msg), utf8(converted.what().str()));
    }
}

TEST(DOMUtilException, FormatNamesTheCode) {
    const std::pair<short, const char*> kCases[] = {
        {1, "INDEX_SIZE_ERR: m"}, {8, "NOT_FOUND_ERR: m"}, {16, "VALIDATION_ERR: m"},
        {0, "UNKNOWN: m"},        {17, "UNKNOWN: m"},
    };
    xercesc::DOMException e;
    e.msg = u"m";
    for (const auto& c : kCases) {
        e.code = c.first;
        EXPECT_EQ(c.second, utf8(DOMUtil::format(e).str()));
    }
    e.code = 99;
    e.msg = nullptr;
    EXPECT_EQ("UNKNOWN", utf8(DOMUtil::format(e).str()));
}
