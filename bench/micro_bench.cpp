// Micro-benchmarks of the hot paths: UTF-8 encoding, text and attribute escaping, node hash set
// lookups, and canonicalization of a small signature-like document in every mode.
//
//   amxml-micro-bench [--benchmark_filter=REGEX] [other Google Benchmark options]
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/foundation.h>
#include <ambrite/xml/nodeset.h>
#include <ambrite/xml/streams.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOM.hpp>

using namespace Ambrite::XML;
using Ambrite::XML::C14n::DOMCanonicalizer;

namespace {

// Counts and discards; the canonicalizer and the UTF-8 encoder are measured, not a copy.
class NullSink : public OctetSink {
public:
    void write(const unsigned char* bytes, unsigned int count) override {
        benchmark::DoNotOptimize(bytes);
        count_ += count;
    }
    void close() override {}
    std::uint64_t count() const { return count_; }

private:
    std::uint64_t count_ = 0;
};

// A deterministic generator, so that every run measures the same input.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next(std::uint32_t bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % bound;
    }

private:
    std::uint32_t state_;
};

// Text of `units` UTF-16 code units made of the given pieces, picked at random.
std::u16string makeText(const std::vector<std::u16string>& pieces, std::size_t units) {
    Random r(7);
    std::u16string s;
    while (s.size() < units) s += pieces[r.next(static_cast<std::uint32_t>(pieces.size()))];
    s.resize(units);
    // Never end on a high surrogate: escaping reads up to the terminator.
    if (!s.empty() && (s.back() & 0xFC00) == 0xD800) s.back() = u'x';
    return s;
}

const std::vector<std::u16string> kAsciiWords = {u"alpha ", u"beta ",    u"gamma ",  u"delta ",
                                                 u"order ", u"invoice ", u"amount ", u"0123 "};
const std::vector<std::u16string> kMixedWords = {
    u"alpha ",
    u"beta ",
    u"caf\u00e9 ",
    u"Gr\u00fc\u00dfe ",
    u"\u65e5\u672c\u8a9e ",
    u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac ",
    u"\u20ac 12,50 ",
    u"\U0001F600 ",
    u"\U00010348 ",
    u"order "};
const std::vector<std::u16string> kTextEscapes = {u"alpha ", u"beta ",   u"AT&T ", u"a < b ",
                                                  u"x > y ", u"line\r ", u"order "};
const std::vector<std::u16string> kAttrEscapes = {
    u"alpha ", u"a & b ", u"<tag> ", u"\"q\" ", u"tab\tsep ", u"line\nfeed ", u"cr\r "};

const std::size_t kTextUnits = 4096;

// ---------------------------------------------------------------------------------------------
// UTF8Sink

// Writes of range(0) units each, as the canonicalizer writes names, pieces and text runs.
void writeChunks(benchmark::State& state, const std::u16string& text) {
    const unsigned int chunk = static_cast<unsigned int>(state.range(0));
    NullSink octets;
    UTF8Sink sink(octets);
    for (auto _ : state) {
        const XMLCh* p = text.data();
        for (std::size_t left = text.size(); left;) {
            unsigned int n = left < chunk ? static_cast<unsigned int>(left) : chunk;
            sink.write(p, n);
            p += n;
            left -= n;
        }
    }
    sink.flush();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["out_bytes_per_unit"] =
        static_cast<double>(octets.count()) / static_cast<double>(state.iterations() * text.size());
}

void BM_UTF8Sink_Ascii(benchmark::State& state) {
    writeChunks(state, makeText(kAsciiWords, kTextUnits));
}
BENCHMARK(BM_UTF8Sink_Ascii)->Arg(1)->Arg(8)->Arg(64)->Arg(4096);

void BM_UTF8Sink_Mixed(benchmark::State& state) {
    writeChunks(state, makeText(kMixedWords, kTextUnits));
}
BENCHMARK(BM_UTF8Sink_Mixed)->Arg(1)->Arg(8)->Arg(64)->Arg(4096);

// ---------------------------------------------------------------------------------------------
// escapeText / escapeAttr, into a UTF8Sink as during canonicalization

enum TextKind { PLAIN = 0, ESCAPES = 1, MIXED = 2 };

std::u16string escapeInput(TextKind kind, bool attribute) {
    switch (kind) {
        case PLAIN:
            return makeText(kAsciiWords, kTextUnits);
        case ESCAPES:
            return makeText(attribute ? kAttrEscapes : kTextEscapes, kTextUnits);
        case MIXED:
            return makeText(kMixedWords, kTextUnits);
    }
    return std::u16string();
}

// Values of range(1) units each: text nodes and attribute values are mostly short.
void escapeValues(benchmark::State& state, bool attribute,
                  void (*escape)(const XMLCh*, CharacterSink&)) {
    const std::u16string text = escapeInput(static_cast<TextKind>(state.range(0)), attribute);
    const std::size_t length = static_cast<std::size_t>(state.range(1));
    std::vector<std::u16string> values;
    for (std::size_t i = 0; i + length <= text.size(); i += length) {
        values.push_back(text.substr(i, length));
        if ((values.back().back() & 0xFC00) == 0xD800) values.back().back() = u'x';
    }
    NullSink octets;
    UTF8Sink sink(octets);
    for (auto _ : state) {
        for (const std::u16string& v : values) escape(v.c_str(), sink);
    }
    sink.flush();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size() * length));
}

void escapeArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"kind", "len"});
    for (int kind : {PLAIN, ESCAPES, MIXED}) {
        for (int length : {16, 4096}) b->Args({kind, length});
    }
}

void BM_EscapeText(benchmark::State& state) { escapeValues(state, false, escapeText); }
BENCHMARK(BM_EscapeText)->Apply(escapeArgs);

void BM_EscapeAttr(benchmark::State& state) { escapeValues(state, true, escapeAttr); }
BENCHMARK(BM_EscapeAttr)->Apply(escapeArgs);

// ---------------------------------------------------------------------------------------------
// The small document shared by the node-set and canonicalization benchmarks

const char kHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<?xml-stylesheet type=\"text/xsl\" href=\"view.xsl\"?>\n"
    "<!-- micro benchmark document -->\n"
    "<env:Envelope version=\"1.2\" xml:lang=\"en\" xmlns:env=\"urn:bench:envelope\""
    " xmlns:a=\"urn:bench:orders\" xmlns:b=\"urn:bench:billing\""
    " xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" xmlns=\"urn:bench:default\""
    " env:mustUnderstand=\"1\">\n"
    "  <env:Header>\n"
    "    <a:Routing to=\"urn:bench:dest\" a:priority=\"high\" from=\"urn:bench:src\">"
    "route &amp; deliver</a:Routing>\n"
    "    <!-- header comment -->\n"
    "  </env:Header>\n"
    "  <env:Body xmlns:a=\"urn:bench:orders\" b:profile=\"p1\" Id=\"signed\""
    " xmlns:b=\"urn:bench:billing\">\n";

const char kSignature[] =
    "    <ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" Id=\"sig-1\">\n"
    "      <ds:SignedInfo>\n"
    "        <ds:CanonicalizationMethod"
    " Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>\n"
    "        <ds:SignatureMethod"
    " Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/>\n"
    "        <ds:Reference URI=\"#signed\">\n"
    "          <ds:Transforms><ds:Transform"
    " Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/></ds:Transforms>\n"
    "          <ds:DigestMethod Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/>\n"
    "          <ds:DigestValue>q9XJlx0gZ2Yt3kS1bP1mQf8rJm6mJrX5Vv1hQ2m0p1A=</ds:DigestValue>\n"
    "        </ds:Reference>\n"
    "      </ds:SignedInfo>\n"
    "      <ds:SignatureValue>\n"
    "Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6\n"
    "cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFyYmF6cXV4Zm9vYmFy\n"
    "      </ds:SignatureValue>\n"
    "    </ds:Signature>\n";

const char kTail[] =
    "  </env:Body>\n"
    "  <!-- trailing comment inside the document element -->\n"
    "</env:Envelope>\n"
    "<!-- comment after the document element -->\n"
    "<?done?>";

const char* const kTexts[] = {"alpha beta gamma",
                              "AT&amp;T a &lt; b",
                              "x &gt; y line&#13;",
                              "caf\u00e9 Gr\u00fc\u00dfe \u65e5\u672c\u8a9e",
                              "\U0001F600 \u20ac 12,50",
                              "order item invoice amount total",
                              "crlf\r\nend"};
const char* const kAttrValues[] = {"alpha",         "a &amp; b", "&lt;tag&gt;", "tab&#9;sep",
                                   "\u00e9t\u00e9", "it's",      "x > y"};

// About 60 KB: records with namespaced and plain attributes out of canonical order, redundant
// and new namespace declarations, escaped and non-ASCII text, comments, PIs and CDATA, and the
// signature halfway through the signed element.
std::string makeDocument(int records) {
    Random r(1);
    std::string s = kHead;
    for (int k = 0; k < records; ++k) {
        if (k == records / 2) s += kSignature;
        const std::string n = std::to_string(k);
        s += "    <a:Record zone=\"" + std::string(kAttrValues[r.next(7)]) + "\" b:seq=\"" + n +
             "\" Id=\"r" + n + "\"";
        if (k % 8 == 0) s += " xmlns:a=\"urn:bench:orders\"";
        if (k % 13 == 0) s += " xmlns:c=\"urn:bench:c\"";
        s += " n=\"" + std::to_string(r.next(1000)) + "\">\n";
        s += "      <Item kind=\"" + std::string(kAttrValues[r.next(7)]) +
             "\" n=\"1\" b:currency=\"EUR\">" + kTexts[r.next(7)] + "</Item>\n";
        s += "      <a:Lines count=\"3\">";
        for (int i = 0; i < 3; ++i) {
            s += "<a:Line n=\"" + std::to_string(i) + "\" b:qty=\"" + std::to_string(r.next(99)) +
                 "\">" + kTexts[r.next(7)] + "</a:Line>";
        }
        s += "</a:Lines>\n";
        if (k % 4 == 0) s += "      <!-- record " + n + " -->\n";
        if (k % 5 == 0) s += "      <?audit seq=\"" + n + "\"?>\n";
        if (k % 7 == 0) s += "      <Note><![CDATA[raw <b>&amp; not markup</b>]]></Note>\n";
        if (k % 10 == 0) {
            s += "      <Detail xmlns=\"urn:bench:other\"><Plain xmlns=\"\">undeclared</Plain>"
                 "</Detail>\n";
        }
        s += "    </a:Record>\n";
    }
    return s + kTail;
}

struct DocumentDeleter {
    void operator()(DOMDocument* d) const {
        if (d) DocumentRelease()(d);
    }
};

bool equals(const XMLCh* s, const XMLCh* t) {
    if (!s || !t) return s == t;
    while (*s && *s == *t) ++s, ++t;
    return *s == *t;
}

// Parsed once, after Xerces-C has started, and released before it stops.
struct Fixture {
    std::string text;
    std::unique_ptr<DOMDocument, DocumentDeleter> document;
    std::vector<DOMNode*> nodes;  // every node in document order, attributes after their element
    DOMElement* signedElement = nullptr;
    DOMElement* signature = nullptr;

    Fixture() : text(makeDocument(200)) {
        BlockSource source(
            new Block(text.data(), static_cast<unsigned int>(text.size()), Block::Reference));
        document.reset(DOMUtil::parse(&source));
        collect(document.get());
    }

    void collect(DOMNode* n) {
        for (; n; n = n->getNextSibling()) {
            nodes.push_back(n);
            if (n->getNodeType() == DOMNode::ELEMENT_NODE) {
                DOMElement* e = static_cast<DOMElement*>(n);
                if (equals(e->getAttribute(u"Id"), u"signed")) signedElement = e;
                if (equals(e->getLocalName(), u"Signature")) signature = e;
                xercesc::DOMNamedNodeMap* attributes = e->getAttributes();
                for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
                    nodes.push_back(attributes->item(i));
                }
            }
            collect(n->getFirstChild());
        }
    }
};

Fixture* fixture = nullptr;

// ---------------------------------------------------------------------------------------------
// NodeHashSet::contains

// A set of range(0) nodes spread over the document; every node of the document is looked up,
// so most lookups of small sets miss, as the canonicalizer's tree-set tests do.
void BM_NodeHashSet_Contains(benchmark::State& state) {
    const std::vector<DOMNode*>& nodes = fixture->nodes;
    const std::size_t members = std::min(static_cast<std::size_t>(state.range(0)), nodes.size());
    NodeHashSet set;
    for (std::size_t i = 0; i < members; ++i) set.insert(nodes[i * nodes.size() / members]);
    std::size_t hits = 0;
    for (auto _ : state) {
        for (DOMNode* n : nodes) hits += set.contains(n);
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * nodes.size()));
    state.counters["members"] = set.size();
    state.counters["buckets"] = set.bucketCount();
    state.counters["longest"] = set.longestBucket();
}
BENCHMARK(BM_NodeHashSet_Contains)->Arg(1)->Arg(16)->Arg(1024)->Arg(4096);

// ---------------------------------------------------------------------------------------------
// Canonicalization of the small document

enum Case {
    INCL = 0,
    INCL_COMMENTS = 1,
    EXCL = 2,
    EXCL_COMMENTS = 3,
    INCL_SUBSET = 4,
    EXCL_SUBSET = 5
};

void BM_Canonicalize(benchmark::State& state) {
    const Case c = static_cast<Case>(state.range(0));
    DOMCanonicalizer::Mode mode = DOMCanonicalizer::CANONICAL;
    bool subset = false;
    switch (c) {
        case INCL:
            mode = DOMCanonicalizer::CANONICAL;
            break;
        case INCL_COMMENTS:
            mode = DOMCanonicalizer::CANONICAL_WITH_COMMENTS;
            break;
        case EXCL:
            mode = DOMCanonicalizer::EXCLUSIVE;
            break;
        case EXCL_COMMENTS:
            mode = DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS;
            break;
        case INCL_SUBSET:
            mode = DOMCanonicalizer::CANONICAL;
            subset = true;
            break;
        case EXCL_SUBSET:
            mode = DOMCanonicalizer::EXCLUSIVE;
            subset = true;
            break;
    }
    NodeSet::Filter* filter = nullptr;
    if (subset) {
        filter = new AndFilter(new NodeTreeFilter(fixture->signedElement),
                               new NotFilter(new NodeTreeFilter(fixture->signature)));
    }
    NodeSet nodes(fixture->document.get(), filter, nullptr, false);
    NullSink sink;
    for (auto _ : state) DOMCanonicalizer::canonicalize(&nodes, &sink, mode, nullptr);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture->text.size()));
    state.counters["out_bytes"] = static_cast<double>(sink.count() / state.iterations());
}
BENCHMARK(BM_Canonicalize)
    ->ArgName("mode")
    ->Arg(INCL)
    ->Arg(INCL_COMMENTS)
    ->Arg(EXCL)
    ->Arg(EXCL_COMMENTS)
    ->Arg(INCL_SUBSET)
    ->Arg(EXCL_SUBSET);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    int status = 0;
    try {
        DOMUtil::Init init;
        Fixture f;
        fixture = &f;
        if (!f.signedElement || !f.signature) {
            std::cerr << "micro benchmark document: no signed element or signature\n";
            return 1;
        }
        std::cerr << "document: " << f.text.size() << " bytes, " << f.nodes.size()
                  << " nodes; canonicalization modes: 0 incl, 1 incl-comments, 2 excl,"
                     " 3 excl-comments, 4 incl-subset, 5 excl-subset\n";
        benchmark::RunSpecifiedBenchmarks();
        fixture = nullptr;
    } catch (const Exception& e) {
        std::cerr << e << "\n";
        status = 1;
    }
    benchmark::Shutdown();
    return status;
}
