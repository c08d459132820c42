// The amxml tool, run as a subprocess on files in a directory of its own: the interface that
// people and other tools drive.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class AmxmlTool : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = testing::TempDir() + "amxml-tool-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string write(const std::string& name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        return "'" + path + "'";
    }

    // Runs amxml with `args` (quoted for the shell), standard input from `input` if given.
    Outcome run(const std::string& args, const std::string& input = "") {
        std::string command = std::string(AMXML_TOOL) + " " + args + " 2>'" + dir_ + "/err'";
        if (!input.empty()) command += " <" + input;
        Outcome r;
        std::FILE* p = popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
            r.out.append(buffer, n);
        int status = pclose(p);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = readFile(dir_ + "/err");
        return r;
    }

    std::string dir_;
};

const char kSigned[] =
    "<?pi x?><r xmlns:p=\"http://p\" xmlns:u=\"http://u\" xml:lang=\"en\"><a/>"
    "<s Id=\"signed\" z=\"1\" p:y=\"2\"><p:v>1</p:v><!--c--><sig><d/></sig><t>x</t><sig/></s></r>";

}  // namespace

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
}

// Option spellings and standard input; what the options select is compared with libxml2 on
// generated documents by the peer comparison (tests/peer), which drives this tool.
TEST_F(AmxmlTool, C14nOptionSpellingsAndStandardInput) {
    std::string in = write("in.xml", kSigned);
    EXPECT_EQ(
        "<s xmlns:p=\"http://p\" xmlns:u=\"http://u\" Id=\"signed\" z=\"1\" p:y=\"2\" "
        "xml:lang=\"en\"><p:v>1</p:v><!--c--><t>x</t></s>",
        run("c14n --comments --apex=/1/2 --exclude /1/2/2 --exclude=/1/2/4 " + in).out);
    EXPECT_EQ("<p:v xmlns:p=\"http://p\">1</p:v>", run("c14n --exclusive --apex /1/2/1 -", in).out);
    // Elements from an entity reference are children of the reference's parent.
    std::string entity = write("entity.xml",
                               "<!DOCTYPE d [<!ENTITY e '<b>1</b><!--x--><c/>'>]>"
                               "<d>&e;<f>&e;</f></d>");
    EXPECT_EQ("<c></c>", run("c14n --apex /1/2 " + entity).out);
    EXPECT_EQ("<f><b>1</b></f>", run("c14n --apex /1/3 --exclude /1/3/2 " + entity).out);
}

TEST_F(AmxmlTool, FailuresAndUsageErrors) {
    std::string in = write("in.xml", kSigned);
    struct Case {
        std::string args;
        int status;
        std::string err;  // the start of standard error
    };
    const Case kCases[] = {
        {"serialize " + write("bad.xml", "<a>\n<b></a>"), 1,
         "Ambrite::XML::Exception 9: Fatal DOM error: Line 2, column 6, offset -1: expected end of "
         "tag 'b'\n"},
        {"c14n " + write("rel.xml", "<r xmlns=\"rel\"/>"), 1,
         "Ambrite::XML::Exception 13006: Invalid relative namespace URI: xmlns=\"rel\"\n"},
        {"serialize " + dir_ + "/missing.xml", 1,
         "amxml serialize: cannot open " + dir_ + "/missing.xml: No such file or directory\n"},
        {"c14n --apex /1/9 " + in, 1, "amxml c14n: no element at /1/9\n"},
        {"c14n --exclude /2 " + in, 1, "amxml c14n: no element at /2\n"},
        {"serialize --bogus", 2,
         "amxml serialize: unknown option '--bogus'\nusage: amxml serialize"},
        {"serialize " + in + " " + in, 2, "amxml serialize: only one input may be given\nusage:"},
        {"c14n --apex 1/2 " + in, 2,
         "amxml c14n: invalid locator '1/2' (expecting /1/2/...)\nusage:"},
        {"c14n --apex /1/0 " + in, 2, "amxml c14n: invalid locator '/1/0'"},
        {"c14n --exclude /1//2 " + in, 2, "amxml c14n: invalid locator '/1//2'"},
        {"c14n --exclude /1/x " + in, 2, "amxml c14n: invalid locator '/1/x'"},
        {"c14n --apex /1 --apex /1/2 " + in, 2, "amxml c14n: only one --apex may be given"},
        {"c14n --apex", 2, "amxml c14n: option --apex needs a value"},
        {"frobnicate", 2, "amxml: unknown command 'frobnicate'\nusage: amxml COMMAND"},
        {"", 2, "amxml: no command given\nusage: amxml COMMAND"},
        {"--help", 0, ""},
        {"c14n --help", 0, ""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.args);
        Outcome r = run(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(0u, r.err.find(c.err)) << r.err;
    }
    EXPECT_EQ(0u, run("--help").out.find("usage: amxml COMMAND"));
    EXPECT_EQ(0u, run("c14n --help")
                      .out.find("usage: amxml c14n [--comments] [--exclusive] [--prefixes LIST]"));
    EXPECT_EQ(0u, run("serialize --help")
                      .out.find("usage: amxml serialize [--no-declaration] [--max-depth N]"));
}
