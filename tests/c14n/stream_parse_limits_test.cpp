// The bounds and refusals of the parser on the streaming path: every document the DOM path's
// parse refuses is refused with the same Exception, and those within the bounds pass on both.
// The memory bound counts what each path holds, so where it is the one hit, the two fail with
// the same message at places of their own.
#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

// The bounds DOMUtil::parse documents.
const std::size_t kExpansions = 10000, kExpansionText = 10000000, kDepth = 120000;
const unsigned long long kNestingCost = 1ull << 33;

const char kMemory[] = "Parse memory limit exceeded";

// A DOCTYPE (left open) declaring entities 0 to 9, 0 as `text` and each other one as ten
// references to the one below.
std::string laughs(const std::string& declare, const std::string& ref, const std::string& text) {
    std::string dtd = "<!DOCTYPE r [" + declare + "0 '" + text + "'>";
    for (int i = 1; i <= 9; ++i) {
        dtd += declare + std::to_string(i) + " '" + repeat(ref + std::to_string(i - 1) + ";", 10);
        dtd += "'>";
    }
    return dtd;
}

std::string domFailure(const std::string& xml) {
    return thrown([&] { parse(xml); });
}

std::string streamFailure(const std::string& xml) {
    return thrown([&] {
        BlockSource source(
            new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
        BufferSink sink;
        C14n::StreamCanonicalizer::canonicalize(&source, &sink, C14n::DOMCanonicalizer::CANONICAL,
                                                nullptr, nullptr);
    });
}

// The limit a failure names, after the location.
std::string limit(const std::string& failure) {
    const std::size_t at = failure.find(", offset -1: ");
    return at == std::string::npos ? failure : failure.substr(at + 13);
}

}  // namespace

// Each document is head + n units + tail + n closing units: at the bound n it passes on both
// paths, one past it both fail alike.
TEST(StreamParseLimits, EachBoundHoldsExactlyOnBothPaths) {
    const std::string value(10000, 'x'), entity = "<!DOCTYPE a [<!ENTITY e '" + value + "'>]>";
    const std::size_t fits = kExpansionText / value.size();
    const struct {
        std::string head, unit, tail, closing;
        std::size_t bound;
    } cases[] = {
        {entity + "<a>", "&e;", "</a>", "", fits},
        {"<!DOCTYPE a [<!ATTLIST b d CDATA '" + value + "'>]><a>", "<b/>", "</a>", "", fits},
        {entity + "<a v='", "&e;", "'/>", "", fits + 1},
        {"<!DOCTYPE a [<!ENTITY e 'x'>]><a>&amp;&#65;&lt;", "&e;", "</a>", "", kExpansions},
        {"", "<a>", "<b/><b/>", "</a>", kDepth - 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head.substr(0, 40) + c.unit);
        auto doc = [&](std::size_t n) {
            return c.head + repeat(c.unit, n) + c.tail + repeat(c.closing, n);
        };
        EXPECT_EQ("no exception", streamFailure(doc(c.bound)));
        const std::string dom = domFailure(doc(c.bound + 1));
        EXPECT_NE("no exception", dom);
        EXPECT_EQ(dom, streamFailure(doc(c.bound + 1)));
    }
}

TEST(StreamParseLimits, HostileDocumentsFailAlike) {
    const std::size_t depth = kDepth - 1;
    const std::size_t extra = (kNestingCost - depth * (depth + 1) / 2) / depth + 4 * 1024;
    const std::string kCases[] = {
        laughs("<!ENTITY l", "&l", "lol") + "]><r>&l9;</r>",
        laughs("<!ENTITY l", "&l", "lol") + "]><r a='&l9;'/>",
        laughs("<!ENTITY e", "&e", "xxxxxxxxxx") + "<!ATTLIST r a CDATA '&e9;'>]><r/>",
        laughs("<!ENTITY e", "&e", "") + "<!ATTLIST r a CDATA '&e9;'>]><r/>",
        laughs("<!ENTITY % p", "&#37;p", "") + "%p9;]><r/>",
        "<!DOCTYPE r [<!ENTITY % p \"<!ENTITY x '" + std::string(20000, 'x') + "'>\">" +
            repeat("%p;", 9000) + "]><r/>",
        repeat("<a>", depth) + repeat("<b/>", extra) + repeat("</a>", depth),
        // What the scanner lets through and the bounds refuse.
        "<a b='\xED\xA0\x80'/>",
        "<!DOCTYPE a [<!ENTITY e '&#xD800;'>]><a b='&e;'/>",
        "<?p \xED\xA0\x80?><a/>",
        "<!DOCTYPE a [<!ATTLIST b xmlns:p CDATA 'urn:other'>]><a xmlns:p='urn:p'><b p:c='1'/></a>",
        "<!DOCTYPE a [<!ATTLIST b xmlns CDATA 'urn:other'>]><a xmlns='urn:d'><b/></a>",
        "<!DOCTYPE a [<!ATTLIST b q:c CDATA 'x'>]><a xmlns:p='urn:p' xmlns:q='urn:p'>"
        "<b p:c='y'/></a>",
        "<!DOCTYPE a SYSTEM 'a.dtd'><a>&undeclared;</a>",
        "<!DOCTYPE a [<!ENTITY e SYSTEM 'e.xml'>]><a>&e;</a>",
        "<a><b></a>",
        "<a>\xFF</a>",
    };
    for (const std::string& xml : kCases) {
        SCOPED_TRACE(xml.substr(0, 80));
        const std::string dom = domFailure(xml), stream = streamFailure(xml);
        EXPECT_NE("no exception", dom);
        if (limit(dom) == kMemory) {
            EXPECT_EQ(kMemory, limit(stream));
        } else {
            EXPECT_EQ(dom, stream);
        }
    }
}

// A DOM takes memory for every node; one that entity expansion makes huge fails the DOM path's
// memory bound, while the streaming path, charged only the replacement text of each expansion,
// meets the expansion bound first.
TEST(StreamParseLimits, ExpandedElementsFailTheExpansionBoundWhenStreamed) {
    const std::string xml = "<!DOCTYPE r [<!ENTITY e '" + repeat("<a/>", 5000) + "'>]><r>" +
                            repeat("&e;", 9000) + "</r>";
    EXPECT_EQ(kMemory, limit(domFailure(xml)));
    EXPECT_EQ("Entity expansion limit exceeded", limit(streamFailure(xml)));
}
