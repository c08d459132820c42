// The bounds and refusals of the parser on the streaming path: every document the DOM path's
// parse refuses is refused with the same Exception, and those within the bounds pass on both.
// The bounds themselves are shared (DOMUtilParseLimits tests them on the DOM path); here each
// callback through which the streaming parser reaches them, and what it does on its own (the
// defaults it makes, its diagnostics, what it holds in memory), has a document. The memory
// bound counts what each path holds, so where it is the one hit, the two fail with the same
// message at places of their own.
#include <gtest/gtest.h>

#include <functional>

#include "dom/internal.h"
#include "support/test_support.h"

using namespace amxml_test;

namespace {

const std::size_t kExpansionText = 10000000;
const std::size_t kDepth = DOMUtil::Limits::kDefaultMaxDepth;

const char kMemory[] = "Parse memory limit exceeded";

// n attributes a0='0' ...
std::string attributes(std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        out += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    return out;
}

// The outcome of one path, canonical and with the caller's limits.
std::string outcome(const std::string& xml, bool dom,
                    const DOMUtil::Limits& limits = DOMUtil::Limits()) {
    return c14nOutcome(xml, dom, 0, nullptr, nullptr, limits);
}

// The limit a failure names, after the location.
std::string limit(const std::string& failure) {
    const std::size_t at = failure.find(", offset -1: ");
    return at == std::string::npos ? failure : failure.substr(at + 13);
}

DOMUtil::Limits memoryLimits(unsigned long long bytes) {
    DOMUtil::Limits l;
    l.maxMemory(bytes);
    return l;
}

}  // namespace

// Each document is made with a count n: at the bound n it passes on both paths, one past it
// both fail alike. One per callback: elements (with the caller's depth, and empty ones that
// close within their start), entity references, attributes, entity and notation declarations.
TEST(StreamParseLimits, EachBoundHoldsExactlyOnBothPaths) {
    const std::string value(10000, 'x'), entity = "<!DOCTYPE a [<!ENTITY e '" + value + "'>]>";
    const std::size_t fits = kExpansionText / value.size();
    auto numbered = [](const std::string& before, const std::string& after, std::size_t n) {
        std::string out;
        for (std::size_t i = 0; i < n; ++i) out += before + std::to_string(i) + after;
        return out;
    };
    auto nested = [](std::size_t n) { return repeat("<a>", n) + repeat("</a>", n); };
    const struct {
        std::function<std::string(std::size_t)> doc;
        std::size_t bound;
        DOMUtil::Limits limits = DOMUtil::Limits();
    } cases[] = {
        {nested, 3, depthLimits(3)},
        {[&](std::size_t n) { return entity + "<a>" + repeat("&e;", n) + "</a>"; }, fits},
        {[&](std::size_t n) { return repeat("<a>", n) + "<b/><b/>" + repeat("</a>", n); },
         kDepth - 1},
        {[&](std::size_t n) { return "<a" + attributes(n) + "/>"; }, 10000},
        {[&](std::size_t n) {
             return "<!DOCTYPE a [" + numbered("<!ENTITY x", " 'x'>", n) + "]><a/>";
         },
         10000},
        {[&](std::size_t n) {
             return "<!DOCTYPE a [" + numbered("<!NOTATION n", " SYSTEM 'x'>", n - 1) +
                    "<!ENTITY % p 'x'>]><a/>";
         },
         10000},
    };
    for (const auto& c : cases) {
        const std::string fitting = c.doc(c.bound), over = c.doc(c.bound + 1);
        SCOPED_TRACE(over.substr(0, 60));
        const std::string dom = outcome(fitting, true, c.limits);
        EXPECT_EQ(std::string::npos, dom.find(" | failure ")) << failureOf(dom);
        EXPECT_TRUE(dom == outcome(fitting, false, c.limits));
        const std::string domOver = failureOf(outcome(over, true, c.limits));
        EXPECT_EQ(0u, domOver.find(" | failure ")) << domOver;
        EXPECT_EQ(domOver, failureOf(outcome(over, false, c.limits)));
    }
}

// What a hostile corpus found: each document fails both paths with the same Exception. Those
// of the corpus that seed the differential fuzz target (fuzz/corpus/stream_c14n_fuzzer) and the
// bounds tested above are not repeated here.
TEST(StreamParseLimits, HostileDocumentsFailAlike) {
    std::string ucs4;
    for (char c : std::string("<?xml version='1.0' encoding='UCS-4LE'?><a/>")) {
        ucs4 += std::string(1, c) + std::string(3, '\0');
    }
    std::string manyDefaults = "<!DOCTYPE r [<!ATTLIST e";
    for (int i = 0; i < 5000; ++i) manyDefaults += " a" + std::to_string(i) + " CDATA 'v'";
    manyDefaults += ">]>";
    const std::string kCases[] = {
        laughs("<!ENTITY e", "&e", "xxxxxxxxxx") + "<!ATTLIST r a CDATA '&e9;'>]><r/>",
        "<!DOCTYPE r [<!ENTITY % p \"<!ENTITY x '" + std::string(20000, 'x') + "'>\">" +
            repeat("%p;", 9000) + "]><r/>",
        // Defaults the streaming path makes on a document of its own.
        manyDefaults + "<r>" + repeat("<e/>", 30) + "</r>",
        // Encodings that hide markup, input that ends inside a character.
        "<?xml version='1.0' encoding='U.T.F.7'?><a/>",
        "<a>x</a>\n\xC3",
        "\xEF\xBB\xBF<a/>\xE2",
        "<a>x</a>\xFF",
        std::string("\xFE\xFF\0<\0a\0/\0>\0", 11),
        ucs4 + std::string(2, '\0'),
        "<?xml version='1.0' encoding='GB18030'?><a/>\x81\x30",
        // DTD defaults that declare what no document may write, or rebind a prefix.
        "<!DOCTYPE r [<!ATTLIST q xmlns:xml CDATA #FIXED 'http://evil.example/ns'>]><r><q/></r>",
        "<!DOCTYPE r [<!ATTLIST r xmlns:xmlns CDATA 'urn:x'>]><r/>",
        "<!DOCTYPE r [<!ATTLIST r xmlns:p CDATA 'http://www.w3.org/2000/xmlns/'>]><r/>",
        "<!DOCTYPE r [<!ATTLIST r xmlns CDATA 'http://www.w3.org/2000/xmlns/'>]><r/>",
        "<!DOCTYPE r [<!ATTLIST r xmlns:p CDATA 'http://www.w3.org/XML/1998/namespace'>]><r/>",
        "<!DOCTYPE r [<!ATTLIST r xmlns CDATA 'http://www.w3.org/XML/1998/namespace'>]><r/>",
        "<!DOCTYPE r [<!ATTLIST q xmlns:p CDATA ''>]><r xmlns:p='urn:p'><q/></r>",
        "<!DOCTYPE a [<!ATTLIST b xmlns CDATA 'urn:other'>]><a xmlns='urn:d'><b/></a>",
        "<!DOCTYPE a [<!ATTLIST b q:c CDATA 'x'>]><a xmlns:p='urn:p' xmlns:q='urn:p'>"
        "<b p:c='y'/></a>",
        "<!DOCTYPE r [<!ATTLIST r z: CDATA 'dv'>]><r/>",
        "<!DOCTYPE r [<!ATTLIST r a:b:c CDATA 'dv'>]><r/>",
        // What the scanner lets through and the bounds refuse.
        "<a b='\xED\xA0\x80'/>",
        "<?p \xED\xA0\x80?><a/>",
        "<!DOCTYPE a SYSTEM 'a.dtd'><a>&undeclared;</a>",
        "<a>\xFF</a>",
    };
    for (const std::string& xml : kCases) {
        SCOPED_TRACE(xml.substr(0, 80));
        const std::string dom = failureOf(outcome(xml, true)),
                          stream = failureOf(outcome(xml, false));
        EXPECT_EQ(0u, dom.find(" | failure ")) << dom;
        if (limit(dom) == kMemory) {
            EXPECT_EQ(kMemory, limit(stream));
        } else {
            EXPECT_EQ(dom, stream);
        }
    }
}

// The memory bound counts what each path holds: a long attribute value is held on both, a DOM of
// many elements (HostileInput.ParseMemoryHasAnAbsoluteBound) only by the DOM path. A DOM that
// entity expansion makes huge fails the DOM path's memory bound, while the streaming path,
// charged only the replacement text of each expansion, meets the expansion bound first.
TEST(StreamParseLimits, MemoryCountsWhatEachPathHolds) {
    const std::string deep = "<!DOCTYPE a [<!ENTITY e '<b/>'>]><a>&e;</a>",
                      small = "<r>" + repeat("<c/>", 1000) + "</r>";
    EXPECT_EQ(failureOf(outcome(deep, true, depthLimits(2))),
              failureOf(outcome(deep, false, depthLimits(2))));
    EXPECT_EQ(outcome(small, true, memoryLimits(16 << 20)),
              outcome(small, false, memoryLimits(16 << 20)));
    const std::string longValue = "<r a='" + std::string(20 << 20, 'x') + "'/>";
    const std::size_t before = internal::parseMemoryBlocks();
    for (bool dom : {true, false}) {
        EXPECT_EQ("Parse memory limit exceeded: more than 16777216 bytes",
                  limit(outcome(longValue, dom, memoryLimits(16 << 20))));
    }
    EXPECT_EQ(before, internal::parseMemoryBlocks());
    const std::string wide = "<r>" + repeat("<c/>", 400000) + "</r>";
    EXPECT_TRUE(canonical(parse(wide).get(), nullptr, 0) ==
                outcome(wide, false, memoryLimits(16 << 20)));
    const std::string xml = "<!DOCTYPE r [<!ENTITY e '" + repeat("<a/>", 5000) + "'>]><r>" +
                            repeat("&e;", 9000) + "</r>";
    EXPECT_EQ(kMemory, limit(outcome(xml, true)));
    EXPECT_EQ("Entity expansion limit exceeded", limit(outcome(xml, false)));
}
