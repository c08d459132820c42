// How amxml refuses hostile input: every failure on one line of standard error whatever the
// input repeats, the parse limits as options, and a run path through which no library from the
// current directory is loaded.
#include "support/tool.h"

using namespace amxml_test;

typedef ToolTest AmxmlRefusal;

// Messages repeat text from the document or the command line; their control characters are
// escaped, so that no input can forge a second line in a log. Everything else stays as it was:
// the library prints a code unit below 256 as that byte.
TEST_F(AmxmlRefusal, EveryFailureIsOneLine) {
    const std::string forged = write(
        "forged.xml",
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"x\nAmbrite::XML::Exception 0: forged\x01\t\x7F\xC2\x85"
        "\xC3\xA9\">]><r>&e;</r>");
    const std::string plain = write("plain.xml", "<r/>");
    const Expected kCases[] = {
        {"c14n " + forged, 1,
         "Ambrite::XML::Exception 13050: Unable to resolve entity: x\\nAmbrite::XML::Exception 0: "
         "forged\\x01\\t\\x7F\\x85\xE9\n"},
        {"c14n '" + dir_ + "/a\nb\r\xC2\x9B\xC3\xA9.xml'", 1,
         "amxml c14n: cannot open " + dir_ +
             "/a\\nb\\r\\x9B\xC3\xA9.xml: No such file or directory\n"},
        {"c14n --apex '/1\n2' " + plain, 2,
         "amxml c14n: invalid locator '/1\\n2': Unexpected token (expecting none): 2\nusage: amxml "
         "c14n"},
        {"serialize --max-depth '\x1B[2J'", 2,
         "amxml serialize: invalid depth '\\x1B[2J' (expecting a positive number)\nusage:"},
        {"'fake\nline'", 2, "amxml: unknown command 'fake\\nline'\nusage: amxml COMMAND"},
    };
    for (const Expected& c : kCases) {
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
// that raises them. A DOM of many small elements takes far more than the bytes it is made from:
// the streaming path holds none of it and passes where the DOM path fails the bound.
TEST_F(AmxmlRefusal, ParseLimitsAreOptions) {
    const std::string deep = write("deep.xml", repeat("<a>", 10001) + repeat("</a>", 10001));
    const std::string wide = write("wide.xml", "<r>" + repeat("<c/>", 400000) + "</r>");
    std::string ids = "<r>";  // the streaming path holds ID values as a DOM would
    for (int i = 0; i < 400000; ++i) ids += "<c i='" + std::to_string(i) + "'/>";
    const std::string kDepth = "offset -1: Nesting depth limit exceeded (amxml --max-depth)\n";
    const std::string kMemory =
        "offset -1: Parse memory limit exceeded: more than 16777216 bytes (amxml --max-memory)\n";
    const Expected kCases[] = {
        {"c14n " + deep, 1, kDepth},
        {"serialize " + deep, 1, kDepth},
        {"c14n --max-depth 10001 " + deep, 0, ""},
        {"serialize --max-depth=10001 " + deep, 0, ""},
        {"c14n --max-depth 10000 " + deep, 1, kDepth},
        {"c14n --dom --max-memory 16M " + wide, 1, kMemory},
        {"serialize --max-memory=16384K " + wide, 1, kMemory},
        {"c14n --max-memory 16M " + wide, 0, ""},
        {"c14n --id-attr i --max-memory 16M " + write("ids.xml", ids + "</r>"), 1, kMemory},
    };
    for (const Expected& c : kCases) {
        SCOPED_TRACE(c.args);
        Outcome r = run(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_TRUE(endsWith(r.err, c.err)) << r.err;
        if (c.status == 0) {
            EXPECT_EQ("", r.err);
        }
    }
    EXPECT_EQ("<r>" + repeat("<c></c>", 400000) + "</r>", run("c14n --max-memory 16M " + wide).out);
    // An endless input stops at the bound when the document is built in memory, and on the
    // streaming path when it never leaves one attribute value, which that path holds too.
    const std::pair<std::string, std::string> kEndless[] = {
        {"c14n --dom --max-memory 32M -", "(printf '<r>'; yes '<!---->') |"},
        {"c14n --max-memory 32M -", "(printf \"<r a='\"; yes x | tr -d '\\n') |"}};
    for (const auto& [args, input] : kEndless) {
        Outcome r = run(args, input);
        EXPECT_EQ(1, r.status);
        EXPECT_TRUE(endsWith(r.err,
                             "Parse memory limit exceeded: more than 33554432 bytes "
                             "(amxml --max-memory)\n"))
            << r.err;
    }

    for (const char* bad : {"--max-depth 0", "--max-depth -1", "--max-depth 4294967296",
                            "--max-depth 1k", "--max-memory 0", "--max-memory 1x", "--max-memory G",
                            "--max-memory 17179869184G", "--max-memory"}) {
        SCOPED_TRACE(bad);
        Outcome r = run(std::string("c14n ") + bad + " " + deep);
        EXPECT_EQ(2, r.status);
        EXPECT_EQ(0u, r.err.find("amxml c14n: ")) << r.err;
    }
    EXPECT_NE(std::string::npos, run("c14n --help").out.find("default 2G"));
}

// Streaming and --dom give the same status and one-line failure for what does not depend on the
// memory a DOM takes, and the same output when they succeed.
TEST_F(AmxmlRefusal, BothPathsRefuseAlike) {
    const std::string deep = write("deep.xml", repeat("<a>", 10001) + repeat("</a>", 10001));
    const std::string big = write("big.xml", "<r a='" + std::string(20 << 20, 'x') + "'/>");
    for (const std::string& args :
         {deep, "--max-depth 10001 " + deep, "--max-depth 9 " + deep,
          write("utf7.xml", "<?xml version='1.0' encoding='UTF-7'?><a>+ADw-b+AD4-</a>"),
          write("cut.xml", "<a>x</a>\xE2\x82"),
          write("xml.xml",
                "<!DOCTYPE r [<!ATTLIST r xmlns:xml CDATA 'http://evil.example/ns'>]><r/>"),
          write("v11.xml", "<?xml version='1.1'?><a b='&#x1;'/>"), "--max-memory 16M " + big,
          "--max-memory 64M " + big}) {
        SCOPED_TRACE(args);
        const Outcome streamed = run("c14n " + args), built = run("c14n --dom " + args);
        EXPECT_EQ(built.status, streamed.status);
        EXPECT_EQ(built.err, streamed.err);
        if (built.status == 0) {
            EXPECT_EQ(built.out, streamed.out);
        }
    }
}

// An empty entry in a run path stands for the directory a program is started from.
TEST_F(AmxmlRefusal, RunPathHasNoEmptyEntry) {
    const std::string dynamic = shell("readelf -d '" AMXML_TOOL "'").out;
    std::size_t paths = 0;
    for (std::size_t at = dynamic.find("path: ["); at != std::string::npos;
         at = dynamic.find("path: [", at + 1), ++paths) {
        const std::string path = dynamic.substr(at + 7, dynamic.find(']', at) - at - 7);
        for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
            end = path.find(':', start);
            const std::string entry = path.substr(start, end - start);
            EXPECT_TRUE(entry.rfind("/", 0) == 0 || entry.rfind("$ORIGIN", 0) == 0) << path;
        }
    }
    EXPECT_NE(0u, paths) << dynamic;
    // The tool still finds its library when started elsewhere.
    EXPECT_EQ(0, run("--help").status);
}
