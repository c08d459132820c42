// The amxml tool, run as a subprocess on files in a directory of its own.
#include "tests/tools/tool_fixture.h"

using namespace amxml_test;

namespace {

const char kDocument[] =
    "<!DOCTYPE r SYSTEM \"r.dtd\">\n<!--c--><r b='2' a=\"&lt;\">x<![CDATA[&]]><e></e></r>"
    "<?p d?>";
const char kBody[] =
    "<!DOCTYPE r SYSTEM \"r.dtd\">\n<!--c-->\n<r a=\"&lt;\" b=\"2\">x&amp;<e /></r>\n<?p d?>\n";
const char kDecl[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

}  // namespace

TEST_F(AmxmlTool, SerializesAFileAndStandardInput) {
    std::string in = write("in.xml", kDocument);
    for (const std::string& args :
         {"serialize '" + in + "'", std::string("serialize -"), std::string("serialize")}) {
        SCOPED_TRACE(args);
        Outcome r = run(args, in);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(std::string(kDecl) + kBody, r.out);
        EXPECT_EQ("", r.err);
    }
    Outcome r = run("serialize --no-declaration -- '" + in + "'");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(kBody, r.out);
}

TEST_F(AmxmlTool, SampleSurvivesARoundTrip) {
    std::string sample = std::string(AMXML_SOURCE_DIR) + "/samples/signed-order.xml";
    Outcome first = run("serialize '" + sample + "'");
    ASSERT_EQ(0, first.status) << first.err;
    std::string again = write("again.xml", first.out);
    EXPECT_EQ(first.out, run("serialize '" + again + "'").out);
    // The 4-byte UTF-8 of a non-BMP character comes through intact.
    EXPECT_NE(std::string::npos, first.out.find("\xF0\x9D\x84\x9E"));
    // A peer's canonical form of the output equals that of the input.
    if (std::system("xmllint --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xmllint";
    auto c14n = [&](const std::string& file) {
        std::string out = dir_ + "/c14n";
        files_.push_back(out);
        std::system(("xmllint --c14n '" + file + "' >'" + out + "'").c_str());
        return readFile(out);
    };
    std::string expected = c14n(sample);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(expected, c14n(again));
}

TEST_F(AmxmlTool, LibraryFailureIsPrintedOnOneLine) {
    std::string bad = write("bad.xml", "<a>\n<b></a>");
    std::string expected;
    try {
        parse("<a>\n<b></a>");
    } catch (const Exception& e) {
        expected = printed(e) + "\n";
    }
    ASSERT_EQ(0u, expected.find(
                      "Ambrite::XML::Exception 9: Fatal DOM error: Line 2, column 6, offset -1: "));
    Outcome r = run("serialize '" + bad + "'");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(expected, r.err);

    r = run("serialize '" + dir_ + "/missing.xml'");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("amxml serialize: cannot open " + dir_ + "/missing.xml: No such file or directory\n",
              r.err);
}

TEST_F(AmxmlTool, UsageErrorsAndHelp) {
    std::string in = write("in.xml", "<a/>");
    struct Case {
        std::string args;
        std::string errStart;
    };
    const Case kCases[] = {
        {"serialize --bogus", "amxml serialize: unknown option '--bogus'\nusage: amxml serialize"},
        {"serialize '" + in + "' '" + in + "'",
         "amxml serialize: only one input may be given\nusage: amxml serialize"},
        {"frobnicate", "amxml: unknown command 'frobnicate'\nusage: amxml COMMAND"},
        {"", "amxml: no command given\nusage: amxml COMMAND"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.args);
        Outcome r = run(c.args);
        EXPECT_EQ(2, r.status);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(0u, r.err.find(c.errStart)) << r.err;
    }
    Outcome help = run("--help");
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("usage: amxml COMMAND"));
    EXPECT_NE(std::string::npos, help.out.find("\n  serialize "));
    help = run("serialize --help");
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("usage: amxml serialize [--no-declaration] [FILE|-]\n"));
    EXPECT_EQ("", help.err);
}
