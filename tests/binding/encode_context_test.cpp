#include <gtest/gtest.h>

#include "binding/vocabulary.h"
#include "support/test_support.h"

using namespace amxml_test;
using namespace vocabulary;

namespace {

const XMLCh S[] = u"S";
const XMLCh U[] = u"U";

// Records "p" for each prepare and its name for each run. Made from "name covered anchor
// limit tag follows", one node letter (or "-" for none) each.
struct Recorder : EncodeContext::Callback {
    Recorder(std::string& log, const std::string& f, const std::function<DOMNode*(char)>& node)
        : log_(log), name_(f[0]) {
        covered_.assign(f[2] != '-', node(f[2])), anchor_ = node(f[4]), limit_ = node(f[6]);
        tag_ = node(f[8]), follows_.assign(f[10] != '-', node(f[10]));
    }
    void prepare() override { log_ += 'p'; }
    void run() override { log_ += name_; }
    std::string& log_;
    char name_;
};

}  // namespace

// An element (or attribute) {ns}n made on <r>, "S" preferring "s".
TEST(EncodeContext, ChoosesPrefixesAndDeclaresThemOnlyWhereNeeded) {
    const std::tuple<const char*, bool, const XMLCh*, const char*> kCases[] = {
        {"<s:r xmlns:s='o'/>", 0, S, "<s:r xmlns:s=\"o\"><s:n xmlns:s=\"S\" /></s:r>"},
        {"<r/>", 0, U, "<r><n xmlns=\"U\" /></r>"},
        {"<r xmlns='U'/>", 0, U, "<r xmlns=\"U\"><n /></r>"},
        {"<r xmlns='U'/>", 0, nullptr, "<r xmlns=\"U\"><n xmlns=\"\" /></r>"},
        {"<r/>", 1, U, "<r x:n=\"\" xmlns:x=\"U\" />"},
        {"<r xmlns:x='U'/>", 1, U, "<r x:n=\"\" xmlns:x=\"U\" />"},
        {"<r xmlns:x='o'/>", 1, U, "<r x0:n=\"\" xmlns:x=\"o\" xmlns:x0=\"U\" />"},
        {"<x:r xmlns:x='o' xmlns:x0='p'/>", 1, U,
         "<x:r x1:n=\"\" xmlns:x=\"o\" xmlns:x0=\"p\" xmlns:x1=\"U\" />"},
        {"<s:r xmlns:s='o'/>", 1, S, "<s:r x0:n=\"\" xmlns:s=\"o\" xmlns:x0=\"S\" />"},
        {"<p xmlns:x='U'><r/></p>", 1, U, "<p xmlns:x=\"U\"><r x:n=\"\" /></p>"},
        {"<p xmlns:x='o'><r/></p>", 1, U, "<p xmlns:x=\"o\"><r x:n=\"\" xmlns:x=\"U\" /></p>"},
    };
    for (const auto& [xml, attribute, ns, expected] : kCases) {
        DocumentPtr d = parse(xml);
        EncodeContext context;
        context.namespacePrefix(S, u"s");
        attribute ? (void)context.createAttribute(element(d, u"r"), ns, u"n")
                  : (void)context.createElement(element(d, u"r"), nullptr, ns, u"n");
        EXPECT_EQ(expected, text(d->getDocumentElement())) << xml;
    }
}

// The layout around the alphabet, which Xerces-C's encoder checks: bytes, line length,
// indentation base and step, and the expected text made from the peer's.
TEST(EncodeContext, LaysOutBase64InIndentedLines) {
    typedef const std::string& P;
    const std::tuple<unsigned, unsigned, int, int, std::function<std::string(P)>> kCases[] = {
        {3, 0, -1, 0, [](P p) { return "\n" + p + "\n"; }},
        {0, 0, -1, 0, [](P) { return ""; }},
        {60, 76, 4, 2,
         [](P p) { return "\n      " + p.substr(0, 76) + "\n      " + p.substr(76) + "\n    "; }},
        {60, 76, -1, 0, [](P p) { return "\n" + p.substr(0, 76) + "\n" + p.substr(76) + "\n"; }},
        {60, 76, 4, -6, [](P p) { return p; }},
        {55, 70, 0, 2, [](P p) { return "\n  " + p.substr(0, 72) + "\n  " + p.substr(72) + "\n"; }},
        {26, 76, 0, 2, [](P p) { return p; }},
        {28, 76, 0, 2, [](P p) { return "\n  " + p + "\n"; }},
    };
    std::basic_string<XMLByte> data;
    for (int i = 0; i < 60; ++i) data += static_cast<XMLByte>(i * 37 + 11);
    xercesc::MemoryManager* m = xercesc::XMLPlatformUtils::fgMemoryManager;
    DocumentPtr d = parse("<d/>");
    for (const auto& [bytes, lineLength, base, step, expected] : kCases) {
        XMLSize_t n = 0;
        XMLByte* peer = xercesc::Base64::encode(data.data(), bytes, &n, m);
        std::string p(reinterpret_cast<char*>(peer), n);
        m->deallocate(peer);
        p.erase(std::remove(p.begin(), p.end(), '\n'), p.end());
        EncodeContext context;
        context.indentation(base, step, false);
        Block block(data.data(), bytes, Block::Reference);
        DOMElement* root = context.createElement(d->getDocumentElement(), nullptr, nullptr, u"r");
        Owned s(context.createBase64String(&block, lineLength, root));
        EXPECT_EQ(widen(expected(p)), u16(s.get())) << bytes;
    }
}

// Elements <r><s><t>x</t></s><u/></r> made in <p>, and <a><b/></a> moved from <p> into <u> by an
// unknown structure, laid out with indentation strings longer than the constants (a longer one
// after a shorter one, from the same buffer) and the root inside its parent, but not inside <a>
// or the text-only <t>; callbacks in the order that covered subtrees, limits and follows lists
// decide, of two that follow each other the earlier first. Finishing at a node other than the
// root does nothing.
TEST(EncodeContext, FinishesRunsWithLayoutAndCallbacksInDependencyOrder) {
    const std::pair<std::vector<std::string>, const char*> kCases[] = {
        {{"a s u s r -", "b t t - t -"}, "ppab no exception"},
        {{"a s u - r -", "b t t - t r"}, "ppab no exception"},
        {{"a s u - r t", "b t t - t r"}, "ppab no exception"},
        {{"a s u - r -", "b t t - t -", "c - t - u -"}, "pppcba no exception"},
        {{"a s u - r u", "b t t - t r", "c u r - u t"}, "ppp 6: Dependency loop in callbacks"},
    };
    const std::string i(15, ' ');
    for (const auto& c : kCases) {
        DocumentPtr d = parse("<p><a><b/></a></p>");
        DOMElement* p = d->getDocumentElement();
        EncodeContext context;
        context.indentation(17, 2, true);
        DOMElement* r = context.createElement(p, nullptr, nullptr, u"r");
        DOMElement* s = context.createElement(r, nullptr, nullptr, u"s");
        DOMNode* nodes[] = {r, s, context.createElement(s, nullptr, nullptr, u"t"),
                            context.createElement(r, nullptr, nullptr, u"u")};
        nodes[2]->appendChild(d->createTextNode(u"x"));
        UnknownStructure(p->getFirstChild(), false).encode(nodes[3], nullptr, &context);
        auto node = [&](char x) { return x == '-' ? nullptr : nodes[std::string("rstu").find(x)]; };
        std::string log;
        for (const std::string& f : c.first) context.callback(new Recorder(log, f, node));
        context.callback(s);
        const std::string f = thrown([&] { context.callback(r); });
        EXPECT_EQ(c.second, log + " " + f);
        EXPECT_EQ("<p>\n  " + i + "<r>\n    " + i + "<s>\n      " + i + "<t>x</t>\n    " + i +
                      "</s>\n    " + i + "<u>\n      " + i + "<a><b /></a>\n    " + i + "</u>\n  " +
                      i + "</r>\n" + i + "</p>",
                  text(p));
    }
}
