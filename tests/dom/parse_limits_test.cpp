// The bounds of a parse: entity expansions and their text, DTD defaults, attribute values beyond
// the input, nesting depth and cost, and parse memory. Each failure is Exception 9.
#include <gtest/gtest.h>

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

}  // namespace

// Each document is head + n units + tail + n closing units: at the bound n it parses, one past
// it fails.
TEST(DOMUtilParseLimits, EachBoundHoldsExactly) {
    const std::string value(10000, 'x'), entity = "<!DOCTYPE a [<!ENTITY e '" + value + "'>]>";
    const std::size_t fits = kExpansionText / value.size();
    const std::string text = "Entity expansion limit exceeded";
    const struct {
        std::string head, unit, tail, closing;
        std::size_t bound;
        std::string message;
    } cases[] = {
        {entity + "<a>", "&e;", "</a>", "", fits, text},
        {"<!DOCTYPE a [<!ATTLIST b d CDATA '" + value + "'>]><a>", "<b/>", "</a>", "", fits, text},
        // As many units as the input has bytes (some 13,000 here) could be written out, so they
        // are not charged: one reference more than the budget still passes.
        {entity + "<a v='", "&e;", "'/>", "", fits + 1, text},
        // Character references and the predefined entities are not counted.
        {"<!DOCTYPE a [<!ENTITY e 'x'>]><a>&amp;&#65;&lt;", "&e;", "</a>", "", kExpansions,
         kTooManyExpansions},
        // Empty elements at the deepest level close again: they must not make room for more.
        {"", "<a>", "<b/><b/>", "</a>", kDepth - 1, "Nesting depth limit exceeded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head.substr(0, 40) + c.unit);
        auto doc = [&](std::size_t n) {
            return c.head + repeat(c.unit, n) + c.tail + repeat(c.closing, n);
        };
        EXPECT_TRUE(parse(doc(c.bound)));
        EXPECT_EQ(c.message, parseFailure(doc(c.bound + 1)));
    }
}

// Documents within the counted limits that would still take gigabytes or minutes.
TEST(DOMUtilParseLimits, HostileDocumentsFailFast) {
    const std::size_t depth = kDepth - 1;
    // Each element below costs the scanner a walk through every open element; the elements
    // bring 4 bytes of allowance each and the chain 7 per level.
    const std::size_t extra =
        (kNestingCost + 7 * depth * kNestingCostPerByte) / (depth + 1 - 4 * kNestingCostPerByte) +
        1024;
    const std::string memory = "Parse memory limit exceeded";
    const std::pair<std::string, std::string> kCases[] = {
        {laughs("<!ENTITY l", "&l", "lol") + "]><r>&l9;</r>", kTooManyExpansions},
        {laughs("<!ENTITY l", "&l", "lol") + "]><r a='&l9;'/>", kTooManyExpansions},
        // The scanner builds an attribute default before any callback and does not count the
        // expansions in it.
        {laughs("<!ENTITY e", "&e", "xxxxxxxxxx") + "<!ATTLIST r a CDATA '&e9;'>]><r/>", memory},
        // Nothing grows, but each of the 10^9 expansions takes a reader: in an attribute
        // default, and through parameter entities spelled with character references.
        {laughs("<!ENTITY e", "&e", "") + "<!ATTLIST r a CDATA '&e9;'>]><r/>", memory},
        {laughs("<!ENTITY % p", "&#37;p", "") + "%p9;]><r/>", memory},
        {"<!DOCTYPE r [<!ENTITY % p \"<!ENTITY x '" + std::string(20000, 'x') + "'>\">" +
             repeat("%p;", 9000) + "]><r/>",
         memory},
        // Each expansion makes 5000 elements: 9000 of them would need gigabytes.
        {"<!DOCTYPE r [<!ENTITY e '" + repeat("<a/>", 5000) + "'>]><r>" + repeat("&e;", 9000) +
             "</r>",
         memory},
        {repeat("<a>", depth) + repeat("<b/>", extra) + repeat("</a>", depth),
         "Nesting cost limit exceeded"},
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
