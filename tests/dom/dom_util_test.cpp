#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/BinInputStream.hpp>

#include "support/stream_doubles.h"

using namespace amxml_test;

// Comments and namespace declarations stay too, as the serializer tests show.
TEST(DOMUtilParse, KeepsEntityReferencesAndCDATASections) {
    DocumentPtr d = parse("<!DOCTYPE a [<!ENTITY e 'v'>]><a>&e;<![CDATA[x]]></a>");
    DOMNode* reference = d->getDocumentElement()->getFirstChild();
    EXPECT_EQ(DOMNode::ENTITY_REFERENCE_NODE, reference->getNodeType());
    EXPECT_EQ(DOMNode::CDATA_SECTION_NODE, reference->getNextSibling()->getNodeType());
}

TEST(DOMUtilParse, NeverReadsExternalDtdsOrEntities) {
    // Reading any of these files would define e or fail on their syntax.
    const std::string base = testing::TempDir() + "amxml-parse-" + std::to_string(getpid());
    const std::string dtd = base + ".dtd", ent = base + ".ent", pe = base + "-p.ent";
    const std::pair<std::string, const char*> files[] = {
        {dtd, "<!ENTITY e 'FROMDTD'> <!ELEMENT"}, {ent, "FROMENTITY"}, {pe, "<!ENTITY e 'PE'>"}};
    for (const auto& f : files) std::ofstream(f.first) << f.second;
    const std::string doctype = "<!DOCTYPE a SYSTEM \"" + dtd + "\"";
    DocumentPtr d = parse(doctype + " [<!ATTLIST b i ID #IMPLIED>]><a>x&amp;<b i='k'/></a>");
    EXPECT_EQ(widen(dtd), u16(d->getDoctype()->getSystemId()));
    EXPECT_EQ(d->getDocumentElement()->getLastChild(), d->getElementById(u"k"));
    // Entities only the unread subset could declare fail instead of vanishing with their text.
    EXPECT_EQ("entity 'e' not found", parseFailure(doctype + "><a b='x&e;'/>"));
    const std::string kRefused[][2] = {
        {"<!ENTITY e PUBLIC \"-//p\" \"" + ent + "\">]><a>&e;</a>", ent},
        {"<!ENTITY % p SYSTEM \"" + pe + "\"> %p;]><a>&e;</a>", pe},
    };
    for (const auto& c : kRefused) {
        EXPECT_EQ("13050: Unable to resolve entity: " + c[1],
                  thrown([&] { parse("<!DOCTYPE a [" + c[0]); }));
    }
    for (const auto& f : files) std::remove(f.first.c_str());
}

// A UTF-16LE document with a byte order mark.
std::string utf16(const std::u16string& text) {
    std::string bytes("\xFF\xFE", 2);
    for (char16_t c : text)
        bytes += static_cast<char>(c & 0xFF), bytes += static_cast<char>(c >> 8);
    return bytes;
}

// Unpaired surrogates are no XML characters, also where the scanner itself lets one through
// (AllocationFailure.FailingParses pins whole messages of malformed input).
TEST(DOMUtilParse, MalformedInputFailsWithItsLocation) {
    const std::string kCases[][2] = {
        {"<a>\n\n  <b x='1' x='2'/></a>", "3, column "},
        {"", "1, column 1, offset -1: "},
        {"<p:a/>", "1, column "},
        {"<!DOCTYPE a [<!ENTITY e SYSTEM 'x'>]><a b='&e;'/>", "1, column 47, offset -1: "},
        {utf16(u"<a b=\"x\xDC00\"/>"), "1, column "},
        {utf16(u"<!DOCTYPE a [<!ATTLIST a b CDATA \"\xDAE9\">]><a/>"), "1, column "},
        {utf16(u"<a>\xDAE9</a>"), "1, column "},
    };
    for (const auto& c : kCases) {
        const std::string f = thrown([&] { parse(c[0]); });
        const std::string prefix = "9: Fatal DOM error: Line " + c[1];
        EXPECT_TRUE(f.rfind(prefix, 0) == 0 && f.size() > prefix.size()) << c[0] << " gave " << f;
    }
    DocumentPtr pairs = parse(utf16(u"<a b=\"\xD83D\xDE00\"><?p \xD83D\xDE00?></a>"));
    EXPECT_EQ(u"\xD83D\xDE00", u16(pairs->getDocumentElement()->getAttribute(u"b")));
}

// The source is read as the parser goes, not first as a whole: reading stops near the first error
// (a failing source is swept in allocation_failure_test.cpp).
TEST(DOMUtilParse, StreamsTheSource) {
    StringSource large("<a><b></a>" + std::string(4 << 20, ' '));
    EXPECT_EQ(0u, thrown([&] { DocumentRelease()(DOMUtil::parse(&large)); }).rfind("9: ", 0));
    EXPECT_LT(large.position, std::size_t(1) << 20);
}

// The first stream made takes the source, and deletes it when adopted, not before; the parse
// through a caller's parser is swept in allocation_failure_test.cpp.
TEST(DOMUtilInputSourceAdapter, HandsTheSourceToOneStream) {
    int deaths = 0;
    xercesc::DOMLSInput* input =
        DOMUtil::inputSourceAdapter(new StringSource("<a/>", &deaths), true, u"urn:x");
    EXPECT_EQ(u"urn:x", u16(input->getSystemId()));
    std::unique_ptr<xercesc::BinInputStream> stream(input->getByteStream()->makeStream());
    EXPECT_EQ(nullptr, input->getByteStream()->makeStream());
    input->release();
    EXPECT_EQ(0, deaths);
    stream.reset();
    DOMUtil::inputSourceAdapter(new StringSource("", &deaths), true, nullptr)->release();
    StringSource kept("", &deaths);
    input = DOMUtil::inputSourceAdapter(&kept, false, nullptr);
    EXPECT_EQ(nullptr, input->getSystemId());
    input->release();
    EXPECT_EQ(2, deaths);
}

TEST(DOMUtilException, IdIsThousandPlusCodeAndTextNamesTheCode) {
    // clang-format off
    const std::tuple<short, const XMLCh*, const char*> kCases[] = {
        {1, u"m", "INDEX_SIZE_ERR: m"}, {16, u"m", "VALIDATION_ERR: m"}, {0, u"m", "UNKNOWN: m"},
        {17, u"m", "UNKNOWN: m"}, {99, nullptr, "UNKNOWN"}};
    // clang-format on
    xercesc::DOMException e;
    for (const auto& [code, message, text] : kCases) {
        e.code = code;
        e.msg = message;
        EXPECT_EQ(text, utf8(DOMUtil::format(e).str()));
    }
}

TEST(DOMUtilRelations, CompareSiblings) {
    DocumentPtr d = parse("<r x='1' y='2'><a/>t<b><c/></b></r>");
    DOMElement* r = d->getDocumentElement();
    DOMNode *a = r->getFirstChild(), *b = r->getLastChild(), *c = b->getFirstChild();
    DOMAttr *x = r->getAttributeNode(u"x"), *y = r->getAttributeNode(u"y");
    // Attributes have no siblings in the DOM.
    const std::tuple<DOMNode*, DOMNode*, int> kSiblings[] = {
        {a, a, 0}, {a, b, -1}, {b, a, 1}, {b, c, 0}, {a, c, 0}, {r, nullptr, 0}, {x, y, 0}};
    for (const auto& [first, second, order] : kSiblings) {
        EXPECT_EQ(order, DOMUtil::compareSiblings(first, second));
    }
}

// Idempotent; an attribute the element does not have is refused the way the DOM refuses it.
TEST(DOMUtilRelations, SetIdAttributeNode) {
    DocumentPtr d = parse("<r><a Id='s'/><b Ref='t'/></r>");
    DOMElement* a = static_cast<DOMElement*>(d->getDocumentElement()->getFirstChild());
    DOMAttr* ref = static_cast<DOMElement*>(a->getNextSibling())->getAttributeNode(u"Ref");
    EXPECT_EQ(nullptr, d->getElementById(u"s"));
    AMXML_Element_setIdAttributeNode(a, a->getAttributeNode(u"Id"));
    AMXML_Element_setIdAttributeNode(a, a->getAttributeNode(u"Id"));
    EXPECT_EQ(a, d->getElementById(u"s"));
    const std::string refused = thrown([&] { AMXML_Element_setIdAttributeNode(a, ref); });
    EXPECT_EQ(0u, refused.find("1008: NOT_FOUND_ERR: ")) << refused;
}
