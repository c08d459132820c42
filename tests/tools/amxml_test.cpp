// The amxml tool, run as a subprocess on files in a directory of its own.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

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
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        rmdir(dir_.c_str());
    }

    std::string write(const std::string& name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        files_.push_back(path);
        return path;
    }

    // Runs amxml with `args` (already quoted for the shell), stdin from `input` if given.
    Outcome run(const std::string& args, const std::string& input = "") {
        std::string err = dir_ + "/stderr";
        if (files_.empty() || files_.back() != err) files_.push_back(err);
        std::string command = std::string(AMXML_TOOL) + " " + args + " 2>'" + err + "'";
        if (!input.empty()) command += " <'" + input + "'";
        Outcome r;
        std::FILE* p = popen(command.c_str(), "r");
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
        int status = pclose(p);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = readFile(err);
        return r;
    }

    std::string dir_;
    std::vector<std::string> files_;
};

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
