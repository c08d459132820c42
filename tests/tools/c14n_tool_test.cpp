// amxml c14n, run as a subprocess: the interface other tools drive.
#include "tests/c14n/manifest.h"
#include "tests/tools/tool_fixture.h"

using namespace amxml_test;

namespace {

const char kSigned[] =
    "<?pi x?><r xmlns:p=\"http://p\" xmlns:u=\"http://u\" xml:lang=\"en\"><a/>"
    "<s Id=\"signed\" z=\"1\" p:y=\"2\"><p:v>1</p:v><!--c--><sig><d/></sig><t>x</t><sig/></s></r>";

std::string shellQuoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

TEST_F(AmxmlTool, C14nMatchesTheRecommendationsExamples) {
    for (const ManifestCase& c : readManifest()) {
        SCOPED_TRACE(c.id);
        std::string options = c.modeName == "c14n-comments" ? "--comments" : "";
        Outcome r = run("c14n " + options + " " + shellQuoted(c.input));
        if (c.expectError) {
            EXPECT_EQ(1, r.status);
            EXPECT_EQ(0u, r.err.find("Ambrite::XML::Exception 13050: Unable to resolve entity: "))
                << r.err;
            continue;
        }
        EXPECT_EQ(0, r.status) << r.err;
        std::string xerces = readFile(c.expectedXerces);
        if (!xerces.empty() && r.out == xerces) continue;
        EXPECT_EQ(readFile(c.expected), r.out);
    }
}

TEST_F(AmxmlTool, C14nOfWholeDocumentsAndOfApexesMinusExcludedSubtrees) {
    std::string in = write("in.xml", kSigned);
    struct Case {
        std::string options;
        std::string expected;
    };
    const Case kCases[] = {
        {"",
         "<?pi x?>\n<r xmlns:p=\"http://p\" xmlns:u=\"http://u\" xml:lang=\"en\"><a></a>"
         "<s Id=\"signed\" z=\"1\" p:y=\"2\"><p:v>1</p:v><sig><d></d></sig><t>x</t><sig></sig></s></r>"},
        {"--apex /1/2 --exclude /1/2/2 --exclude=/1/2/4",
         "<s xmlns:p=\"http://p\" xmlns:u=\"http://u\" Id=\"signed\" z=\"1\" p:y=\"2\" "
         "xml:lang=\"en\"><p:v>1</p:v><t>x</t></s>"},
        {"--comments --apex=/1/2 --exclude /1/2/2",
         "<s xmlns:p=\"http://p\" xmlns:u=\"http://u\" Id=\"signed\" z=\"1\" p:y=\"2\" "
         "xml:lang=\"en\"><p:v>1</p:v><!--c--><t>x</t><sig></sig></s>"},
        {"--exclusive --apex /1/2 --exclude /1/2/2",
         "<s xmlns:p=\"http://p\" Id=\"signed\" z=\"1\" p:y=\"2\"><p:v>1</p:v><t>x</t><sig></sig></s>"},
        {"--exclusive --prefixes 'u #default' --apex /1/2/1",
         "<p:v xmlns:p=\"http://p\" xmlns:u=\"http://u\">1</p:v>"},
        {"--exclusive --comments --exclude /1/2", "<?pi x?>\n<r xml:lang=\"en\"><a></a></r>"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.options);
        Outcome r = run("c14n " + c.options + " " + shellQuoted(in));
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(c.expected, r.out);
        EXPECT_EQ("", r.err);
    }
    // Standard input, explicitly and by default.
    EXPECT_EQ("<s xmlns:p=\"http://p\" Id=\"signed\" z=\"1\" p:y=\"2\"><p:v>1</p:v></s>",
              run("c14n --exclusive --apex /1/2 --exclude /1/2/2 --exclude /1/2/3 --exclude /1/2/4 -",
                  in)
                  .out);
    EXPECT_EQ("<p:v xmlns:p=\"http://p\">1</p:v>", run("c14n --exclusive --apex /1/2/1", in).out);
}

TEST_F(AmxmlTool, C14nFailuresAndUsageErrors) {
    std::string in = write("in.xml", kSigned);
    struct Case {
        std::string args;
        int status;
        std::string errStart;
    };
    const Case kCases[] = {
        {"c14n --apex 1/2 " + shellQuoted(in), 2,
         "amxml c14n: invalid locator '1/2' (expecting /1/2/...)\nusage: amxml c14n"},
        {"c14n --apex /1/0 " + shellQuoted(in), 2, "amxml c14n: invalid locator '/1/0'"},
        {"c14n --exclude /1//2 " + shellQuoted(in), 2, "amxml c14n: invalid locator '/1//2'"},
        {"c14n --exclude /1/x " + shellQuoted(in), 2, "amxml c14n: invalid locator '/1/x'"},
        {"c14n --apex /1 --apex /1/2 " + shellQuoted(in), 2, "amxml c14n: only one --apex may be given"},
        {"c14n --apex", 2, "amxml c14n: option --apex needs a value"},
        {"c14n --pretty " + shellQuoted(in), 2, "amxml c14n: unknown option '--pretty'"},
        {"c14n --apex /1/9 " + shellQuoted(in), 1, "amxml c14n: no element at /1/9\n"},
        {"c14n --exclude /2 " + shellQuoted(in), 1, "amxml c14n: no element at /2\n"},
        {"c14n " + shellQuoted(write("bad.xml", "<r xmlns=\"rel\"/>")), 1,
         "Ambrite::XML::Exception 13006: Invalid relative namespace URI: xmlns=\"rel\"\n"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.args);
        Outcome r = run(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(0u, r.err.find(c.errStart)) << r.err;
    }
    Outcome help = run("c14n --help");
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("usage: amxml c14n [--comments] [--exclusive] [--prefixes LIST]"));
}
