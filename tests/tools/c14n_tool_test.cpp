// amxml c14n choosing its subset by same-document XPointers, on the streaming path and on the
// DOM path (--dom, and the pointers only a DOM resolves): the same bytes and the same failures.
#include "support/tool.h"

using namespace amxml_test;
using namespace Ambrite::XML::C14n;

namespace {

typedef ToolTest C14nTool;

// IDs typed by the DTD (one inside an entity reference), untyped IDs (one inside the entity
// reference, whose elements the DOM holds read-only) and a namespaced Id.
const char kDocument[] =
    "<!DOCTYPE r [<!ATTLIST s Id ID #IMPLIED><!ATTLIST c Id ID #IMPLIED>"
    "<!ENTITY e '<c Id=\"y\">2</c><c ID=\"q\"/>'>]><r xmlns:p='urn:p'><s Id='x'><c "
    "Id='z'>1</c><p:b/>&e;</s>"
    "<k ID='k1'><p:b n='2'/></k><w:t xmlns:w='urn:w' w:Id='x'/></r>";

}  // namespace

TEST_F(C14nTool, PointersChooseTheSameBytesOnBothPaths) {
    const std::string in = " " + write("in.xml", kDocument);
    // Two carriers of one ID value; one element carrying a value in two ID attributes is none.
    const std::string dup =
        " " + write("dup.xml",
                    "<!DOCTYPE r [<!ATTLIST a i ID #IMPLIED>]><r><a i='f' ID='f'/>"
                    "<b ID='e'/><a i='d'/><b ID='e'/><a i='d'/></r>");
    const std::string s = "<s xmlns:p=\"urn:p\" Id=\"x\"><c Id=\"z\">1</c><p:b></p:b>";
    const std::string twice = "Ambrite::XML::Exception 13006: More than one element with ID ";
    // clang-format off
    const struct { std::string args; int status; std::string out, err; } kCases[] = {
        {"--apex x" + in, 0, s + "<c Id=\"y\">2</c><c ID=\"q\"></c></s>", ""}, {"--apex '#x'" + in, 0, s + "<c Id=\"y\">2</c><c ID=\"q\"></c></s>", ""},
        {"--apex /1/1" + in, 0, s + "<c Id=\"y\">2</c><c ID=\"q\"></c></s>", ""},
        {"--apex /1/1/4" + in, 0, "<c xmlns:p=\"urn:p\" ID=\"q\"></c>", ""},  // in the entity reference
        {"--apex '#xpointer(id(\"x\"))'" + in, 0, s + "<c Id=\"y\">2</c><c ID=\"q\"></c></s>", ""},
        // The first node in document order, whatever order the pointer selects them in.
        {"--apex 'xpointer(id(\"y z\"))'" + in, 0, "<c xmlns:p=\"urn:p\" Id=\"z\">1</c>", ""},
        {"--apex 'xmlns(q=urn:p)xpointer(//q:b)'" + in, 0, "<p:b xmlns:p=\"urn:p\"></p:b>", ""},
        {"--apex x --exclude 'xpointer(//c)'" + in, 0, "<s xmlns:p=\"urn:p\" Id=\"x\"><p:b></p:b></s>", ""},
        {"--apex / --exclude x/2 --exclude x/1 --exclude 'foo(x)xpointer(/r/*[position() > 1])'" + in, 0,
            "<r xmlns:p=\"urn:p\"><s Id=\"x\"><c Id=\"y\">2</c><c ID=\"q\"></c></s></r>", ""},
        {"--apex 'xpointer(//@n)'" + in, 0, " n=\"2\"", ""},
        {"--id-attr ID --apex k1 --exclude /1/2/1" + in, 0, "<k xmlns:p=\"urn:p\" ID=\"k1\"></k>", ""},
        {"--id-attr ID --apex 'xpointer(id(\"k1\")/*)'" + in, 0, "<p:b xmlns:p=\"urn:p\" n=\"2\"></p:b>", ""},
        {"--id-attr ID --apex q" + in, 0, "<c xmlns:p=\"urn:p\" ID=\"q\"></c>", ""},
        {"--id-attr ID --apex 'xpointer(id(\"q\"))'" + in, 0, "<c xmlns:p=\"urn:p\" ID=\"q\"></c>", ""},
        {"--apex k1" + in, 1, "", "amxml c14n: no element at k1\n"}, {"--exclude /1/4" + in, 1, "", "amxml c14n: no element at /1/4\n"},
        {"--apex x --exclude 'xpointer(//none)'" + in, 1, "", "amxml c14n: no element at xpointer(//none)\n"},
        {"--apex 'xpointer(//q:b)'" + in, 1, "", "Ambrite::XML::Exception 14: Unbound namespace prefix: q\n"},
        // An ID value two elements carry fails, whether or not a pointer seeks it, wherever it is.
        {"--id-attr '{urn:w}Id' --apex k1" + in, 1, "", twice + "x\n"}, {dup, 1, "", twice + "d\n"},
        {"--id-attr ID" + dup, 1, "", twice + "e\n"}, {"--id-attr ID --apex /1/1 --exclude-signatures" + dup, 1, "", twice + "e\n"},
        {"--apex 1/2" + in, 2, "", "amxml c14n: invalid locator '1/2': Unexpected token (expecting '/'): 1\nusage:"},
        {"--exclude '#'" + in, 2, "", "amxml c14n: invalid locator '#': Unexpected token (expecting '/'): Null\n"},
        {"--apex 'xpointer(/'" + in, 2, "", "amxml c14n: invalid locator 'xpointer(/': Unexpected token (expecting ')'): Null\n"},
        {"--apex /1 --apex /1/2" + in, 2, "", "amxml c14n: only one --apex may be given\n"}};
    // clang-format on
    for (const auto& c : kCases) {
        for (const std::string path : {"", "--dom "}) {
            SCOPED_TRACE(path + c.args);
            const Outcome r = run("c14n " + path + c.args);
            EXPECT_EQ(c.status, r.status);
            if (c.status != 1) {
                EXPECT_EQ(c.out, r.out);
            }
            EXPECT_EQ(0u, r.err.find(c.err)) << r.err;
            if (c.status != 2) {
                EXPECT_EQ(c.err, r.err);
            }
        }
    }
}

// The streaming canonicalizer's check of every ID value, which this tool asks for.
TEST(C14nToolLibrary, UniqueIdsSurviveFailedAllocations) {
    const std::string xml = "<!DOCTYPE r [<!ATTLIST a i ID #IMPLIED>]><r><a i='x'/><b i='x'/></r>";
    for (bool named : {false, true}) {
        EXPECT_EQ(named ? "13006: More than one element with ID x" : "no exception",
                  sweepFailing(13006, [&] {
                      DocumentSubset subset;
                      if (named) subset.idAttribute(nullptr, u"i");
                      BlockSource source(new Block(xml.data(), unsigned(xml.size()), Block::Copy));
                      BufferSink sink;
                      StreamCanonicalizer::canonicalize(&source, &sink, DOMCanonicalizer::CANONICAL,
                                                        nullptr, &subset, DOMUtil::Limits(), true);
                  }));
    }
}
