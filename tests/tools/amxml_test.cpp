// The amxml tool, run as a subprocess on files in a directory of its own: the interface that
// people and other tools drive.
#include "support/tool.h"

using namespace amxml_test;

typedef ToolTest AmxmlTool;

TEST_F(AmxmlTool, SerializesFilesAndStandardInput) {
    std::string in = write("in.xml",
                           "<!DOCTYPE r SYSTEM \"r.dtd\">\n<!--c--><r b='2' a=\"&lt;\">"
                           "x<![CDATA[&]]><e></e></r><?p d?>");
    const std::string body =
        "<!DOCTYPE r SYSTEM \"r.dtd\">\n<!--c-->\n<r a=\"&lt;\" b=\"2\">x&amp;<e /></r>\n<?p d?>\n";
    for (const std::string& args :
         {"serialize " + in, std::string("serialize -"), std::string("serialize")}) {
        SCOPED_TRACE(args);
        Outcome r = run(args, in);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + body, r.out);
        EXPECT_EQ("", r.err);
    }
    EXPECT_EQ(body, run("serialize --no-declaration -- " + in).out);
    // The sample's serialized form has the same canonical form as the sample itself.
    std::string sample = std::string(AMXML_SOURCE_DIR) + "/samples/signed-order.xml";
    Outcome serialized = run("serialize '" + sample + "'");
    ASSERT_EQ(0, serialized.status) << serialized.err;
    EXPECT_NE(std::string::npos, serialized.out.find("\xF0\x9D\x84\x9E"));
    EXPECT_EQ(run("c14n --comments '" + sample + "'").out,
              run("c14n --comments " + write("again.xml", serialized.out)).out);
    // The demo's pointers to the signed element minus its signature: one by ID while reading,
    // one by xpointer() on a DOM, and the child sequences, alike.
    const std::string part =
        run("c14n --exclusive --apex /1/2 --exclude /1/2/4 '" + sample + "'").out;
    EXPECT_EQ(0u, part.find("<Signed xmlns=\"urn:example:orders\" Id=\"signed\" currency="))
        << part;
    EXPECT_EQ(part, run("c14n --exclusive --id-attr Id --apex signed --exclude-signatures '" +
                        sample + "'")
                        .out);
    EXPECT_EQ(
        part,
        run("c14n --exclusive --apex 'xmlns(o=urn:example:orders)xpointer(/o:Order/o:Signed)' "
            "--exclude 'xmlns(ds=http://www.w3.org/2000/09/xmldsig#)xpointer(//ds:Signature)' '" +
            sample + "'")
            .out);
}

// Library failures, unopenable files and unknown commands are in refusal_test.cpp, pointers in
// c14n_tool_test.cpp, options without their value in xpath_tool_test.cpp.
TEST_F(AmxmlTool, FailuresAndUsageErrors) {
    const std::string in = write("in.xml", "<r/>");
    const Expected kCases[] = {
        {"serialize --bogus", 2,
         "amxml serialize: unknown option '--bogus'\nusage: amxml serialize"},
        {"serialize " + in + " " + in, 2, "amxml serialize: only one input may be given\nusage:"},
        {"", 2, "amxml: no command given\nusage: amxml COMMAND"},
    };
    for (const Expected& c : kCases) {
        SCOPED_TRACE(c.args);
        Outcome r = run(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(0u, r.err.find(c.err)) << r.err;
    }
    const std::pair<const char*, const char*> kHelp[] = {
        {"--help", "usage: amxml COMMAND"},
        {"c14n --help", "usage: amxml c14n [--comments] [--exclusive] [--prefixes LIST]"},
        {"serialize --help", "usage: amxml serialize [--no-declaration] [--max-depth N]"},
        {"verify --help", "usage: amxml verify [--key PEM]..."},
        {"xpath --help", "usage: amxml xpath [--context LOCATOR] [--ns PREFIX=URI]"},
        {"xpointer --help", "usage: amxml xpointer [--max-depth N] [--max-memory SIZE] POINTER"}};
    for (const auto& [args, usage] : kHelp) {
        const Outcome r = run(args);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(0u, r.out.find(usage)) << r.out;
    }
    const std::string commands = run("--help").out;
    for (const char* line :
         {"\n  verify      check the XML", "\n  xpath       evaluate an XPath 1.0 expression",
          "\n  xpointer    list the nodes a same-document XPointer selects"})
        EXPECT_NE(std::string::npos, commands.find(line)) << line;
}
