// amxml xpointer, run as a subprocess: its output is what other tools read.
#include "support/tool.h"

using namespace amxml_test;

namespace {

class XPointerTool : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        write("in.xml", kDocument);
    }
    std::string in() const { return "'" + dir_ + "/in.xml'"; }

    // IDs typed by the DTD, one inside an entity reference; a namespace, a comment, a PI.
    static constexpr const char* kDocument =
        "<?xml version='1.0'?><!DOCTYPE d [<!ATTLIST b id ID #IMPLIED>"
        "<!ENTITY e '<b id=\"in\">x</b><!--in-->y'>]><!--top-->"
        "<d xmlns:p='urn:p' a='1'><c>1</c>&e;<b id='z'>2</b><?pi x?><p:q p:r='3'/></d><?end?>";
};

}  // namespace

TEST_F(XPointerTool, WritesTheSelectedNodesAsPaths) {
    // clang-format off
    const struct { std::string args, out; } cases[] = {
        {"z", "nodeset\n/1/3\n"}, {"in", "nodeset\n/1/2\n"}, {"/", "nodeset\n/\n"}, {"/1/2", "nodeset\n/1/2\n"},
        {"'xpointer(id(\"nothing\"))xpointer(//b | //comment() | //@id)'",
            "nodeset\n/comment()[1]\n/1/2\n/1/2/@id\n/1/comment()[1]\n/1/3\n/1/3/@id\n"},
        {"'xmlns(x=urn:p)xpointer(//x:q/@x:r | /d/processing-instruction() | /processing-instruction())'",
            "nodeset\n/1/processing-instruction()[1]\n/1/4/@p:r\n/processing-instruction()[1]\n"},
        {"'xpointer(//b/text() | //text()[1]) xpointer(/)'", "nodeset\n/1/1/text()[1]\n/1/2/text()[1]\n/1/text()[1]\n/1/3/text()[1]\n"},
        {"'xpointer(^(/d^)/c)'", "nodeset\n/1/1\n"}, {"--max-depth 3 z", "nodeset\n/1/3\n"}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = run("xpointer " + c.args + " " + in());
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ("", r.err);
    }
    EXPECT_EQ("nodeset\n/1/3\n", run("xpointer z -", in()).out);
    EXPECT_EQ("nodeset\n/1/3\n", run("xpointer -- z", in()).out);
}

TEST_F(XPointerTool, ReportsFailures) {
    const std::string e = "Ambrite::XML::Exception ";
    // clang-format off
    const struct { std::string args; int status; std::string err; } cases[] = {
        {"y", 1, e + "16: XPointer evaluated to empty set: Failed to resolve ID `y'\n"},
        {"z/0", 1, e + "16: XPointer evaluated to empty set\n"}, {"''", 1, e + "17: Unexpected token (expecting '/'): Null\n"},
        {"'xpointer(/) junk'", 1, e + "17: Unexpected token (expecting none): junk\n"},
        {"'xmlns(a=urn:x^y)'", 1, e + "17: Error matching parentheses\n"}, {"'xpointer(a b)'", 1, e + "17: Unexpected token (expecting ')'): b\n"},
        {"'xpointer(//x:q)'", 1, e + "14: Unbound namespace prefix: x\n"}, {"'xpointer(f())'", 1, e + "14: Unbound function: f\n"},
        {"'xpointer(' /none", 1, e + "15: Unexpected token (expecting node test): Null\n"},
        {"z /none", 1, "amxml xpointer: cannot open /none: No such file or directory\n"},
        {"--max-depth 1 z", 1, e + "9: "}, {"", 2, "amxml xpointer: no pointer given\nusage: amxml xpointer "},
        {"z a b", 2, "amxml xpointer: only one input may be given\n"}, {"--bogus z", 2, "amxml xpointer: unknown option '--bogus'\n"},
        {"-x", 2, "amxml xpointer: unknown option '-x'\n"},
        {"\"$(printf '\\377')\"", 2, "amxml xpointer: pointer '\xff' is not UTF-8\n"}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r =
            run("xpointer " + c.args +
                (c.args.empty() || c.args.find("/none") != std::string::npos ? "" : " " + in()));
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(0u, r.err.find(c.err)) << r.err;
        EXPECT_EQ("", r.out);
    }
    EXPECT_NE(std::string::npos,
              run("xpointer --max-depth 1 z " + in()).err.find(" (amxml --max-depth)\n"));
    EXPECT_EQ(1, run("xpointer z", "/dev/null").status);
}
