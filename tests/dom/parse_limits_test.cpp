// The bounds of a parse: entity expansion text, DTD defaults, attribute values beyond the
// input, nesting depth and cost, and parse memory. Each failure is Exception 9.
#include "dom/dom_internal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

using namespace amxml_test;

namespace {

struct Failure {
    int id = 0;
    std::string message;
};

Failure parseFailure(const std::string& xml) {
    try {
        parse(xml);
    } catch (const Exception& e) {
        return Failure{e.id(), utf8(e.what().str())};
    }
    ADD_FAILURE() << "no exception";
    return Failure();
}

// The fatal-error shape of the parser, with the limit's own message at the end.
void expectLimit(const Failure& f, const std::string& message) {
    EXPECT_EQ(9, f.id);
    EXPECT_EQ(0u, f.message.find("Fatal DOM error: Line 1, column ")) << f.message;
    EXPECT_EQ(f.message.size() - message.size() - 2, f.message.rfind(": " + message))
        << f.message;
}

std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

const std::size_t kValue = 10000;  // units of the entity and default values below
const std::size_t kFits = internal::kExpansionTextLimit / kValue;

std::string entityDoc(std::size_t refs) {
    return "<!DOCTYPE a [<!ENTITY e '" + std::string(kValue, 'x') + "'>]><a>" +
           repeat("&e;", refs) + "</a>";
}

}  // namespace

TEST(DOMUtilParseLimits, EntityReplacementTextIsBoundedExactly) {
    DocumentPtr d = parse(entityDoc(kFits));
    EXPECT_EQ(kFits, d->getDocumentElement()->getChildNodes()->getLength());
    expectLimit(parseFailure(entityDoc(kFits + 1)), "Entity expansion limit exceeded");
}

TEST(DOMUtilParseLimits, DefaultAttributesAreChargedLikeExpansions) {
    auto doc = [](std::size_t elements) {
        return "<!DOCTYPE a [<!ATTLIST b d CDATA '" + std::string(kValue, 'v') + "'>]><a>" +
               repeat("<b/>", elements) + "</a>";
    };
    DocumentPtr d = parse(doc(kFits));
    EXPECT_EQ(kValue, u16(static_cast<xercesc::DOMElement*>(d->getDocumentElement()->getLastChild())
                              ->getAttribute(u"d"))
                          .size());
    expectLimit(parseFailure(doc(kFits + 1)), "Entity expansion limit exceeded");
}

TEST(DOMUtilParseLimits, AttributeValuesLongerThanTheInputAreCharged) {
    auto doc = [](std::size_t refs) {
        return "<!DOCTYPE a [<!ENTITY e '" + std::string(kValue, 'x') + "'>]><a v='" +
               repeat("&e;", refs) + "'/>";
    };
    // As many units as the input has bytes (some 13,000 here) could be written out, so they
    // are not charged: one reference more than the budget still passes, two do not.
    DocumentPtr d = parse(doc(kFits + 1));
    EXPECT_EQ((kFits + 1) * kValue, u16(d->getDocumentElement()->getAttribute(u"v")).size());
    expectLimit(parseFailure(doc(kFits + 2)), "Entity expansion limit exceeded");
}

TEST(DOMUtilParseLimits, LaughsInsideAnAttributeDefaultHitTheMemoryLimit) {
    // The scanner builds the default before any callback and does not count these expansions.
    std::string dtd = "<!DOCTYPE r [<!ENTITY e0 'xxxxxxxxxx'>";
    for (int i = 1; i <= 9; ++i) {
        dtd += "<!ENTITY e" + std::to_string(i) + " '" +
               repeat("&e" + std::to_string(i - 1) + ";", 10) + "'>";
    }
    expectLimit(parseFailure(dtd + "<!ATTLIST r a CDATA '&e9;'>]><r/>"),
                "Parse memory limit exceeded");
}

TEST(DOMUtilParseLimits, EmptyLaughsStopAsSoonAsTheirReadersAddUp) {
    // Nothing grows, but each of the 10^9 expansions the scanner does not count takes a reader:
    // in an attribute default, and through parameter entities spelled with character references.
    std::string general = "<!DOCTYPE r [<!ENTITY e0 ''>";
    std::string parameter = "<!DOCTYPE r [<!ENTITY % p0 ''>";
    for (int i = 1; i <= 9; ++i) {
        general += "<!ENTITY e" + std::to_string(i) + " '" +
                   repeat("&e" + std::to_string(i - 1) + ";", 10) + "'>";
        parameter += "<!ENTITY % p" + std::to_string(i) + " '" +
                     repeat("&#37;p" + std::to_string(i - 1) + ";", 10) + "'>";
    }
    expectLimit(parseFailure(general + "<!ATTLIST r a CDATA '&e9;'>]><r/>"),
                "Parse memory limit exceeded");
    expectLimit(parseFailure(parameter + "%p9;]><r/>"), "Parse memory limit exceeded");
}

TEST(DOMUtilParseLimits, ReplayedParameterEntitiesHitTheMemoryLimit) {
    std::string xml = "<!DOCTYPE r [<!ENTITY % p \"<!ENTITY x '" + std::string(20000, 'x') +
                      "'>\">" + repeat("%p;", 9000) + "]><r/>";
    expectLimit(parseFailure(xml), "Parse memory limit exceeded");
}

TEST(DOMUtilParseLimits, MarkupHeavyEntitiesAreStopped) {
    // Each expansion makes 5000 elements: 9000 of them would need gigabytes.
    std::string xml = "<!DOCTYPE r [<!ENTITY e '" + repeat("<a/>", 5000) + "'>]><r>" +
                      repeat("&e;", 9000) + "</r>";
    Failure f = parseFailure(xml);
    EXPECT_EQ(9, f.id);
    EXPECT_NE(std::string::npos, f.message.find("limit exceeded")) << f.message;
}

TEST(DOMUtilParseLimits, NestingDepthIsBoundedExactly) {
    const std::size_t limit = internal::kDepthLimit;
    // Empty elements at the deepest level close again: they must not make room for more.
    std::string deepest = repeat("<a>", limit - 1) + "<b/><b/>";
    DocumentPtr d = parse(deepest + repeat("</a>", limit - 1));
    ASSERT_TRUE(d);
    d.reset();
    expectLimit(parseFailure(deepest + "<c><d/></c>" + repeat("</a>", limit - 1)),
                "Nesting depth limit exceeded");
}

TEST(DOMUtilParseLimits, ManyElementsAtGreatDepthHitTheNestingCostLimit) {
    const std::size_t depth = internal::kDepthLimit - 1;
    // Each element below costs the scanner a walk through every open element.
    std::size_t extra =
        (internal::kNestingCostBase - depth * (depth + 1) / 2) / depth + 4 * 1024;
    std::string xml = repeat("<a>", depth) + repeat("<b/>", extra) + repeat("</a>", depth);
    expectLimit(parseFailure(xml), "Nesting cost limit exceeded");
}
