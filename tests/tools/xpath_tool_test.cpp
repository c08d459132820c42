// amxml xpath, run as a subprocess: its output is what other tools read.
#include "support/tool.h"

using namespace amxml_test;

namespace {

class XPathTool : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        in_ = write("in.xml", kDocument);
    }
    static constexpr const char* kDocument =
        "<?xml version='1.0'?><!DOCTYPE d [<!ENTITY e '<b>x</b><!--in-->y'>]><!--top-->"
        "<d xmlns:p='urn:p' a='1'><c>1</c>&e;<b id='z'>2&#xE9;</b><![CDATA[cd]]>t<?pi x?>"
        "<p:q p:r='3'/></d><?end?>";
    std::string in_;
};

}  // namespace

TEST_F(XPathTool, WritesTheTypeAndThenTheValue) {
    // clang-format off
    const struct { std::string args, out; } cases[] = {
        {"'/'", "nodeset\n/\n"}, {"'//b'", "nodeset\n/1/2\n/1/3\n"},
        {"'//node()'", "nodeset\n/comment()[1]\n/1\n/1/1\n/1/1/text()[1]\n/1/2\n/1/2/text()[1]\n"
            "/1/comment()[1]\n/1/text()[1]\n/1/3\n/1/3/text()[1]\n/1/text()[2]\n/1/text()[3]\n"
            "/1/processing-instruction()[1]\n/1/4\n/processing-instruction()[1]\n"},
        {"'//@* | namespace::* | //b/..'", "nodeset\n/1\n/1/@xmlns:p\n/1/@a\n/1/3/@id\n/1/4/@p:r\n"},
        {"'//*[0]'", "nodeset\n"}, {"'string(/d)'", "string\n1xy2\xC3\xA9" "cdt\n"},
        {"'1 div 3'", "number\n0.3333333333333333\n"}, {"'0 div 0 = 1'", "boolean\nfalse\n"},
        {"'boolean(p:q)' --ns p=urn:p", "boolean\ntrue\n"}, {"--ns=p=urn:x 'count(p:q)'", "number\n0\n"},
        {"--var 'v=a b' --var p:w= 'concat($v, \"|\", $p:w)'", "string\na b|\n"},
        {"--context /1/3 'string(.)'", "string\n2\xC3\xA9\n"}, {"--context=/ 'name(*)'", "string\nd\n"},
        {"--context /1/2 'count(../text())'", "number\n3\n"}, {"-- '-1'", "number\n-1\n"},
        {"--max-visits 10 'count(b)'", "number\n2\n"}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = run("xpath " + c.args + " " + in_);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ("", r.err);
    }
    EXPECT_EQ("number\n4\n", run("xpath 'count(*)' -", in_).out);
    EXPECT_EQ("number\n4\n", run("xpath 'count(*)'", in_).out);
}

TEST_F(XPathTool, ReportsFailures) {
    // clang-format off
    const Expected cases[] = {
        {"'a b'", 1, "Ambrite::XML::Exception 15: Unexpected token (expecting none): b"},
        {"'p:q'", 1, "Ambrite::XML::Exception 14: Unbound namespace prefix: p"},
        {"'$v'", 1, "Ambrite::XML::Exception 14: Unbound variable: v"},
        {"--max-visits=9 'count(b)'", 1, "Ambrite::XML::Exception 14: Evaluation limit exceeded: more than 9 node visits"},
        {"--context /1/9 .", 1, "amxml xpath: no element at /1/9\n"},
        {"--context 1 .", 2, "amxml xpath: invalid locator '1' (expecting /1/2/...)\nusage: amxml xpath"},
        {"", 2, "amxml xpath: no expression given\n"}, {"--ns p 1", 2, "amxml xpath: option --ns needs NAME=VALUE, not 'p'"},
        {"--var =x 1", 2, "amxml xpath: option --var needs NAME=VALUE, not '=x'"},
        {"--max-visits -1 1", 2, "amxml xpath: invalid --max-visits '-1'"}, {"--bogus 1", 2, "amxml xpath: unknown option '--bogus'"},
        {"-1", 2, "amxml xpath: unknown option '-1'"}, {"1 x y", 2, "amxml xpath: only one input may be given"},
        {"--ns", 2, "amxml xpath: option --ns needs a value"}, {"\"$(printf '\\377')\"", 2, "amxml xpath: expression '\xff' is not UTF-8"}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = run("xpath " + c.args, in_);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(0u, r.err.find(c.err)) << r.err;
    }
}
