// How amxml refuses hostile input: every failure on one line of standard error whatever the
// input repeats, the parse limits as options, XML 1.1 kept as XML 1.1, and a run path through
// which no library from the current directory is loaded.
#include <elf.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class AmxmlRefusal : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = testing::TempDir() + "amxml-refusal-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // The path of a new file in the test's directory.
    std::string write(const std::string& name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        return path;
    }

    // Runs `input | amxml args` through the shell (args quoted by the caller).
    Outcome run(const std::string& args, const std::string& input = "") {
        std::string command = std::string(AMXML_TOOL) + " " + args + " 2>'" + dir_ + "/err'";
        if (!input.empty()) command = input + " | " + command;
        Outcome r;
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

// The run paths (DT_RUNPATH and DT_RPATH) of a 64-bit ELF file.
std::vector<std::string> runPaths(const std::string& path) {
    const std::string image = readFile(path);
    std::vector<std::string> paths;
    if (image.size() < sizeof(Elf64_Ehdr)) return paths;
    const char* base = image.data();
    Elf64_Ehdr header;
    std::memcpy(&header, base, sizeof header);
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        std::memcpy(&sections[i], base + header.e_shoff + i * header.e_shentsize,
                    sizeof(Elf64_Shdr));
    }
    for (const Elf64_Shdr& s : sections) {
        if (s.sh_type != SHT_DYNAMIC) continue;
        const Elf64_Shdr& strings = sections.at(s.sh_link);
        for (std::size_t at = s.sh_offset; at + sizeof(Elf64_Dyn) <= s.sh_offset + s.sh_size;
             at += sizeof(Elf64_Dyn)) {
            Elf64_Dyn entry;
            std::memcpy(&entry, base + at, sizeof entry);
            if (entry.d_tag == DT_NULL) break;
            if (entry.d_tag == DT_RUNPATH || entry.d_tag == DT_RPATH) {
                paths.emplace_back(base + strings.sh_offset + entry.d_un.d_val);
            }
        }
    }
    return paths;
}

}  // namespace

// Messages repeat text from the document or the command line; their control characters are
// escaped, so that no input can forge a second line in a log. Everything else stays as it was:
// the library prints a code unit below 256 as that byte.
TEST_F(AmxmlRefusal, EveryFailureIsOneLine) {
    const std::string forged = write(
        "forged.xml",
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"x\nAmbrite::XML::Exception 0: forged\x01\t\x7F\xC2\x85"
        "\xC3\xA9\">]><r>&e;</r>");
    const std::string plain = write("plain.xml", "<r/>");
    struct Case {
        std::string args;
        int status;
        std::string err;  // the start of standard error
    };
    const Case kCases[] = {
        {"c14n '" + forged + "'", 1,
         "Ambrite::XML::Exception 13050: Unable to resolve entity: x\\nAmbrite::XML::Exception 0: "
         "forged\\x01\\t\\x7F\\x85\xE9\n"},
        {"serialize '" + forged + "'", 1,
         "Ambrite::XML::Exception 13050: Unable to resolve entity: x\\nAmbrite::XML::Exception 0: "
         "forged\\x01\\t\\x7F\\x85\xE9\n"},
        {"c14n '" + dir_ + "/a\nb\r\xC2\x9B\xC3\xA9.xml'", 1,
         "amxml c14n: cannot open " + dir_ +
             "/a\\nb\\r\\x9B\xC3\xA9.xml: No such file or directory\n"},
        {"c14n --apex '/1\n2' '" + plain + "'", 2,
         "amxml c14n: invalid locator '/1\\n2' (expecting /1/2/...)\nusage: amxml c14n"},
        {"serialize --max-depth '\x1B[2J'", 2,
         "amxml serialize: invalid depth '\\x1B[2J' (expecting a positive number)\nusage:"},
        {"'fake\nline'", 2, "amxml: unknown command 'fake\\nline'\nusage: amxml COMMAND"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.args);
        Outcome r = run(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(0u, r.err.find(c.err)) << r.err;
        if (c.status == 1) {
            EXPECT_EQ(c.err, r.err);
        }
    }
}

// The two limits a server sets for its own machine, with the library's message and the option
// that raises them.
TEST_F(AmxmlRefusal, ParseLimitsAreOptions) {
    const std::string deep = write("deep.xml", repeat("<a>", 10001) + repeat("</a>", 10001));
    const std::string wide = write("wide.xml", "<r>" + repeat("<c/>", 400000) + "</r>");
    const std::string kDepth = "offset -1: Nesting depth limit exceeded (amxml --max-depth)\n";
    const std::string kMemory =
        "offset -1: Parse memory limit exceeded: more than 16777216 bytes (amxml --max-memory)\n";
    struct Case {
        std::string args;
        int status;
        std::string errTail;  // the end of standard error
    };
    const Case kCases[] = {
        {"c14n '" + deep + "'", 1, kDepth},
        {"serialize '" + deep + "'", 1, kDepth},
        {"c14n --max-depth 10001 '" + deep + "'", 0, ""},
        {"serialize --max-depth=10001 '" + deep + "'", 0, ""},
        {"c14n --max-depth 10000 '" + deep + "'", 1, kDepth},
        {"c14n --max-memory 16M '" + wide + "'", 1, kMemory},
        {"serialize --max-memory=16384K '" + wide + "'", 1, kMemory},
        {"c14n --max-memory 1G '" + wide + "'", 0, ""},
        {"c14n '" + wide + "'", 0, ""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.args);
        Outcome r = run(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_TRUE(endsWith(r.err, c.errTail)) << r.err;
        if (c.status == 0) {
            EXPECT_EQ("", r.err);
        }
    }
    // An endless input stops at the bound.
    Outcome endless = run("c14n --max-memory 32M -", "(printf '<r>'; yes '<!---->')");
    EXPECT_EQ(1, endless.status);
    EXPECT_TRUE(endsWith(endless.err,
                         "Parse memory limit exceeded: more than 33554432 bytes "
                         "(amxml --max-memory)\n"))
        << endless.err;

    for (const char* bad : {"--max-depth 0", "--max-depth -1", "--max-depth 4294967296",
                            "--max-depth 1k", "--max-memory 0", "--max-memory 1x", "--max-memory G",
                            "--max-memory 17179869184G", "--max-memory"}) {
        SCOPED_TRACE(bad);
        Outcome r = run(std::string("c14n ") + bad + " '" + deep + "'");
        EXPECT_EQ(2, r.status);
        EXPECT_EQ(0u, r.err.find("amxml c14n: ")) << r.err;
    }
    EXPECT_NE(std::string::npos, run("c14n --help").out.find("default 2G"));
}

// XML 1.1 stays XML 1.1 in the serializer's output; canonical XML, which is XML 1.0, refuses
// the C0 controls such a document may hold.
TEST_F(AmxmlRefusal, Xml11ControlsAreReferencedOrRefused) {
    const std::string in = write("v11.xml", "<?xml version=\"1.1\"?><a b='&#x1;'>&#x85;&#x1F;</a>");
    Outcome s = run("serialize '" + in + "'");
    EXPECT_EQ(0, s.status);
    EXPECT_EQ("<?xml version=\"1.1\" encoding=\"UTF-8\"?>\n<a b=\"&#x1;\">&#x85;&#x1F;</a>\n",
              s.out);
    Outcome c = run("c14n '" + in + "'");
    EXPECT_EQ(1, c.status);
    EXPECT_EQ("Ambrite::XML::Exception 13006: Uncanonicalizable character: U+0001\n", c.err);
}

// An empty entry in a run path stands for the directory a program is started from.
TEST_F(AmxmlRefusal, RunPathHasNoEmptyEntry) {
    const std::vector<std::string> paths = runPaths(AMXML_TOOL);
    ASSERT_FALSE(paths.empty());
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = path.find(':', start);
            const std::string entry = path.substr(start, end - start);
            EXPECT_TRUE(entry.rfind("/", 0) == 0 || entry.rfind("$ORIGIN", 0) == 0) << entry;
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    // The tool still finds its library when started elsewhere.
    EXPECT_EQ(0, run("--help").status);
}
