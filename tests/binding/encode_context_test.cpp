#include <gtest/gtest.h>

#include <algorithm>

#include "binding/vocabulary.h"

using namespace vocabulary;

namespace {

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

// The element or attribute {ns}n is made on the innermost first element of the document.
TEST(EncodeContext, ChoosesPrefixesAndDeclaresThemOnlyWhereNeeded) {
    const struct {
        const char* xml;
        bool attribute;
        const XMLCh* ns;
        const char* expected;
    } kCases[] = {
        {"<r/>", false, kDs, "<r><ds:n xmlns:ds=\"urn:example:sig\" /></r>"},
        {"<r xmlns:ds='urn:example:sig'/>", false, kDs,
         "<r xmlns:ds=\"urn:example:sig\"><ds:n /></r>"},
        {"<ds:r xmlns:ds='urn:o'/>", false, kDs,
         "<ds:r xmlns:ds=\"urn:o\"><ds:n xmlns:ds=\"urn:example:sig\" /></ds:r>"},
        {"<r/>", false, u"urn:u", "<r><n xmlns=\"urn:u\" /></r>"},
        {"<r xmlns='urn:u'/>", false, u"urn:u", "<r xmlns=\"urn:u\"><n /></r>"},
        {"<r xmlns='urn:u'/>", false, nullptr, "<r xmlns=\"urn:u\"><n xmlns=\"\" /></r>"},
        {"<r/>", false, nullptr, "<r><n /></r>"},
        {"<r/>", true, nullptr, "<r n=\"\" />"},
        {"<r/>", true, u"urn:u", "<r x:n=\"\" xmlns:x=\"urn:u\" />"},
        {"<r/>", true, kDs, "<r ds:n=\"\" xmlns:ds=\"urn:example:sig\" />"},
        {"<r xmlns:x='urn:u'/>", true, u"urn:u", "<r x:n=\"\" xmlns:x=\"urn:u\" />"},
        {"<r xmlns:x='urn:o'/>", true, u"urn:u",
         "<r x0:n=\"\" xmlns:x=\"urn:o\" xmlns:x0=\"urn:u\" />"},
        {"<x:r xmlns:x='urn:o' xmlns:x0='urn:p'/>", true, u"urn:u",
         "<x:r x1:n=\"\" xmlns:x=\"urn:o\" xmlns:x0=\"urn:p\" xmlns:x1=\"urn:u\" />"},
        {"<ds:r xmlns:ds='urn:o'/>", true, kDs,
         "<ds:r x0:n=\"\" xmlns:ds=\"urn:o\" xmlns:x0=\"urn:example:sig\" />"},
        {"<p xmlns:x='urn:u'><r/></p>", true, u"urn:u", "<p xmlns:x=\"urn:u\"><r x:n=\"\" /></p>"},
        {"<p xmlns:x='urn:o'><r/></p>", true, u"urn:u",
         "<p xmlns:x=\"urn:o\"><r x:n=\"\" xmlns:x=\"urn:u\" /></p>"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.xml);
        DocumentPtr d = parse(c.xml);
        DOMNode* target = d->getDocumentElement();
        while (target->getFirstChild()) target = target->getFirstChild();
        EncodeContext context;
        context.namespacePrefix(kDs, u"ds");
        if (c.attribute) {
            context.createAttribute(static_cast<DOMElement*>(target), c.ns, u"n");
        } else {
            context.createElement(target, nullptr, c.ns, u"n");
        }
        EXPECT_EQ(c.expected, text(d->getDocumentElement()));
    }
}

// The layout around the alphabet, which Xerces-C's encoder checks.
TEST(EncodeContext, LaysOutBase64InIndentedLines) {
    typedef const std::string& S;
    const struct {
        unsigned bytes, lineLength;
        int base, step;
        std::function<std::string(S)> expected;
    } kCases[] = {
        {3, 76, -1, 0, [](S p) { return p; }},
        {3, 0, -1, 0, [](S p) { return "\n" + p + "\n"; }},
        {0, 76, 0, 2, [](S) { return ""; }},
        {0, 0, -1, 0, [](S) { return ""; }},
        {60, 76, 4, 2,
         [](S p) { return "\n      " + p.substr(0, 76) + "\n      " + p.substr(76) + "\n    "; }},
        {60, 76, -1, 0, [](S p) { return "\n" + p.substr(0, 76) + "\n" + p.substr(76) + "\n"; }},
        {60, 76, 4, -6, [](S p) { return p; }},
        {55, 70, 0, 2, [](S p) { return "\n  " + p.substr(0, 72) + "\n  " + p.substr(72) + "\n"; }},
        {27, 76, 0, 2, [](S p) { return p; }},
        {28, 76, 0, 2, [](S p) { return "\n  " + p + "\n"; }},
        {1, 4, 18, 2,
         [](S p) { return "\n" + std::string(20, ' ') + p + "\n" + std::string(18, ' '); }},
    };
    std::string data;
    for (int i = 0; i < 300; ++i) data += static_cast<char>(i * 37 + 11);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.bytes);
        DocumentPtr d(DOMUtil::newDocument());
        EncodeContext context;
        context.indentation(c.base, c.step, false);
        DOMElement* root = context.createElement(d.get(), nullptr, nullptr, u"r");
        XMLSize_t n = 0;
        XMLByte* plain =
            xercesc::Base64::encode(reinterpret_cast<const XMLByte*>(data.data()), c.bytes, &n,
                                    xercesc::XMLPlatformUtils::fgMemoryManager);
        std::string p(reinterpret_cast<char*>(plain), n);
        xercesc::XMLPlatformUtils::fgMemoryManager->deallocate(plain);
        p.erase(std::remove(p.begin(), p.end(), '\n'), p.end());
        Block block(data.data(), c.bytes, Block::Reference);
        OwnedString s(context.createBase64String(&block, c.lineLength, root));
        EXPECT_EQ(widen(c.expected(p)), u16(s.get()));
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
    context.callback(r);
    const std::string s(17, ' ');
    EXPECT_EQ("<p><a><b /></a>\n" + s + "<r>\n" + s + "  <c>\n" + s + "    <e />\n" + s +
                  "    <a><b /></a>\n" + s + "  </c>\n" + s + "  <t>x</t>\n" + s + "</r>\n" +
                  s.substr(2) + "</p>",
              text(d->getDocumentElement()));
}

// Callbacks on <r><s><t/></s><u/></r>: covered subtrees, limits and follows lists decide.
TEST(EncodeContext, RunsCallbacksInDependencyOrder) {
    const struct {
        std::vector<std::string> specs;  // name, covered, anchor, limit, tag, follows
        const char* expected;
    } kCases[] = {
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
        SCOPED_TRACE(c.expected);
        DocumentPtr d(DOMUtil::newDocument());
        EncodeContext context;
        DOMElement* r = context.createElement(d.get(), nullptr, nullptr, u"r");
        DOMElement* s = context.createElement(r, nullptr, nullptr, u"s");
        DOMNode* nodes[] = {r, s, context.createElement(s, nullptr, nullptr, u"t"),
                            context.createElement(r, nullptr, nullptr, u"u")};
        auto node = [&](char x) { return x == '-' ? nullptr : nodes[std::string("rstu").find(x)]; };
        auto list = [&](char x) { return std::vector<DOMNode*>(x != '-', node(x)); };
        std::string log;
        for (const std::string& f : c.specs) {
            context.callback(new Recorder(log, f[0], list(f[2]), node(f[4]), node(f[6]), node(f[8]),
                                          list(f[10])));
        }
        context.callback(s);
        try {
            context.callback(r);
        } catch (const Exception& e) {
            EXPECT_EQ("Ambrite::XML::Exception 6: Dependency loop in callbacks", printed(e));
            log += '!';
        }
        EXPECT_EQ(c.expected, log);
    }
}
