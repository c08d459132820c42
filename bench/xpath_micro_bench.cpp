// Micro-benchmarks of the XPath hot paths: document order of node sets, string-values, number
// conversions, node-set comparisons and one expression evaluated per node of a document.
//
//   amxml-xpath-bench [--benchmark_filter=REGEX] [other Google Benchmark options]
#include <ambrite/xml/dom.h>
#include <ambrite/xml/foundation.h>
#include <ambrite/xml/xpath.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>
#include <xercesc/dom/DOM.hpp>

using namespace Ambrite::XML;

namespace {

struct Release {
    void operator()(DOMDocument* d) const { DocumentRelease()(d); }
};
typedef std::unique_ptr<DOMDocument, Release> Document;
typedef std::vector<DOMNode*> Nodes;

Document parse(const std::string& xml) {
    BlockSource source(new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Copy));
    return Document(DOMUtil::parse(&source));
}

// A signature-like document: `records` records of a few elements, attributes and text each,
// followed by a signature element.
std::string document(int records) {
    std::string xml = "<doc xmlns:ds='http://www.w3.org/2000/09/xmldsig#'>";
    for (int i = 0; i < records; ++i) {
        xml += "<record id='r" + std::to_string(i) + "' kind='k" + std::to_string(i % 7) +
               "'><name>Name " + std::to_string(i) + "</name><value>" + std::to_string(i * 3) +
               "</value><note>some text</note></record>";
    }
    return xml +
           "<ds:Signature><ds:SignedInfo/><ds:SignatureValue>AAAA</ds:SignatureValue>"
           "</ds:Signature></doc>";
}

// Every element, attribute and text node in document order.
void collect(DOMNode* n, Nodes& out) {
    out.push_back(n);
    if (xercesc::DOMNamedNodeMap* attributes = n->getAttributes()) {
        for (XMLSize_t i = 0; i < attributes->getLength(); ++i) out.push_back(attributes->item(i));
    }
    for (DOMNode* c = n->getFirstChild(); c; c = c->getNextSibling()) collect(c, out);
}

struct Fixture {
    Document doc;
    Nodes all;
    explicit Fixture(int records) : doc(parse(document(records))) { collect(doc.get(), all); }
};

// Documents made once and kept to the end of the process: Xerces-C is stopped before static
// objects are destroyed.
Fixture& fixture(int records) {
    static Fixture* small = new Fixture(500);
    static Fixture* large = new Fixture(5000);
    return records == 500 ? *small : *large;
}

// Orders a random subset of k nodes (k = range(0)) of a document of about 50,000 nodes.
void BM_DocumentOrder(benchmark::State& state) {
    Fixture& f = fixture(5000);
    Nodes members(f.all);
    std::mt19937 random(1);
    std::shuffle(members.begin(), members.end(), random);
    members.resize(std::min(members.size(), static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        BasicIterator source(members);
        OrderedIterator ordered(&source);
        benchmark::DoNotOptimize(ordered.next());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(members.size()));
}
BENCHMARK(BM_DocumentOrder)->Arg(1)->Arg(2)->Arg(16)->Arg(1024)->Arg(100000);

// For scale: one walk over the same document in document order, attributes included, which is
// what ordering would cost if it walked the document.
void BM_DocumentWalk(benchmark::State& state) {
    Fixture& f = fixture(5000);
    for (auto _ : state) {
        Nodes nodes;
        collect(f.doc.get(), nodes);
        benchmark::DoNotOptimize(nodes.data());
    }
}
BENCHMARK(BM_DocumentWalk);

// The string-value of the document element of a document of about 50,000 nodes.
void BM_StringValue(benchmark::State& state) {
    Fixture& f = fixture(5000);
    for (auto _ : state) {
        XMLCh* s = XPathUtil::string(f.doc->getDocumentElement());
        benchmark::DoNotOptimize(s);
        utfree(s);
    }
}
BENCHMARK(BM_StringValue);

void BM_NumberToString(benchmark::State& state) {
    std::mt19937_64 random(2);
    std::vector<double> values(1024);
    for (double& d : values) d = std::ldexp(static_cast<double>(random() >> 11), -30);
    std::size_t i = 0;
    for (auto _ : state) {
        XMLCh* s = XPathUtil::string(values[i++ & 1023]);
        benchmark::DoNotOptimize(s);
        utfree(s);
    }
}
BENCHMARK(BM_NumberToString);

void BM_StringToNumber(benchmark::State& state) {
    const XMLCh* texts[] = {u"12", u" -3.5 ", u"123456.789", u"0.000001", u"abc"};
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(XPathUtil::number(texts[i++ % 5]));
}
BENCHMARK(BM_StringToNumber);

// One expression evaluated once per node of a document, as the XPath filter transform does:
// here() and a variable joined, counted, compared; then a node-set comparison with a string.
void BM_ExpressionPerNode(benchmark::State& state) {
    Fixture& f = fixture(500);
    Nodes signature(1, f.doc->getElementsByTagName(u"ds:Signature")->item(0));
    Nodes records;
    for (DOMNode* n : f.all) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE) records.push_back(n);
    }
    XPath::BindingMap map;
    XPath::init(map, signature[0], f.doc->getDocumentElement());
    XPath::Variable sig(signature), nodes(records);
    map[u"$sig"] = &sig;
    map[u"$nodes"] = &nodes;
    const bool compare = state.range(0) != 0;
    std::unique_ptr<XPath> e;
    if (!compare) {
        std::vector<XPath*> union_(1, new Operator(new VariableReference(u"sig"), Operator::UNION,
                                                   new FunctionCall(u"here", {})));
        std::vector<XPath*> alone(1, new VariableReference(u"sig"));
        e.reset(new Operator(new FunctionCall(u"count", union_), Operator::GREATER,
                             new FunctionCall(u"count", alone)));
    } else {
        e.reset(new Operator(new Primitive(Primitive::CONTEXT), Operator::EQUAL,
                             new Primitive(u"some text")));
    }
    std::size_t count = 0;
    for (auto _ : state) {
        for (DOMNode* n : f.all) count += e->boolean(n, 1, map);
    }
    benchmark::DoNotOptimize(count);
    map.erase(map.find(u"$sig"));
    map.erase(map.find(u"$nodes"));
    XPath::init(map, nullptr, nullptr);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(f.all.size()));
}
BENCHMARK(BM_ExpressionPerNode)->Arg(0)->Arg(1);

// Two node sets of range(0) nodes each compared for equality, with no pair equal.
void BM_CompareNodeSets(benchmark::State& state) {
    Fixture& f = fixture(5000);
    Nodes values, names;
    for (DOMNode* n : f.all) {
        if (n->getNodeType() != DOMNode::ELEMENT_NODE) continue;
        const std::u16string tag(n->getNodeName());
        if (tag == u"value" && values.size() < std::size_t(state.range(0))) values.push_back(n);
        if (tag == u"name" && names.size() < std::size_t(state.range(0))) names.push_back(n);
    }
    XPath::BindingMap map;
    XPath::Variable a(values), b(names);
    map[u"$a"] = &a;
    map[u"$b"] = &b;
    Operator e(new VariableReference(u"a"), Operator::EQUAL, new VariableReference(u"b"));
    for (auto _ : state) benchmark::DoNotOptimize(e.boolean(f.doc.get(), 1, map));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CompareNodeSets)->Arg(8)->Arg(1000);

}  // namespace

int main(int argc, char** argv) {
    DOMUtil::Init init;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
