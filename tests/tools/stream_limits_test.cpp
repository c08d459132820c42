// The parse limits of amxml c14n on its streaming path against its DOM path: depth and the
// refusals of hostile input alike, memory counted as each path holds it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

class AmxmlStreamLimits : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = testing::TempDir() + "amxml-stream-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string write(const std::string& name, const std::string& content) {
        const std::string path = dir_ + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        return path;
    }

    // Runs `input | amxml c14n args` through the shell.
    Result run(const std::string& args, const std::string& input = "") {
        std::string command = std::string(AMXML_TOOL) + " c14n " + args + " 2>'" + dir_ + "/err'";
        if (!input.empty()) command = input + " | " + command;
        Result r;
        std::FILE* p = popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) {
            r.out.append(buffer, n);
        }
        const int status = pclose(p);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = readFile(dir_ + "/err");
        return r;
    }

    std::string dir_;
};

}  // namespace

// Streaming and --dom give the same status and one-line failure for what does not depend on the
// memory a DOM takes, and the same output when they succeed (a failing stream has written what
// came before the failure).
TEST_F(AmxmlStreamLimits, BothPathsRefuseAlike) {
    const std::string deep = write("deep.xml", repeat("<a>", 10001) + repeat("</a>", 10001));
    const std::string utf7 =
        write("utf7.xml", "<?xml version='1.0' encoding='UTF-7'?><a>+ADw-b+AD4-</a>");
    const std::string cut = write("cut.xml", "<a>x</a>\xE2\x82");
    const std::string xmlPrefix = write(
        "xml.xml", "<!DOCTYPE r [<!ATTLIST r xmlns:xml CDATA 'http://evil.example/ns'>]><r/>");
    const std::string v11 = write("v11.xml", "<?xml version='1.1'?><a b='&#x1;'/>");
    const std::string big = write("big.xml", "<r a='" + std::string(20 << 20, 'x') + "'/>");
    for (const std::string& args :
         {"'" + deep + "'", "--max-depth 10001 '" + deep + "'", "--max-depth 9 '" + deep + "'",
          "'" + utf7 + "'", "'" + cut + "'", "'" + xmlPrefix + "'", "'" + v11 + "'",
          "--max-memory 16M '" + big + "'", "--max-memory 64M '" + big + "'"}) {
        SCOPED_TRACE(args);
        const Result streamed = run(args), built = run("--dom " + args);
        EXPECT_EQ(built.status, streamed.status);
        EXPECT_EQ(built.err, streamed.err);
        if (built.status == 0) {
            EXPECT_EQ(built.out, streamed.out);
        }
    }
    EXPECT_TRUE(
        endsWith(run("'" + deep + "'").err, "Nesting depth limit exceeded (amxml --max-depth)\n"));
    EXPECT_TRUE(endsWith(run("--max-memory 16M '" + big + "'").err,
                         "more than 16777216 bytes (amxml --max-memory)\n"));
}

// A DOM of many small elements takes far more than the bytes it is made from; the streaming
// path holds none of it and passes where the DOM path fails the bound. An input that never
// ends inside one attribute value is held, and fails the bound on the streaming path too.
TEST_F(AmxmlStreamLimits, MemoryIsWhatEachPathHolds) {
    const std::string wide = write("wide.xml", "<r>" + repeat("<c/>", 400000) + "</r>");
    const Result built = run("--dom --max-memory 16M '" + wide + "'");
    EXPECT_EQ(1, built.status);
    EXPECT_TRUE(endsWith(built.err, "more than 16777216 bytes (amxml --max-memory)\n"))
        << built.err;
    const Result streamed = run("--max-memory 16M '" + wide + "'");
    EXPECT_EQ(0, streamed.status);
    EXPECT_EQ("<r>" + repeat("<c></c>", 400000) + "</r>", streamed.out);

    const Result endless = run("--max-memory 32M -", "(printf \"<r a='\"; yes x | tr -d '\\n')");
    EXPECT_EQ(1, endless.status);
    EXPECT_TRUE(endsWith(endless.err,
                         "Parse memory limit exceeded: more than 33554432 bytes "
                         "(amxml --max-memory)\n"))
        << endless.err;
}
