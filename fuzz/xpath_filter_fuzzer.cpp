// Fuzz target: bytes -> XPathParser::parse -> XPathFilter over the nodes of (//. | //@*) of a
// small fixed document, against a fresh parse and plain boolean evaluation per node with the same
// bindings. The two must give the same boolean or the same Exception (id and message), except
// where either side ran out of its visit budget: the filter evaluates its context-free parts once,
// so it may spend fewer visits than the plain evaluation of the same node.
//
// Input: byte 0 picks the node the walk starts at (so that each node can be the one that first
// evaluates the kept parts); the rest is the expression, one unit per byte.
#include <ambrite/xml/dom.h>
#include <ambrite/xml/xpath.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNodeList.hpp>

#include "xpath_fixture.h"

using namespace Ambrite::XML;

namespace {

const char kDocument[] =
    "<!DOCTYPE r [<!ATTLIST a id ID #IMPLIED><!ATTLIST x Id ID #IMPLIED>"
    "<!ENTITY e '<b>7</b><!--e--><?t in?>'>]>"
    "<?t top?><!--top--><r xmlns:ds='http://www.w3.org/2000/09/xmldsig#' xmlns:p='urn:p' "
    "xmlns='urn:d' xml:lang='en' x='1'>"
    "<a id='i1' p:y='2'>12<![CDATA[<c>]]><b xmlns=''>&e; 3 </b></a><!--c-->&e;"
    "<ds:Signature><ds:SignedInfo><x Id='s' n='4'>c</x></ds:SignedInfo></ds:Signature>"
    "<p:c xmlns:q='urn:q' q:z='z' xml:lang='de-CH'><?u d?>a b<a id='i2'/><y n='5'> e </y></p:c>"
    "tail</r><!--end-->";

// At most this many context nodes per input, to keep executions fast.
const std::size_t kMaxContexts = 50;

typedef std::unique_ptr<XMLCh, AMXMLDelete> String;

fuzz::XPathFixture& fixture() {
    static fuzz::XPathFixture f(kDocument, sizeof kDocument - 1, u"//. | //@*", true, 5000);
    return f;
}

// One node's answer: "0", "1", or "id: message" of the Exception.
struct Answer {
    bool threw = false;
    bool value = false;
    int id = 0;
    std::u16string message;

    bool outOfBudget() const {
        static const std::u16string limit(u"Evaluation limit exceeded");
        return threw && (id == 18 || message.compare(0, limit.size(), limit) == 0);
    }
    bool operator==(const Answer& o) const {
        return threw == o.threw && (threw ? id == o.id && message == o.message : value == o.value);
    }
    std::string describe() const {
        if (!threw) return value ? "true" : "false";
        std::string out = "exception " + std::to_string(id) + ": ";
        for (char16_t c : message) out += c < 128 ? static_cast<char>(c) : '?';
        return out;
    }
};

template <class F>
Answer answer(F f) {
    Answer a;
    try {
        a.value = f();
    } catch (const Exception& e) {
        a.threw = true;
        a.id = e.id();
        a.message = e.what().str();
    }
    return a;
}

[[noreturn]] void fail(const std::u16string& expression, std::size_t index, const Answer& plain,
                       const Answer& filtered) {
    std::fprintf(stderr, "XPathFilter differs from plain evaluation: ");
    for (char16_t c : expression) std::fputc(c < 128 ? static_cast<char>(c) : '?', stderr);
    std::fprintf(stderr, "\ncontext node %zu of (//. | //@*): plain %s, filter %s\n", index,
                 plain.describe().c_str(), filtered.describe().c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    fuzz::XPathFixture& f = fixture();
    std::u16string text(data + 1, data + size);
    std::unique_ptr<XPathFilter> filter;
    try {
        filter.reset(new XPathFilter(XPathParser::parse(text.c_str()), f.map));
    } catch (const Exception&) {
        return 0;
    }
    const std::size_t count = f.contexts.size();
    const std::size_t first = data[0] % count;
    const std::size_t walk = count < kMaxContexts ? count : kMaxContexts;
    for (std::size_t i = 0; i < walk; ++i) {
        const std::size_t index = (first + i) % count;
        DOMNode* node = f.contexts[index];
        // A fresh tree per node, so that nothing is kept from one evaluation to the next.
        f.budget.reset();
        Answer plain = answer([&] {
            std::unique_ptr<XPath> e(XPathParser::parse(text.c_str()));
            return e->boolean(node, 1, f.map);
        });
        f.budget.reset();
        Answer filtered = answer([&] { return filter->matches(node); });
        if (plain.outOfBudget() || filtered.outOfBudget()) continue;
        if (!(plain == filtered)) fail(text, index, plain, filtered);
    }
    return 0;
}
