// Every parse (the serializer's and URIUtil's calls are swept in their own tests) with its first,
// second, third... allocation failing: each run ends in success, Exception 18 or the failure the
// input itself causes, and leaves nothing behind.
#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>

#include "support/stream_doubles.h"

using namespace amxml_test;

namespace {

const char kDocument[] =
    "<!DOCTYPE r [<!ENTITY e 'v'><!ATTLIST q d:a CDATA 'x' id ID #IMPLIED>]><!--c-->"
    "<r xmlns='urn:r' xmlns:d='urn:d' b='&e;'><?p d?><![CDATA[<]]>&e;<q id='i'>t</q></r>";

}  // namespace

// Through parse(), and through a parser of the caller's and an adapter that adopts its source.
TEST(AllocationFailure, Parse) {
    struct InputRelease {
        void operator()(xercesc::DOMLSInput* input) const { input->release(); }
    };
    EXPECT_GT(sweep([] {
                  parse(kDocument);
                  std::unique_ptr<xercesc::DOMLSParser, ParserRelease> parser(
                      DOMUtil::wellFormedParser());
                  std::unique_ptr<xercesc::DOMLSInput, InputRelease> input(
                      DOMUtil::inputSourceAdapter(new StringSource(kDocument), true, u"urn:s"));
                  std::unique_ptr<DOMDocument, DocumentRelease> d(parser->parse(input.get()));
              }),
              0u);
}

// Parses that fail by themselves: malformed, beyond a limit, refused, or their source failing.
TEST(AllocationFailure, FailingParses) {
    const std::pair<std::string, std::string> kCases[] = {
        {"<a><b></a>", "9: Fatal DOM error: Line 1, column 9, offset -1: expected end of tag 'b'"},
        {"<!DOCTYPE r SYSTEM 'x.dtd'><r>&e;</r>",
         "9: Fatal DOM error: Line 1, column 34, offset -1: entity 'e' not found"},
        {"<!DOCTYPE r [<!ATTLIST q xmlns CDATA 'urn:y'>]><r xmlns='urn:x'><q/></r>",
         "9: Fatal DOM error: Line 1, column 69, offset -1: namespace declaration defaulted"},
        // The parser's own limit, and one of the library's.
        {"<!DOCTYPE a [<!ENTITY e 'x'>]><a>" + repeat("&e;", 10001),
         "9: Fatal DOM error: Line 1, column 30037, offset -1: parser has encountered more than "
         "'10000' entity expansions"},
        {"<!DOCTYPE a [<!ENTITY e '" + std::string(10000, 'x') + "'>]><a>" + repeat("&e;", 1001),
         "9: Fatal DOM error: Line 1, column 13036, offset -1: Entity expansion limit exceeded"},
        {"<!DOCTYPE r [<!ENTITY e SYSTEM 'x.ent'>]><r>&e;</r>",
         "13050: Unable to resolve entity: x.ent"},
    };
    for (const auto& [xml, start] : kCases) {
        SCOPED_TRACE(xml.substr(0, 60));
        const int id = std::stoi(start);
        const std::string f = sweepFailing(id, [&] { parse(xml); });
        EXPECT_EQ(0u, f.rfind(start, 0)) << f;
    }
    EXPECT_EQ("3: Already closed", sweepFailing(3, [] {
                  StringSource failing("<a>" + std::string(20000, 'x') + "</a>", nullptr, 1000);
                  DocumentRelease()(DOMUtil::parse(&failing));
              }));
}
