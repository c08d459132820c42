// A fixture that runs the amxml tool as a subprocess on files in a directory of its own.
#ifndef AMBRITE_XML_TESTS_TOOL_FIXTURE_H
#define AMBRITE_XML_TESTS_TOOL_FIXTURE_H

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace amxml_test {

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

}  // namespace amxml_test

#endif
