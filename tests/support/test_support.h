// Helpers shared by the tests: readable XMLCh strings, parsing from text, capturing output and
// failures, sweeps of operations that end in a failure.
#ifndef AMBRITE_XML_TEST_SUPPORT_H
#define AMBRITE_XML_TEST_SUPPORT_H

#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/foundation.h>
#include <ambrite/xml/nodeset.h>
#include <ambrite/xml/streams.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>
#include <xercesc/dom/DOM.hpp>

#include "support/allocation.h"

namespace amxml_test {

using namespace Ambrite::XML;
typedef std::unique_ptr<XMLCh, AMXMLDelete> Owned;

/// A UTF-16 string for comparisons; gtest prints it readably.
inline std::u16string u16(const XMLCh* s) {
    return s ? std::u16string(s) : std::u16string(u"<null>");
}

/// UTF-16 to UTF-8 (pairs combined; lone surrogates as three bytes).
inline std::string utf8(const std::u16string& s) {
    static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && (s[i + 1] & 0xFC00) == 0xDC00) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        }
        int n = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;  // continuation bytes
        out += static_cast<char>(kLead[n] | (c >> 6 * n));
        while (n--) out += static_cast<char>(0x80 | ((c >> 6 * n) & 0x3F));
    }
    return out;
}

inline std::string utf8(const XMLCh* s) { return s ? utf8(std::u16string(s)) : "<null>"; }

/// ASCII/UTF-8 literal widened byte by byte (tests use ASCII inputs here).
inline std::u16string widen(const std::string& s) {
    std::u16string out;
    for (unsigned char c : s) out += static_cast<char16_t>(c);
    return out;
}

typedef std::unique_ptr<DOMDocument, DocumentRelease> DocumentPtr;

/// Parses text with the library's parser (a source over a copy of the bytes) and the given limits.
inline DocumentPtr parse(const std::string& xml,
                         const DOMUtil::Limits& limits = DOMUtil::Limits()) {
    BlockSource source(new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
    return DocumentPtr(DOMUtil::parse(&source, limits));
}

/// Limits that let a document nest `depth` deep.
inline DOMUtil::Limits depthLimits(unsigned int depth) {
    DOMUtil::Limits limits;
    limits.maxDepth(depth);
    return limits;
}

/// Short filter builders (each adopts its operands) and a hash set from a list.
inline NodeSet::Filter* tree(DOMNode* n) { return new NodeTreeFilter(n); }
inline NodeSet::Filter* notTree(DOMNode* n) { return new NotFilter(new NodeTreeFilter(n)); }
inline NodeSet::Filter* both(NodeSet::Filter* f, NodeSet::Filter* g) { return new AndFilter(f, g); }
inline NodeHashSet hashSet(std::initializer_list<DOMNode*> nodes) {
    NodeHashSet set;
    for (DOMNode* n : nodes) set.insert(n);
    return set;
}

/// The first element of the document with this local name.
inline DOMElement* element(const DocumentPtr& d, const XMLCh* localName) {
    return static_cast<DOMElement*>(d->getElementsByTagNameNS(u"*", localName)->item(0));
}

inline std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    while (n--) out += s;
    return out;
}

/// A DOCTYPE (left open) declaring entities 0 to 9, 0 as `text` and each other one as ten
/// references to the one below; `declare` and `ref` start a declaration and a reference
/// ("<!ENTITY l" and "&l", or "<!ENTITY % p" and "&#37;p").
inline std::string laughs(const std::string& declare, const std::string& ref,
                          const std::string& text) {
    std::string dtd = "<!DOCTYPE r [" + declare + "0 '" + text + "'>";
    for (int i = 1; i <= 9; ++i) {
        dtd += declare + std::to_string(i) + " '" + repeat(ref + std::to_string(i - 1) + ";", 10);
        dtd += "'>";
    }
    return dtd;
}

inline bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

/// The bytes of a file, empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/// The text of an Exception as the library prints it.
inline std::string printed(const Exception& e) {
    std::ostringstream s;
    s << e;
    return s.str();
}

/// "id: message" of the Exception f throws, or "no exception".
template <class F>
std::string thrown(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return std::to_string(e.id()) + ": " + utf8(e.what().str());
    }
    return "no exception";
}

/// What a failed parse says after the location that the parser's fatal errors start with
/// ("9: Fatal DOM error: Line 1, column 5, offset -1: "); any other outcome whole.
inline std::string parseFailure(const std::string& xml,
                                const DOMUtil::Limits& limits = DOMUtil::Limits()) {
    const std::string f = thrown([&] { parse(xml, limits); });
    const std::size_t at = f.find(", offset ");
    if (f.rfind("9: Fatal DOM error: Line ", 0) != 0 || at == std::string::npos) return f;
    return f.substr(f.find(": ", at) + 2);
}

/// sweep() for an operation that fails with Exception `id` when no allocation fails: every run
/// ends in Exception 18 or in that same failure, with nothing left behind. Gives the failure of
/// the last run as "id: message".
inline std::string sweepFailing(int id, const std::function<void()>& operation) {
    std::vector<std::string> outcomes;
    sweep([&] {
        try {
            operation();
            outcomes.push_back("no exception");
        } catch (const Exception& e) {
            if (e.id() != id) throw;  // sweep() tells an injected Exception 18 from others
            outcomes.push_back(std::to_string(id) + ": " + utf8(e.what().str()));
        }
    });
    for (std::size_t n = 0; n < outcomes.size(); ++n) {
        EXPECT_EQ(outcomes.back(), outcomes[n]) << "the run that failed allocation " << n + 1;
    }
    return outcomes.empty() ? "" : outcomes.back();
}

/// A character sink that keeps the text written to it and whether it was closed.
class RecordingSink : public CharacterSink {
public:
    using CharacterSink::write;
    void write(const XMLCh* text, unsigned int count) override { text_.append(text, count); }
    void close() override { closed = true; }
    const XMLCh* encoding() const override { return nullptr; }
    const std::u16string& text() const { return text_; }

    bool closed = false;

private:
    std::u16string text_;
};

/// The bytes a BufferSink holds.
inline std::string bytes(const BufferSink& sink) {
    return sink.data() ? std::string(reinterpret_cast<const char*>(sink.data()), sink.length())
                       : std::string();
}

/// What the serializer writes of `node` into an octet sink.
inline std::string serialized(DOMNode* node,
                              const DOMSerializer::Parameters* parameters = nullptr) {
    BufferSink sink;
    DOMSerializer::serialize(node, sink, parameters);
    return bytes(sink);
}

/// The canonical form, in UTF-8, of the nodes of `root` that `filter` (adopted) accepts.
inline std::string canonical(DOMNode* root, NodeSet::Filter* filter, int mode,
                             const C14n::CanonicalizerParameters* parameters = nullptr,
                             bool namespaceExpanded = false) {
    NodeSet nodes(root, filter, nullptr, namespaceExpanded);
    BufferSink sink;
    C14n::DOMCanonicalizer::canonicalize(&nodes, &sink, C14n::DOMCanonicalizer::Mode(mode),
                                         parameters);
    return bytes(sink);
}

/// A document subset from words: "/1/2" the apex at that child sequence, "#x" the apex with ID x,
/// either after "-" a subtree left out; "@Id" or "@{urn:u}Id" attributes holding IDs too; "sig"
/// leaves out signatures.
inline std::unique_ptr<C14n::DocumentSubset> subsetOf(const std::string& spec) {
    std::unique_ptr<C14n::DocumentSubset> s(new C14n::DocumentSubset);
    std::istringstream words(spec);
    for (std::string w; words >> w;) {
        const bool out = w[0] == '-';
        const std::u16string name = widen(w.substr(out + 1));
        std::vector<unsigned int> steps;
        for (std::size_t at = w.find('/'); at != std::string::npos; at = w.find('/', at + 1)) {
            steps.push_back(static_cast<unsigned int>(std::stoul(w.substr(at + 1))));
        }
        const std::size_t close = name.find(u'}');
        if (w == "sig") {
            s->excludeSignatures(true);
        } else if (w[0] == '@') {
            s->idAttribute(close == name.npos ? nullptr : name.substr(1, close - 1).c_str(),
                           name.substr(close + 1).c_str());
        } else if (w[out] == '#') {
            out ? s->excludeId(name.c_str()) : s->apexId(name.c_str());
        } else {
            const unsigned int n = static_cast<unsigned int>(steps.size());
            out ? s->exclude(steps.data(), n) : s->apex(steps.data(), n);
        }
    }
    return s;
}

/// What canonicalizing `xml` writes on the streaming path, or (`dom`) through a parsed document
/// and the subset's node set, followed by " | failure ID: MESSAGE" when the run fails. The DOM
/// path also writes into a character sink, which must fail alike or receive the same text (what
/// the two hold of a run that failed may differ: each writer checks text in steps of its own).
inline std::string c14nOutcome(const std::string& xml, bool dom, int mode = 0,
                               const C14n::DocumentSubset* subset = nullptr,
                               const C14n::CanonicalizerParameters* parameters = nullptr,
                               const DOMUtil::Limits& limits = DOMUtil::Limits()) {
    const C14n::DOMCanonicalizer::Mode m = C14n::DOMCanonicalizer::Mode(mode);
    BufferSink sink;
    RecordingSink characters;
    std::string inCharacters;  // the character sink's failure, once the DOM path reaches it
    const std::string failure = thrown([&] {
        if (!dom) {
            BlockSource source(
                new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
            C14n::StreamCanonicalizer::canonicalize(&source, &sink, m, parameters, subset, limits);
            return;
        }
        DocumentPtr document = parse(xml, limits);
        std::unique_ptr<NodeSet> nodes(subset
                                           ? subset->nodeSet(document.get())
                                           : new NodeSet(document.get(), nullptr, nullptr, false));
        inCharacters = thrown(
            [&] { C14n::DOMCanonicalizer::canonicalize(nodes.get(), &characters, m, parameters); });
        C14n::DOMCanonicalizer::canonicalize(nodes.get(), &sink, m, parameters);
    });
    if (!inCharacters.empty()) {
        EXPECT_EQ(failure, inCharacters) << "into a character sink";
        EXPECT_TRUE(failure != "no exception" || bytes(sink) == utf8(characters.text()))
            << "into a character sink: " << utf8(characters.text());
    }
    return bytes(sink) + (failure == "no exception" ? "" : " | failure " + failure);
}

/// The failure of a c14nOutcome(), or the whole outcome when the run did not fail.
inline std::string failureOf(const std::string& outcome) {
    const std::size_t at = outcome.find(" | failure ");
    return at == std::string::npos ? outcome : outcome.substr(at);
}

/// Transform data of the octet kind: fixed bytes served through the source form only.
class OctetData : public Data {
public:
    explicit OctetData(const std::string& bytes) : Data(OCTET_DATA), bytes_(bytes) {}
    using Data::octetStream;
    OctetSource* octetStream() override {
        ++sources;
        std::unique_ptr<Block> b(new Block(bytes_.data(), unsigned(bytes_.size()), Block::Copy));
        OctetSource* source = new BlockSource(b.get());
        b.release();
        return source;
    }
    int sources = 0;

private:
    std::string bytes_;
};

}  // namespace amxml_test

#endif
