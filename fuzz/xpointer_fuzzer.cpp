// Fuzz target: bytes -> XPointerParser::parse -> XPointer::locationSet against a small fixed
// document with IDs typed by its DTD, namespaces, entity references, comments and processing
// instructions, under a visit budget. Only the library's Exception may come out, and nothing
// leaks. An evaluation must leave the caller's bindings as they were and give the same nodes
// when repeated; a shorthand pointer must select the element of that ID.
//
// Input: the pointer, one unit per byte, up to the first zero.
#include <ambrite/xml/dom.h>
#include <ambrite/xml/xpath.h>
#include <ambrite/xml/xpointer.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>

using namespace Ambrite::XML;

namespace {

const char kDocument[] =
    "<!DOCTYPE r [<!ATTLIST a id ID #IMPLIED><!ATTLIST p:c pid ID #IMPLIED>"
    "<!ENTITY e '<a id=\"e1\">7</a><!--e--><?t in?>'>]>"
    "<?t top?><!--top--><r xmlns:p='urn:p' xmlns='urn:d' x='1'>"
    "<a id='i1' p:y='2'>12<![CDATA[<c>]]><b xmlns=''>&e; 3 </b></a><!--c-->"
    "<p:c pid='c1' xmlns:q='urn:q' q:z='z'><?u d?>a b<a id='i2'/></p:c>tail</r><!--end-->";

struct Fixture {
    std::unique_ptr<DOMUtil::Init> init;
    DOMDocument* document = nullptr;
    XPath::BindingMap map;
    XPath::Namespace p{u"urn:p"};
    XPath::Variable v{u"i1 i2"};
    XPath::Budget budget{20000};

    Fixture() : init(new DOMUtil::Init) {
        BlockSource source(new Block(kDocument, sizeof kDocument - 1, Block::Reference));
        document = DOMUtil::parse(&source);
        map[u"p"] = &p;
        map[u"$v"] = &v;
        map[XPath::Budget::key()] = &budget;
    }
    ~Fixture() { DocumentRelease()(document); }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

[[noreturn]] void fail(const char* what, const std::u16string& pointer) {
    std::fprintf(stderr, "%s:", what);
    for (char16_t c : pointer) std::fputc(c < 128 ? static_cast<char>(c) : '?', stderr);
    std::fputc('\n', stderr);
    std::abort();
}

// The nodes, or an empty list with `failed` set when the evaluation throws.
std::vector<DOMNode*> evaluate(XPointer& pointer, bool& failed) {
    Fixture& f = fixture();
    std::vector<DOMNode*> nodes;
    failed = false;
    try {
        f.budget.reset();
        std::unique_ptr<XPath::Iterator> it(pointer.locationSet(f.document, f.map));
        while (it->hasNext()) nodes.push_back(it->next());
        if (nodes.empty()) fail("empty result", u"");
    } catch (const Exception&) {
        failed = true;
    }
    return nodes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fixture& f = fixture();
    std::u16string text(data, data + size);
    text.resize(text.find(u'\0') == std::u16string::npos ? text.size() : text.find(u'\0'));
    std::unique_ptr<XPointer> pointer;
    try {
        pointer.reset(XPointerParser::parse(text.c_str()));
    } catch (const Exception&) {
        return 0;
    }
    std::ostringstream printed;
    printed << pointer.get();
    const XPath::BindingMap before(f.map);
    bool failed = false, again = false;
    std::vector<DOMNode*> first = evaluate(*pointer, failed);
    if (f.map.size() != before.size()) fail("bindings changed", text);
    for (auto a = f.map.begin(), b = before.begin(); a != f.map.end(); ++a, ++b) {
        if (!(*a == *b)) fail("bindings changed", text);
    }
    if (evaluate(*pointer, again) != first || again != failed) fail("not repeatable", text);
    // A bare name without steps: exactly the element of that ID, or a failure when none.
    if (!pointer->full() && text.find(u'/') == std::u16string::npos) {
        std::u16string name(text);
        while (!name.empty() && XPathTokenizer::isWhitespace(name.back())) name.pop_back();
        while (!name.empty() && XPathTokenizer::isWhitespace(name[0])) name.erase(0, 1);
        DOMNode* byId = f.document->getElementById(name.c_str());
        if (byId ? first != std::vector<DOMNode*>{byId} : !failed) fail("id differs", text);
    }
    return 0;
}
