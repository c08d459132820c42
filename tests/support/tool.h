// The amxml tool run as a subprocess, in a directory of the test's own.
#ifndef AMBRITE_XML_TEST_TOOL_H
#define AMBRITE_XML_TEST_TOOL_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>

#include "support/test_support.h"

namespace amxml_test {

struct Outcome {
    int status;
    std::string out, err;
};

/// The output and exit status of a shell command; standard error is left alone.
inline Outcome shell(const std::string& command) {
    Outcome r{-1, "", ""};
    std::FILE* p = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) r.out.append(buffer, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

/// A command line, the exit status it should end with, and a piece of its standard error.
struct Expected {
    std::string args;
    int status;
    std::string err;
};

class ToolTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = testing::TempDir() + "amxml-tool-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    /// Writes a file of the test's directory; gives its path quoted for the shell.
    std::string write(const std::string& name, const std::string& content) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << content;
        return "'" + dir_ + "/" + name + "'";
    }

    /// Runs `amxml args` (quoted by the caller), its standard input from the file `input` if
    /// given, or from the shell command `input` when that ends in "|".
    Outcome run(const std::string& args, const std::string& input = "") {
        std::string command = std::string(AMXML_TOOL) + " " + args + " 2>'" + dir_ + "/err'";
        if (endsWith(input, "|"))
            command = input + " " + command;
        else if (!input.empty())
            command += " <" + input;
        Outcome r = shell(command);
        r.err = readFile(dir_ + "/err");
        return r;
    }

    std::string dir_;
};

}  // namespace amxml_test

#endif
