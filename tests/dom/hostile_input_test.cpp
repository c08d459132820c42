// The bounds of a parse and what a hostile corpus found in the parser: encodings that hide markup
// or lose bytes, DTD defaults that declare what no document may write, elements and nesting whose
// cost grew faster than their size, and memory without an absolute bound. Each failure is
// Exception 9.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>

#include "dom/internal.h"
#include "support/stream_doubles.h"

using namespace amxml_test;

namespace {

// The bounds DOMUtil::parse documents.
const std::size_t kExpansions = 10000, kExpansionText = 10000000, kDepth = 10000;
// The nesting cost a parse may spend: kDepth * (kDepth + 1) + 2^25, plus 128 per byte read.
const unsigned long long kNestingCost = kDepth * (kDepth + 1) + (1ull << 25);
const unsigned long long kNestingCostPerByte = 128;

// The parser's own message for too many entity expansions.
const char* const kTooManyExpansions =
    "parser has encountered more than '10000' entity expansions in the document; this is the "
    "limit imposed by the application";

// n attributes a0="0" ... in a shuffled order.
std::string attributes(std::size_t n, unsigned seed = 7) {
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    std::string out;
    for (std::size_t i : order) out += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    return out;
}

// before + "0" + after + before + "1" + after ... for n numbers.
std::string numbered(const std::string& before, const std::string& after, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += before + std::to_string(i) + after;
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
            parseFailure(xml));
    }
    const std::pair<std::string, std::u16string> kReadable[] = {
        {"<?xml version='1.0' encoding='windows-1252'?><a>\x80</a>", u"\u20AC"},
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
                  parseFailure(xml));
    }
    // Whole characters at the end (UTF-8 and XML 1.1 line ends:
    // StreamCanonicalizer.DocumentsAsTheDomPath; UTF-16: MalformedInputFailsWithItsLocation).
    EXPECT_EQ("no exception", parseFailure(ucs4));
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
        {"xmlns:p", "http://www.w3.org/XML/1998/namespace"},
        {"xmlns:p", ""},
    };
    for (const auto& [name, value] : kDeclarations) {
        SCOPED_TRACE(name + std::string("=") + value);
        const std::string written = parseFailure(std::string("<r ") + name + "='" + value + "'/>");
        ASSERT_NE("no exception", written);
        EXPECT_EQ(written, parseFailure(std::string("<!DOCTYPE r [<!ATTLIST r ") + name +
                                        " CDATA '" + value + "'>]><r/>"));
        EXPECT_EQ(written, parseFailure(std::string("<!DOCTYPE r [<!ATTLIST q ") + name +
                                        " CDATA #FIXED '" + value + "'>]><r><q/></r>"));
    }
    // What a document may write, a default may give (xmlns:xml with its own namespace:
    // StreamCanonicalizer.DocumentsAsTheDomPath).
    EXPECT_EQ("no exception",
              parseFailure("<?xml version='1.1'?><!DOCTYPE r [<!ATTLIST q xmlns:p CDATA ''>]>"
                           "<r xmlns:p='urn:p'><q/></r>"));
}

// A DTD default is added once, in the namespace its prefix has where the element stands; a
// namespace declaration defaulted from the DTD may not change the namespace of a name, nor a
// defaulted attribute take the name another attribute has.
TEST(DOMUtilParse, DefaultedAttributesTakeTheNamespaceInForce) {
    const std::string x = " xml:space{http://www.w3.org/XML/1998/namespace}space=keep*",
                      z = " xmlns:z{http://www.w3.org/2000/xmlns/}z=urn:";
    EXPECT_EQ(
        "<r" + z + "z | |><q" + x + " z:d{urn:z}d=dv* |" + x + " z:d{urn:z}d=dv* |><q" + x +
            " z:d{urn:z}d=x |" + x + " z:d{urn:z}d=dv* |><q" + x + z + "y z:d{urn:y}d=dv* |" + x +
            " z:d{urn:y}d=dv* |>",
        attributeMaps(parse("<!DOCTYPE r [<!ATTLIST q z:d CDATA 'dv' xml:space CDATA 'keep'>]>"
                            "<r xmlns:z='urn:z'><q/><q z:d='x'/><q xmlns:z='urn:y'/></r>")
                          .get()));

    const char* kRebinds =
        "namespace declaration defaulted from the DTD changes the namespace "
        "of a name";
    const char* kSameName = "attribute defaulted from the DTD has the name of another attribute";
    const std::pair<const char*, const char*> kCases[] = {
        // Declarations that leave the namespace in force as it is, or bind what nothing uses.
        {"<!ATTLIST q xmlns CDATA 'urn:x'>]><r xmlns='urn:x'><q><c/></q></r>", nullptr},
        {"<!ATTLIST r xmlns CDATA ''>]><r><q/></r>", nullptr},
        {"<!ATTLIST r xmlns:u CDATA #FIXED 'urn:u'>]><r><q/></r>", nullptr},
        {"<!ATTLIST q xmlns:z CDATA 'urn:z'>]><r xmlns:z='urn:a'><q><c/></q><z:c/></r>", nullptr},
        {"<!ENTITY e '<s><q/></s>'><!ATTLIST q xmlns CDATA 'urn:x'>]><r xmlns='urn:x'>&e;</r>",
         nullptr},
        // A changed namespace on the element itself, a descendant, an attribute, in an entity.
        {"<!ATTLIST r xmlns CDATA #FIXED 'urn:r'>]><r/>", kRebinds},
        {"<!ATTLIST q xmlns:z CDATA 'urn:z'>]><r xmlns:z='urn:a'><q><q><z:c/></q></q></r>",
         kRebinds},
        {"<!ATTLIST q xmlns:z CDATA 'urn:z'>]><r xmlns:z='urn:a'><q><c z:a='1'/></q></r>",
         kRebinds},
        {"<!ATTLIST q xmlns:z CDATA 'urn:z'>]><r xmlns:z='urn:a'><q z:a='1'/></r>", kRebinds},
        {"<!ENTITY e '<q/>'><!ATTLIST q xmlns CDATA 'urn:y'>]><r xmlns='urn:x'>&e;</r>", kRebinds},
        // A default whose prefix names the namespace of a given or another defaulted attribute.
        {"<!ATTLIST r q:x CDATA '2'>]><r xmlns:p='urn:u' xmlns:q='urn:v' p:x='1'/>", nullptr},
        {"<!ATTLIST r q:x CDATA '2'>]><r xmlns:p='urn:u' xmlns:q='urn:u' q:x='1'/>", nullptr},
        {"<!ATTLIST r q:x CDATA '2'>]><r xmlns:p='urn:u' xmlns:q='urn:u' p:x='1'/>", kSameName},
        {"<!ATTLIST r q:x CDATA '2' p:x CDATA '3'>]><r xmlns:p='urn:u' xmlns:q='urn:u'/>",
         kSameName},
    };
    for (const auto& [tail, refusal] : kCases) {
        SCOPED_TRACE(tail);
        EXPECT_EQ(refusal ? refusal : "no exception",
                  parseFailure(std::string("<!DOCTYPE r [") + tail));
    }
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
}

// An element may have 10,000 attributes (DTD defaults and namespace declarations included), and
// 10,000 declarations may be in scope. Xerces-C resolves each prefixed attribute through every
// declaration in scope before the element is reported, so a start tag far over the bound fails
// while it is being scanned, leaving nothing behind.
TEST(HostileInput, AttributesAndDeclarationsAreBounded) {
    // (10,000 attributes and one more: StreamParseLimits.EachBoundHoldsExactlyOnBothPaths; their
    // order and values as Xerces-C gives them: AttributesAreBuiltAsXercesBuildsThem.)
    // Each of 100,000 prefixed attributes would look through 100,000 declarations.
    std::string uses;
    for (std::size_t i = 0; i < 100000; ++i) uses += " p" + std::to_string(i) + ":a=''";
    const std::string hostile = "<r" + declarations(100000) + uses + "/>";
    const std::size_t before = internal::parseMemoryBlocks();
    const std::string f = thrown([&] { parse(hostile); });
    EXPECT_EQ(before, internal::parseMemoryBlocks());
    EXPECT_TRUE(endsWith(f, ": Attribute limit exceeded")) << f;
    // Found by the 20,000th attribute, in the declarations.
    const std::size_t column = std::stoul(f.substr(f.find("column ") + 7));
    EXPECT_LT(column, declarations(20100).size());
}

// Parse memory has an absolute bound besides the one relative to the input, which an endless
// input never reaches: 4 GiB by default, settable, named in the message.
TEST(HostileInput, ParseMemoryHasAnAbsoluteBound) {
    EXPECT_EQ(4ull << 30, DOMUtil::Limits().maxMemory());
    DOMUtil::Limits small;
    small.maxMemory(16 << 20);
    const std::string wide = "<r>" + repeat("<c/>", 400000) + "</r>";
    const std::string kOver = "Parse memory limit exceeded: more than 16777216 bytes";
    EXPECT_EQ(kOver, parseFailure(wide, small));  // and within it: MemoryCountsWhatEachPathHolds

    // Comments that go on beyond where the bound is met (an endless input).
    StringSource endless("<r>" + repeat("<!---->", 3 << 20));
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
    EXPECT_EQ(1u, d->getElementsByTagName(u"n30000")->getLength());
}

// Each document is head + n units + tail + n closing units: at the bound n it parses, one past
// it fails.
TEST(DOMUtilParseLimits, EachBoundHoldsExactly) {
    const std::string value(10000, 'x'), entity = "<!DOCTYPE a [<!ENTITY e '" + value + "'>]>";
    const std::size_t fits = kExpansionText / value.size();
    const std::string text = "Entity expansion limit exceeded",
                      depth = "Nesting depth limit exceeded";
    const struct {
        std::string head, unit, tail, closing;
        std::size_t bound;
        std::string message;
        DOMUtil::Limits limits = {};
    } cases[] = {
        {"<!DOCTYPE a [<!ATTLIST b d CDATA '" + value + "'>]><a>", "<b/>", "</a>", "", fits, text},
        // As many units as the input has bytes (some 13,000 here) could be written out, so they
        // are not charged: one reference more than the budget still passes.
        {entity + "<a v='", "&e;", "'/>", "", fits + 1, text},
        // Character references and the predefined entities are not counted.
        {"<!DOCTYPE a [<!ENTITY e 'x'>]><a>&amp;&#65;&lt;", "&e;", "</a>", "", kExpansions,
         kTooManyExpansions},
        // The depth bound is the caller's, also higher than the default.
        {"", "<a>", "", "</a>", 12000, depth, depthLimits(12000)},
        // Entity references count as levels.
        {"<!DOCTYPE a [<!ENTITY e '<b/>'>]>", "<a>", "&e;", "</a>", 1, depth, depthLimits(3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head.substr(0, 40) + c.unit);
        auto doc = [&](std::size_t n) {
            return c.head + repeat(c.unit, n) + c.tail + repeat(c.closing, n);
        };
        EXPECT_EQ("no exception", parseFailure(doc(c.bound), c.limits));
        EXPECT_EQ(c.message, parseFailure(doc(c.bound + 1), c.limits));
    }
}

// Documents within the counted limits that would still take gigabytes or minutes, and the bounds
// on attributes, declarations and defaults, on both sides.
TEST(DOMUtilParseLimits, HostileDocumentsFailFast) {
    const std::size_t depth = kDepth - 1, limit = internal::kAttributeLimit;
    ASSERT_EQ(limit, internal::kDeclarationLimit);
    // Each element below costs the scanner a walk through every open element; the elements
    // bring 4 bytes of allowance each and the chain 7 per level.
    const std::size_t extra =
        (kNestingCost + 7 * depth * kNestingCostPerByte) / (depth + 1 - 4 * kNestingCostPerByte) +
        1024;
    // Entities and notations go into tables of fixed size: at most 10,000 declarations in all.
    auto dtd = [](std::size_t entities, std::size_t parameters, std::size_t notations) {
        return "<!DOCTYPE r [" + numbered("<!ENTITY e", " 'x'>", entities) +
               numbered("<!ENTITY % p", " 'x'>", parameters) +
               numbered("<!NOTATION n", " SYSTEM 'x'>", notations) + "]><r>&e0;</r>";
    };
    // Every DTD default becomes an attribute of each element of its name.
    const std::string defaults =
        "<!DOCTYPE r [<!ATTLIST e" + numbered(" a", " CDATA 'v'", 5000) + ">]>";
    // Every element and prefixed attribute costs the scanner a walk through the declarations in
    // scope too.
    const std::string scope = "<r" + declarations(9000) + ">";
    const std::string memory = "Parse memory limit exceeded", none = "no exception";
    const std::string kAttributes = "Attribute limit exceeded",
                      kCost = "Nesting cost limit exceeded";
    const std::pair<std::string, std::string> kCases[] = {
        {laughs("<!ENTITY l", "&l", "lol") + "]><r>&l9;</r>", kTooManyExpansions},
        {laughs("<!ENTITY l", "&l", "lol") + "]><r a='&l9;'/>", kTooManyExpansions},
        // Nothing grows, but each of the 10^9 expansions takes a reader: in an attribute
        // default, and through parameter entities spelled with character references.
        {laughs("<!ENTITY e", "&e", "") + "<!ATTLIST r a CDATA '&e9;'>]><r/>", memory},
        {laughs("<!ENTITY % p", "&#37;p", "") + "%p9;]><r/>", memory},
        {repeat("<a>", depth) + repeat("<b/>", extra) + repeat("</a>", depth), kCost},
        {scope + repeat("<x/>", 2000) + "</r>", none},
        {scope + repeat("<x/>", 40000) + "</r>", kCost},
        {scope + repeat("<x p8999:a='' p8998:a=''/>", 14000) + "</r>", kCost},
        // 10,000 attributes, DTD defaults and declarations included; 10,000 declarations in scope.
        {"<!DOCTYPE r [<!ATTLIST r d CDATA 'v'>]><r" + attributes(limit) + "/>", kAttributes},
        {"<r" + declarations(limit / 2) + attributes(limit / 2 + 1) + "/>", kAttributes},
        {"<r" + declarations(6000) + "><c" + declarations(4000, 6000) + "/></r>", none},
        {"<r" + declarations(6000) + "><c" + declarations(4001, 6000) + "/></r>",
         "Namespace declaration limit exceeded"},
        {dtd(internal::kEntityDeclarationLimit - 1, 1, 1), "Entity declaration limit exceeded"},
        // Short elements with many defaults would build far more than the document holds;
        // defaults in proportion to the document are no amplification.
        {defaults + "<r>" + repeat("<e/>", 2) + "</r>", none},
        {defaults + "<r>" + repeat("<e/>", 30) + "</r>", "Attribute default limit exceeded"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.first.substr(0, 60));
        EXPECT_EQ(c.second, parseFailure(c.first));
    }
}

// A parse over the memory limit fails where no Xerces-C object is half built: a reader's
// constructor copies the entity's name, and names of 27 and 31 units take blocks the size of an
// input stream. Nothing the parse allocated may be left behind.
TEST(DOMUtilParseLimits, MemoryLimitLeavesNothingBehind) {
    for (std::size_t length : {27, 31}) {
        const std::string name(length - 1, 'n');
        const std::string doc = laughs("<!ENTITY " + name, "&" + name, "") +
                                "<!ATTLIST r a CDATA '&" + name + "9;'>]><r/>";
        const std::size_t before = internal::parseMemoryBlocks();
        EXPECT_EQ("Parse memory limit exceeded", parseFailure(doc)) << length;
        EXPECT_EQ(before, internal::parseMemoryBlocks()) << length;
    }
}
