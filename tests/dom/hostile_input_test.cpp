// What a hostile corpus found in the parser: encodings that hide markup or lose bytes, DTD
// defaults that declare what no document may write, elements and nesting whose cost grew faster
// than their size, and memory without an absolute bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>

#include "dom/internal.h"
#include "streams/stream_doubles.h"

using namespace amxml_test;

namespace {

// What a parse failure says after the location the parser's fatal errors start with; any other
// outcome whole ("no exception" included).
std::string reason(const std::string& xml, const DOMUtil::Limits& limits = DOMUtil::Limits()) {
    const std::string f = thrown([&] { parse(xml, limits); });
    const std::size_t at = f.find(", offset ");
    if (f.rfind("9: Fatal DOM error: Line ", 0) != 0 || at == std::string::npos) return f;
    return f.substr(f.find(": ", at) + 2);
}

// n attributes a0="0" ... in a shuffled order.
std::string attributes(std::size_t n, unsigned seed = 7) {
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    std::string out;
    for (std::size_t i : order) out += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    return out;
}

// n namespace declarations xmlns:pFIRST='urn:FIRST' ...
std::string declarations(std::size_t n, std::size_t first = 0) {
    std::string out;
    for (std::size_t i = first; i < first + n; ++i) {
        out += " xmlns:p" + std::to_string(i) + "='urn:" + std::to_string(i) + "'";
    }
    return out;
}

// Every attribute of every element in document order: name{namespace}local=value, with * for a
// defaulted one and # for an ID.
std::string attributeMaps(DOMDocument* d) {
    std::string out;
    internal::Walker<> walk(d);
    do {
        if (!walk.entering()) continue;
        DOMNode* n = walk.node();
        walk.descend();
        if (n->getNodeType() != DOMNode::ELEMENT_NODE) continue;
        out += "<" + utf8(n->getNodeName());
        // The attributes, then the DTD defaults kept for removed attributes to come back.
        xercesc::DOMNamedNodeMap* maps[] = {
            n->getAttributes(), static_cast<xercesc::DOMElementImpl*>(n)->getDefaultAttributes()};
        for (xercesc::DOMNamedNodeMap* map : maps) {
            for (XMLSize_t i = 0; i < map->getLength(); ++i) {
                const DOMAttr* a = static_cast<const DOMAttr*>(map->item(i));
                out += " " + utf8(a->getName()) + "{" + utf8(a->getNamespaceURI()) + "}" +
                       utf8(a->getLocalName()) + "=" + utf8(a->getValue()) +
                       (a->getSpecified() ? "" : "*") + (a->isId() ? "#" : "");
            }
            out += " |";
        }
        out += ">";
    } while (walk.next());
    return out;
}

// Xerces-C builds the attributes itself when a parser has a filter, as it did for every parse.
class AcceptAll : public xercesc::DOMLSParserFilter {
public:
    FilterAction acceptNode(xercesc::DOMNode*) override { return FILTER_ACCEPT; }
    FilterAction startElement(xercesc::DOMElement*) override { return FILTER_ACCEPT; }
    xercesc::DOMNodeFilter::ShowType getWhatToShow() const override {
        return xercesc::DOMNodeFilter::SHOW_ALL;
    }
};

DocumentPtr parseFiltered(const std::string& xml) {
    StringSource source(xml);
    AcceptAll filter;
    std::unique_ptr<xercesc::DOMLSParser, ParserRelease> parser(DOMUtil::wellFormedParser());
    parser->setFilter(&filter);
    std::unique_ptr<xercesc::DOMLSInput, void (*)(xercesc::DOMLSInput*)> input(
        DOMUtil::inputSourceAdapter(&source, false, nullptr),
        [](xercesc::DOMLSInput* i) { i->release(); });
    return DocumentPtr(parser->parse(input.get()));
}

// Comments without end.
struct EndlessComments : OctetSource {
    unsigned int read(unsigned char* buffer, unsigned int max) override {
        static const char kText[] = "<!---->";
        unsigned int n = 0;
        if (!started && max >= 3) {
            std::memcpy(buffer, "<r>", 3);
            n = 3;
            started = true;
        }
        for (; n < max; ++n, ++position)
            buffer[n] = static_cast<unsigned char>(kText[position % 7]);
        return n;
    }
    void close() override {}
    bool started = false;
    std::size_t position = 0;
};

}  // namespace

// UTF-7 turns plain ASCII such as +ADw- into markup that filters, logs and other parsers read
// as text. It is refused by what it does, whatever name the transcoding service matches it by;
// other encodings read as before.
TEST(HostileInput, RefusesUtf7UnderAnyName) {
    for (const char* name : {"UTF-7", "utf-7", "UTF7", "utf_7", "unicode-1-1-utf-7",
                             "unicode-2-0-utf-7", "windows-65000", "U.T.F.7"}) {
        SCOPED_TRACE(name);
        const std::string xml = std::string("<?xml version='1.0' encoding='") + name +
                                "'?><a>+ADw-b+AD4-x+ADw-/b+AD4-</a>";
        EXPECT_EQ(
            std::string("encoding '") + name + "' refused: plain text in it decodes to markup",
            reason(xml));
    }
    const std::pair<std::string, std::u16string> kReadable[] = {
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a>+ADw-\xE9</a>", u"+ADw-\u00E9"},
        {"<?xml version='1.0' encoding='windows-1252'?><a>\x80</a>", u"\u20AC"},
        {"<?xml version='1.0' encoding='Shift_JIS'?><a>\x93\xFA</a>", u"\u65E5"},
        {"<?xml version='1.0' encoding='IMAP-mailbox-name'?><a>x</a>", u"x"},
        {std::string("\xFF\xFE<\0a\0>\0+\0<\0/\0a\0>\0", 18), u"+"},
    };
    for (const auto& [xml, text] : kReadable) {
        SCOPED_TRACE(xml);
        EXPECT_EQ(text, u16(parse(xml)->getDocumentElement()->getTextContent()));
    }
}

// The transcoders hold back the bytes of an unfinished character until more input comes, and
// drop them at the end of the input. An input must end where a character does.
TEST(HostileInput, InputEndingInsideACharacterFails) {
    std::string ucs4;
    for (char c : std::string("<?xml version='1.0' encoding='UCS-4LE'?><a/>")) {
        ucs4 += std::string(1, c) + std::string(3, '\0');
    }
    const std::pair<std::string, const char*> kCases[] = {
        {"<a>x</a>\xE2\x82", "UTF-8"},
        {"<a>x</a>\n\xC3", "UTF-8"},
        {"<a>x</a>\xF0\x9F\x98", "UTF-8"},
        {"\xEF\xBB\xBF<a/>\xE2", "UTF-8"},
        {"<a>x</a>\xFF", "UTF-8"},
        {std::string("\xFF\xFE<\0a\0/\0>\0\n", 11), "UTF-16 (LE)"},
        {std::string("\xFE\xFF\0<\0a\0/\0>\0", 11), "UTF-16 (BE)"},
        {ucs4 + std::string(2, '\0'), "UCS-4LE"},
        {"<?xml version='1.0' encoding='Shift_JIS'?><a>x</a>\x82", "SHIFT_JIS"},
        {"<?xml version='1.0' encoding='GB18030'?><a/>\x81\x30", "GB18030"},
    };
    for (const auto& [xml, encoding] : kCases) {
        SCOPED_TRACE(xml);
        EXPECT_EQ(std::string("incomplete character at the end of the input (") + encoding + ")",
                  reason(xml));
    }
    // Whole characters at the end, white space of XML 1.1 included.
    for (const std::string& xml :
         {std::string("<a>\xE2\x82\xAC</a>"), std::string("<a/><!--\xF0\x9F\x98\x80-->\n"),
          std::string("<?xml version='1.1'?><a/>\xC2\x85"),
          std::string("<?xml version='1.1'?><a/>\xE2\x80\xA8"),
          std::string("<?xml version='1.1' encoding='ISO-8859-1'?><a/>\x85"),
          std::string("<?xml version='1.0' encoding='Shift_JIS'?><a>\x93\xFA</a>\r\n"),
          std::string("\xFF\xFE<\0a\0/\0>\0", 10), ucs4}) {
        SCOPED_TRACE(xml);
        EXPECT_EQ("no exception", reason(xml));
    }
}

// A DTD default that declares a namespace is refused where the same declaration written in the
// document is, with the same message: the xml prefix is bound to its namespace forever, xmlns
// is never declared, and XML 1.0 undeclares no prefix.
TEST(HostileInput, DefaultedDeclarationsObeyTheRulesOfWrittenOnes) {
    const std::pair<const char*, const char*> kDeclarations[] = {
        {"xmlns:xml", "http://evil.example/ns"},
        {"xmlns:xmlns", "urn:x"},
        {"xmlns:xmlns", "http://www.w3.org/2000/xmlns/"},
        {"xmlns:p", "http://www.w3.org/2000/xmlns/"},
        {"xmlns", "http://www.w3.org/2000/xmlns/"},
        {"xmlns:p", "http://www.w3.org/XML/1998/namespace"},
        {"xmlns", "http://www.w3.org/XML/1998/namespace"},
        {"xmlns:p", ""},
    };
    for (const auto& [name, value] : kDeclarations) {
        SCOPED_TRACE(name + std::string("=") + value);
        const std::string written = reason(std::string("<r ") + name + "='" + value + "'/>");
        ASSERT_NE("no exception", written);
        EXPECT_EQ(written, reason(std::string("<!DOCTYPE r [<!ATTLIST r ") + name + " CDATA '" +
                                  value + "'>]><r/>"));
        EXPECT_EQ(written, reason(std::string("<!DOCTYPE r [<!ATTLIST q ") + name +
                                  " CDATA #FIXED '" + value + "'>]><r><q/></r>"));
    }
    // What a document may write, a default may give.
    DocumentPtr d = parse(
        "<!DOCTYPE r [<!ATTLIST r xmlns:xml CDATA 'http://www.w3.org/XML/1998/namespace'>]><r/>");
    EXPECT_EQ(u"http://www.w3.org/XML/1998/namespace",
              u16(d->getDocumentElement()->getAttribute(u"xmlns:xml")));
    EXPECT_EQ("no exception",
              reason("<?xml version='1.1'?><!DOCTYPE r [<!ATTLIST q xmlns:p CDATA ''>]>"
                     "<r xmlns:p='urn:p'><q/></r>"));
}

// The attributes of an element go into the DOM in linear time, and exactly as Xerces-C puts
// them there itself: written, prefixed, declarations, DTD defaults and IDs.
TEST(HostileInput, AttributesAreBuiltAsXercesBuildsThem) {
    const std::string kDocuments[] = {
        "<!DOCTYPE r [<!ATTLIST e id ID #IMPLIED d CDATA 'dv' z:d CDATA 'zd' xml:lang CDATA 'en'"
        " xmlns:w CDATA 'urn:w'><!ATTLIST e f CDATA #FIXED 'fv' g CDATA #REQUIRED>]>"
        "<r xmlns:z='urn:z' xmlns:y='urn:y'><e id='i1' b='2' a='1' d='given' y:c='3' z:a='4'"
        " xmlns='urn:d' xml:space='preserve' g='1'/><e z:d='x' id='i2'>t</e><e/></r>",
        "<r" + attributes(3000) + declarations(50) + "><c p3:x='1' p1:x='2' p2:x='3'/></r>",
    };
    for (const std::string& xml : kDocuments) {
        SCOPED_TRACE(xml.substr(0, 80));
        DocumentPtr fast = parse(xml), filtered = parseFiltered(xml);
        EXPECT_EQ(attributeMaps(filtered.get()), attributeMaps(fast.get()));
        // A removed attribute with a default comes back with it.
        for (DOMDocument* d : {fast.get(), filtered.get()}) {
            DOMElement* e = static_cast<DOMElement*>(d->getDocumentElement()->getFirstChild());
            e->removeAttribute(u"d");
            e->removeAttributeNS(u"urn:y", u"c");
            if (&xml == &kDocuments[0]) {
                EXPECT_EQ(u"dv", u16(e->getAttribute(u"d")));
            }
        }
        EXPECT_EQ(attributeMaps(filtered.get()), attributeMaps(fast.get()));
    }
    DocumentPtr d = parse(kDocuments[0]);
    ASSERT_NE(nullptr, d->getElementById(u"i2"));
    EXPECT_EQ(u"x", u16(d->getElementById(u"i2")->getAttributeNS(u"urn:z", u"d")));
}

// An element may have 10,000 attributes (DTD defaults and namespace declarations included), and
// 10,000 declarations may be in scope. Xerces-C resolves each prefixed attribute through every
// declaration in scope before the element is reported, so a start tag far over the bound fails
// while it is being scanned, leaving nothing behind.
TEST(HostileInput, AttributesAndDeclarationsAreBounded) {
    const std::size_t limit = internal::kAttributeLimit;
    ASSERT_EQ(limit, internal::kDeclarationLimit);
    DocumentPtr d = parse("<r" + attributes(limit) + "/>");
    const xercesc::DOMNamedNodeMap* map = d->getDocumentElement()->getAttributes();
    ASSERT_EQ(limit, map->getLength());
    EXPECT_EQ(u"a0", u16(map->item(0)->getNodeName()));
    EXPECT_EQ(u"a9999", u16(map->item(limit - 1)->getNodeName()));
    EXPECT_EQ(u"1234", u16(d->getDocumentElement()->getAttribute(u"a1234")));

    const std::string kAttributes = "Attribute limit exceeded";
    const std::string kDeclarations = "Namespace declaration limit exceeded";
    EXPECT_EQ(kAttributes, reason("<r" + attributes(limit + 1) + "/>"));
    EXPECT_EQ(kAttributes,
              reason("<!DOCTYPE r [<!ATTLIST r d CDATA 'v'>]><r" + attributes(limit) + "/>"));
    EXPECT_EQ(kAttributes,
              reason("<r" + declarations(limit / 2) + attributes(limit / 2 + 1) + "/>"));
    EXPECT_EQ("no exception",
              reason("<r" + declarations(6000) + "><c" + declarations(4000, 6000) + "/></r>"));
    EXPECT_EQ(kDeclarations,
              reason("<r" + declarations(6000) + "><c" + declarations(4001, 6000) + "/></r>"));

    // Each of 100,000 prefixed attributes would look through 100,000 declarations.
    std::string uses;
    for (std::size_t i = 0; i < 100000; ++i) uses += " p" + std::to_string(i) + ":a=''";
    const std::string hostile = "<r" + declarations(100000) + uses + "/>";
    const std::size_t before = internal::parseMemoryBlocks();
    const std::string f = thrown([&] { parse(hostile); });
    EXPECT_EQ(before, internal::parseMemoryBlocks());
    EXPECT_TRUE(endsWith(f, ": " + kAttributes)) << f;
    // Found by the 20,000th attribute, in the declarations.
    const std::size_t column = std::stoul(f.substr(f.find("column ") + 7));
    EXPECT_LT(column, declarations(20100).size());
}

// Every element and prefixed attribute costs the scanner a walk through the open elements and
// the declarations in scope; many elements under many declarations exhaust the allowance.
TEST(HostileInput, DeclarationsInScopeCountInTheNestingCost) {
    const std::string root = "<r" + declarations(9000) + ">";
    EXPECT_EQ("no exception", reason(root + repeat("<x/>", 2000) + "</r>"));
    EXPECT_EQ("Nesting cost limit exceeded", reason(root + repeat("<x/>", 40000) + "</r>"));
    // Attributes whose prefixes are declared at the top look through them too.
    EXPECT_EQ("Nesting cost limit exceeded",
              reason(root + repeat("<x p8999:a='' p8998:a=''/>", 14000) + "</r>"));
}

// The depth bound is the caller's: 10,000 by default, lower or higher on request.
TEST(HostileInput, DepthLimitIsSettable) {
    auto nested = [](std::size_t depth) { return repeat("<a>", depth) + repeat("</a>", depth); };
    EXPECT_EQ(10000u, DOMUtil::Limits().maxDepth());
    EXPECT_EQ("no exception", reason(nested(3), depthLimits(3)));
    EXPECT_EQ("Nesting depth limit exceeded", reason(nested(4), depthLimits(3)));
    EXPECT_EQ("no exception", reason(nested(10000)));
    EXPECT_EQ("Nesting depth limit exceeded", reason(nested(10001)));
    EXPECT_EQ("no exception", reason(nested(12000), depthLimits(12000)));
    // Entity references count as levels.
    EXPECT_EQ("Nesting depth limit exceeded",
              reason("<!DOCTYPE a [<!ENTITY e '<b/>'>]><a>&e;</a>", depthLimits(2)));
}

// Parse memory has an absolute bound besides the one relative to the input, which an endless
// input never reaches: 4 GiB by default, settable, named in the message.
TEST(HostileInput, ParseMemoryHasAnAbsoluteBound) {
    EXPECT_EQ(4ull << 30, DOMUtil::Limits().maxMemory());
    DOMUtil::Limits small;
    small.maxMemory(16 << 20);
    const std::string wide = "<r>" + repeat("<c/>", 400000) + "</r>";
    const std::string kOver = "Parse memory limit exceeded: more than 16777216 bytes";
    EXPECT_EQ(kOver, reason(wide, small));
    EXPECT_EQ("no exception", reason(wide));
    EXPECT_EQ("no exception", reason("<r>" + repeat("<c/>", 1000) + "</r>", small));

    EndlessComments endless;
    const std::size_t before = internal::parseMemoryBlocks();
    const std::string f = thrown([&] { DocumentRelease()(DOMUtil::parse(&endless, small)); });
    EXPECT_TRUE(endsWith(f, ": " + kOver)) << f;
    EXPECT_EQ(before, internal::parseMemoryBlocks());
    EXPECT_LT(endless.position, std::size_t(16) << 20);
}

// The DOM pools names in a table that the parser enlarges as a document brings new ones: names
// pooled before an enlargement are the same strings after it.
TEST(HostileInput, ManyDistinctNamesStayPooled) {
    std::string xml = "<r>";
    for (int i = 0; i < 60000; ++i)
        xml += "<n" + std::to_string(i) + " a" + std::to_string(i) + "=''/>";
    xml += "<n17 a17='x'/><n59999/></r>";
    DocumentPtr d = parse(xml);
    const DOMNode* r = d->getDocumentElement();
    const DOMNode* first17 = r->getChildNodes()->item(17);
    const DOMNode* last = r->getLastChild();
    const DOMNode* again17 = last->getPreviousSibling();
    EXPECT_EQ(u"n17", u16(again17->getNodeName()));
    EXPECT_EQ(first17->getNodeName(), again17->getNodeName());
    EXPECT_EQ(first17->getAttributes()->item(0)->getNodeName(),
              again17->getAttributes()->item(0)->getNodeName());
    EXPECT_EQ(r->getChildNodes()->item(59999)->getNodeName(), last->getNodeName());
    EXPECT_EQ(2u, d->getElementsByTagName(u"n17")->getLength());
    EXPECT_EQ(1u, d->getElementsByTagName(u"n30000")->getLength());
}

// The document type keeps entities and notations in tables of fixed size: a document declares at
// most 10,000 of them, parameter entities included.
TEST(HostileInput, EntityDeclarationsAreBounded) {
    auto dtd = [](std::size_t entities, std::size_t parameters, std::size_t notations) {
        std::string out = "<!DOCTYPE r [";
        for (std::size_t i = 0; i < entities; ++i)
            out += "<!ENTITY e" + std::to_string(i) + " 'x'>";
        for (std::size_t i = 0; i < parameters; ++i) {
            out += "<!ENTITY % p" + std::to_string(i) + " 'x'>";
        }
        for (std::size_t i = 0; i < notations; ++i) {
            out += "<!NOTATION n" + std::to_string(i) + " SYSTEM 'x'>";
        }
        return out + "]><r>&e0;</r>";
    };
    const std::size_t limit = internal::kEntityDeclarationLimit;
    EXPECT_EQ("no exception", reason(dtd(limit - 2, 1, 1)));
    EXPECT_EQ("Entity declaration limit exceeded", reason(dtd(limit - 1, 1, 1)));
    EXPECT_EQ("Entity declaration limit exceeded", reason(dtd(limit + 1, 0, 0)));
}

// Every DTD default becomes an attribute of each element of its name and an entry of that
// element's map of defaults: short elements with many defaults would build far more than the
// document holds.
TEST(HostileInput, AttributesFromDefaultsAreBounded) {
    std::string dtd = "<!DOCTYPE r [<!ATTLIST e";
    for (int i = 0; i < 5000; ++i) dtd += " a" + std::to_string(i) + " CDATA 'v'";
    dtd += ">]>";
    EXPECT_EQ("no exception", reason(dtd + "<r>" + repeat("<e/>", 2) + "</r>"));
    EXPECT_EQ("Attribute default limit exceeded",
              reason(dtd + "<r>" + repeat("<e/>", 30) + "</r>"));
    // Defaults in proportion to the document are no amplification.
    EXPECT_EQ("no exception", reason("<!DOCTYPE r [<!ATTLIST e a CDATA 'v'>]><r>" +
                                     repeat("<e>x</e>", 100000) + "</r>"));
}
