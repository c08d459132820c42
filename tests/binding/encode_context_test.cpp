#include <gtest/gtest.h>

#include <algorithm>

#include "binding/vocabulary.h"

using namespace vocabulary;

namespace {

const XMLCh S[] = u"urn:s";
const XMLCh U[] = u"urn:u";

// Records "p" for each prepare and its name for each run.
class Recorder : public EncodeContext::Callback {
public:
    Recorder(std::string& log, char name, std::vector<DOMNode*> covered, DOMNode* anchor,
             DOMNode* limit, DOMNode* tag, std::vector<DOMNode*> follows)
        : log_(log), name_(name) {
        covered_ = covered, anchor_ = anchor, limit_ = limit, tag_ = tag, follows_ = follows;
    }
    void prepare() override { log_ += 'p'; }
    void run() override { log_ += name_; }

private:
    std::string& log_;
    char name_;
};

}  // namespace

// An element (or attribute) {ns}n made on the innermost first element, "urn:s" preferring "s".
TEST(EncodeContext, ChoosesPrefixesAndDeclaresThemOnlyWhereNeeded) {
    const struct {
        const char* xml;
        bool attribute;
        const XMLCh* ns;
        const char* expected;
    } kCases[] = {
        {"<r/>", 0, S, "<r><s:n xmlns:s=\"urn:s\" /></r>"},
        {"<r xmlns:s='urn:s'/>", 0, S, "<r xmlns:s=\"urn:s\"><s:n /></r>"},
        {"<s:r xmlns:s='urn:o'/>", 0, S, "<s:r xmlns:s=\"urn:o\"><s:n xmlns:s=\"urn:s\" /></s:r>"},
        {"<r/>", 0, U, "<r><n xmlns=\"urn:u\" /></r>"},
        {"<r xmlns='urn:u'/>", 0, U, "<r xmlns=\"urn:u\"><n /></r>"},
        {"<r xmlns='urn:u'/>", 0, nullptr, "<r xmlns=\"urn:u\"><n xmlns=\"\" /></r>"},
        {"<r/>", 0, nullptr, "<r><n /></r>"},
        {"<r/>", 1, nullptr, "<r n=\"\" />"},
        {"<r/>", 1, U, "<r x:n=\"\" xmlns:x=\"urn:u\" />"},
        {"<r/>", 1, S, "<r s:n=\"\" xmlns:s=\"urn:s\" />"},
        {"<r xmlns:x='urn:u'/>", 1, U, "<r x:n=\"\" xmlns:x=\"urn:u\" />"},
        {"<r xmlns:x='urn:o'/>", 1, U, "<r x0:n=\"\" xmlns:x=\"urn:o\" xmlns:x0=\"urn:u\" />"},
        {"<x:r xmlns:x='urn:o' xmlns:x0='urn:p'/>", 1, U,
         "<x:r x1:n=\"\" xmlns:x=\"urn:o\" xmlns:x0=\"urn:p\" xmlns:x1=\"urn:u\" />"},
        {"<s:r xmlns:s='urn:o'/>", 1, S, "<s:r x0:n=\"\" xmlns:s=\"urn:o\" xmlns:x0=\"urn:s\" />"},
        {"<p xmlns:x='urn:u'><r/></p>", 1, U, "<p xmlns:x=\"urn:u\"><r x:n=\"\" /></p>"},
        {"<p xmlns:x='urn:o'><r/></p>", 1, U,
         "<p xmlns:x=\"urn:o\"><r x:n=\"\" xmlns:x=\"urn:u\" /></p>"},
    };
    for (const auto& c : kCases) {
        DocumentPtr d = parse(c.xml);
        DOMNode* target = d->getDocumentElement();
        while (target->getFirstChild()) target = target->getFirstChild();
        EncodeContext context;
        context.namespacePrefix(S, u"s");
        if (c.attribute) {
            context.createAttribute(static_cast<DOMElement*>(target), c.ns, u"n");
        } else {
            context.createElement(target, nullptr, c.ns, u"n");
        }
        EXPECT_EQ(c.expected, text(d->getDocumentElement())) << c.xml;
    }
}

// The layout around the alphabet, which Xerces-C's encoder checks.
TEST(EncodeContext, LaysOutBase64InIndentedLines) {
    typedef const std::string& P;
    const std::string six(6, ' '), twenty(20, ' ');
    const struct {
        unsigned bytes, lineLength;
        int base, step;
        std::function<std::string(P)> expected;
    } kCases[] = {
        {3, 76, -1, 0, [](P p) { return p; }},
        {3, 0, -1, 0, [](P p) { return "\n" + p + "\n"; }},
        {0, 76, 0, 2, [](P) { return ""; }},
        {0, 0, -1, 0, [](P) { return ""; }},
        {60, 76, 4, 2,
         [&](P p) { return "\n" + six + p.substr(0, 76) + "\n" + six + p.substr(76) + "\n    "; }},
        {60, 76, -1, 0, [](P p) { return "\n" + p.substr(0, 76) + "\n" + p.substr(76) + "\n"; }},
        {60, 76, 4, -6, [](P p) { return p; }},
        {55, 70, 0, 2, [](P p) { return "\n  " + p.substr(0, 72) + "\n  " + p.substr(72) + "\n"; }},
        {27, 76, 0, 2, [](P p) { return p; }},
        {28, 76, 0, 2, [](P p) { return "\n  " + p + "\n"; }},
        {1, 4, 18, 2, [&](P p) { return "\n" + twenty + p + "\n" + twenty.substr(2); }},
    };
    std::string data;
    for (int i = 0; i < 60; ++i) data += static_cast<char>(i * 37 + 11);
    xercesc::MemoryManager* m = xercesc::XMLPlatformUtils::fgMemoryManager;
    for (const auto& c : kCases) {
        DocumentPtr d(DOMUtil::newDocument());
        EncodeContext context;
        context.indentation(c.base, c.step, false);
        DOMElement* root = context.createElement(d.get(), nullptr, nullptr, u"r");
        XMLSize_t n = 0;
        XMLByte* peer =
            xercesc::Base64::encode(reinterpret_cast<const XMLByte*>(data.data()), c.bytes, &n, m);
        std::string p(reinterpret_cast<char*>(peer), n);
        m->deallocate(peer);
        p.erase(std::remove(p.begin(), p.end(), '\n'), p.end());
        Block block(data.data(), c.bytes, Block::Reference);
        OwnedString s(context.createBase64String(&block, c.lineLength, root));
        EXPECT_EQ(widen(c.expected(p)), u16(s.get())) << c.bytes;
    }
    EXPECT_EQ(-1, EncodeContext().indentation(nullptr));
}

// Whitespace for created elements only, strings longer than the constants, and the root laid
// out inside its parent.
TEST(EncodeContext, PrettyPrintsCreatedElements) {
    DocumentPtr d = parse("<p><a><b/></a></p>");
    EncodeContext context;
    context.indentation(17, 2, true);
    DOMElement* r = context.createElement(d->getDocumentElement(), nullptr, nullptr, u"r");
    DOMElement* c = context.createElement(r, nullptr, nullptr, u"c");
    context.createElement(c, nullptr, nullptr, u"e");
    context.createElement(r, nullptr, nullptr, u"t")->appendChild(d->createTextNode(u"x"));
    c->appendChild(d->importNode(d->getDocumentElement()->getFirstChild(), true));
    context.createElement(context.createElement(r, nullptr, nullptr, u"g"), nullptr, nullptr, u"h");
    context.callback(r);
    const std::string s(17, ' ');
    EXPECT_EQ("<p><a><b /></a>\n" + s + "<r>\n" + s + "  <c>\n" + s + "    <e />\n" + s +
                  "    <a><b /></a>\n" + s + "  </c>\n" + s + "  <t>x</t>\n" + s + "  <g>\n" + s +
                  "    <h />\n" + s + "  </g>\n" + s + "</r>\n" + s.substr(2) + "</p>",
              text(d->getDocumentElement()));
}

// Callbacks on <r><s><t/></s><u/></r>: covered subtrees, limits and follows lists decide.
TEST(EncodeContext, RunsCallbacksInDependencyOrder) {
    const std::pair<std::vector<std::string>, const char*> kCases[] = {
        // name, covered, anchor, limit, tag, follows
        {{"a s u - r -", "b - t - s -"}, "ppba"},
        {{"a s u - r -", "b t t - t -"}, "ppba"},
        {{"a s u s r -", "b t t - t -"}, "ppab"},
        {{"a s u - r -", "b t t - t r"}, "ppab"},
        {{"a s u - r t", "b t t - t r"}, "ppab"},
        {{"b t t - t r", "a s u - r t"}, "ppba"},
        {{"a s u - r -", "b t t - t -", "c - t - u -"}, "pppcba"},
        {{"a s u - r u", "b t t - t r", "c u r - u t"}, "ppp!"},
    };
    for (const auto& c : kCases) {
        DocumentPtr d(DOMUtil::newDocument());
        EncodeContext context;
        DOMElement* r = context.createElement(d.get(), nullptr, nullptr, u"r");
        DOMElement* s = context.createElement(r, nullptr, nullptr, u"s");
        DOMNode* nodes[] = {r, s, context.createElement(s, nullptr, nullptr, u"t"),
                            context.createElement(r, nullptr, nullptr, u"u")};
        auto node = [&](char x) { return x == '-' ? nullptr : nodes[std::string("rstu").find(x)]; };
        auto list = [&](char x) { return std::vector<DOMNode*>(x != '-', node(x)); };
        std::string log;
        for (const std::string& f : c.first) {
            context.callback(new Recorder(log, f[0], list(f[2]), node(f[4]), node(f[6]), node(f[8]),
                                          list(f[10])));
        }
        context.callback(s);
        const std::string f = failure([&] { context.callback(r); });
        if (f != "none") log += '!';
        EXPECT_EQ(f == "none" ? f : "Ambrite::XML::Exception 6: Dependency loop in callbacks", f);
        EXPECT_EQ(c.second, log);
    }
}
