// Fuzz target: bytes -> DOMUtil::parse -> the document element decoded with the tests'
// signature vocabulary (through its provider), eagerly and lazily -> encoded again with an
// EncodeContext (preferred prefixes, indentation) -> serialized. Only the library's Exception
// may come out (the vocabulary fails with Exceptions too); the leak checker sees the rest.
// Oracles: a lazy decoding whose every field has been read succeeds exactly when the eager one
// does and then encodes to the same bytes; a lazy decoding that failed fails again, with the
// same message, when the structure is encoded.
//
// Input: the document; its length picks the layout of the encoding.
#include <ambrite/xml/binding.h>
#include <ambrite/xml/dom.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "binding/vocabulary.h"

using namespace vocabulary;

namespace {

typedef std::unique_ptr<DOMDocument, DocumentRelease> DocumentPtr;

const XMLCh kExt[] = u"urn:example:ext";

// How the structure is written: the preferred prefix of the vocabulary's namespace (null for
// none), indentation, and whether it goes into a fresh document or before an element of one.
struct Layout {
    const XMLCh* prefix;
    int base, step;
    bool superIndentation, inParent;
};
const Layout kLayouts[] = {
    {u"ds", 0, 2, false, false},
    {nullptr, -1, 0, false, false},
    {u"x", 20, 1, true, true},
};

[[noreturn]] void fail(const char* what, const std::string& a, const std::string& b) {
    std::fprintf(stderr, "%s\n--- first\n%s\n--- second\n%s\n", what, a.c_str(), b.c_str());
    std::abort();
}

std::string message(const Exception& e) {
    std::ostringstream s;
    s << e;
    return s.str();
}

// Reads every field of `s` and of the structures under it, which runs their lazy decoding.
void touch(const XStructure& s) {
    std::ostringstream printed;
    printed << s;
    if (auto* r = dynamic_cast<const Reference*>(&s)) {
        // In the order of encoding: the reference itself, its transforms, then its digest value.
        const Value& digest = r->digest();
        for (const auto& t : r->transforms_) touch(*t);
        touch(digest);
    } else if (auto* t = dynamic_cast<const Transform*>(&s)) {
        for (const auto& c : t->content()) touch(*c);
    } else if (auto* v = dynamic_cast<const Value*>(&s)) {
        v->bytes();
    }
}

std::string encode(XStructure& s, const Layout& layout) {
    DocumentPtr out(DOMUtil::newDocument());
    DOMNode* parent = out.get();
    DOMNode* before = nullptr;
    if (layout.inParent) {
        parent = out->appendChild(out->createElementNS(nullptr, u"p"));
        before = parent->appendChild(out->createElementNS(nullptr, u"q"));
    }
    EncodeContext context;
    if (layout.prefix) context.namespacePrefix(kDs, layout.prefix);
    context.namespacePrefix(kExt, u"e");
    context.indentation(layout.base, layout.step, layout.superIndentation);
    s.encode(parent, before, &context);
    return text(out.get());
}

// The outcome of decoding the document element with the factory registered for its name (the
// Reference factory for unknown names), reading it all, and encoding it: the text, or "!" and
// the message of the failure.
std::string run(const Vocabulary& vocabulary, DOMDocument* document, bool lazy,
                const Layout& layout) {
    DecodeContext context;
    std::unique_ptr<XStructure> s;
    try {
        s = vocabulary.decode(document, context, lazy);
    } catch (const Exception& e) {
        return "!" + message(e);
    }
    std::string failed;
    try {
        touch(*s);
    } catch (const Exception& e) {
        failed = "!" + message(e);
    }
    std::string result;
    try {
        result = encode(*s, layout);
    } catch (const Exception& e) {
        result = "!" + message(e);
    }
    if (!failed.empty() && failed != result) fail("a failed lazy decoding changed", failed, result);
    if (failed.empty() && lazy) {
        try {
            std::unique_ptr<XStructure> copy(s->clone());
            if (encode(*copy, layout) != result) fail("the copy encodes otherwise", result, "");
        } catch (const Exception& e) {
            if (result[0] != '!') fail("the copy fails", result, message(e));
        }
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static DOMUtil::Init init;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Vocabulary vocabulary;
    DocumentPtr document;
    try {
        BlockSource source(new Block(data, static_cast<unsigned int>(size), Block::Reference));
        document.reset(DOMUtil::parse(&source));
    } catch (const Exception&) {
        return 0;
    }
    if (!document->getDocumentElement()) return 0;
    const Layout& layout = kLayouts[size % (sizeof kLayouts / sizeof kLayouts[0])];
    const std::string eager = run(vocabulary, document.get(), false, layout);
    const std::string lazy = run(vocabulary, document.get(), true, layout);
    // Eager decoding alone is bounded in depth; lazy decoding reads one level per call.
    if (eager.find("Nesting depth limit exceeded") != std::string::npos) return 0;
    if ((eager[0] == '!') != (lazy[0] == '!') || (eager[0] != '!' && eager != lazy)) {
        fail("eager and lazy decoding differ", eager, lazy);
    }
    return 0;
}
