// Micro-benchmarks of the data-binding hot path: EncodeContext::createBase64String on a 50 MB
// block, beside a memcpy of the block, a plain Base64 loop into 8-bit characters and the
// allocation and first touch of a UTF-16 text of the result's size. Rates are of input bytes.
//
//   amxml-binding-bench [--benchmark_filter=REGEX] [other Google Benchmark options]
#include <ambrite/xml/binding.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xercesc/dom/DOM.hpp>

using namespace Ambrite::XML;

namespace {

const unsigned kSize = 50u * 1024 * 1024;

const std::vector<unsigned char>& input() {
    static std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> b(kSize);
        std::uint32_t state = 7;
        for (unsigned char& c : b) {
            state = state * 1664525u + 1013904223u;
            c = static_cast<unsigned char>(state >> 24);
        }
        return b;
    }();
    return bytes;
}

void memcpyBaseline(benchmark::State& state) {
    std::vector<unsigned char> out(kSize);
    for (auto _ : state) {
        std::memcpy(out.data(), input().data(), kSize);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSize);
}

// The textbook loop, into a buffer allocated once.
void plainBase64Baseline(benchmark::State& state) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<char> out((kSize + 2) / 3 * 4);
    for (auto _ : state) {
        const unsigned char* in = input().data();
        char* o = out.data();
        for (unsigned i = 0; i + 3 <= kSize; i += 3, o += 4) {
            const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
            o[0] = kAlphabet[v >> 18];
            o[1] = kAlphabet[(v >> 12) & 63];
            o[2] = kAlphabet[(v >> 6) & 63];
            o[3] = kAlphabet[v & 63];
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSize);
}

// What any function returning a new UTF-16 text of the encoded size pays at least: the
// allocation and the first touch of every page.
void freshTextBaseline(benchmark::State& state) {
    const std::size_t units = (kSize + 2) / 3 * 4 + 1;
    for (auto _ : state) {
        XMLCh* text = static_cast<XMLCh*>(utalloc(static_cast<unsigned>(units * sizeof(XMLCh))));
        std::fill(text, text + units, u'A');
        benchmark::DoNotOptimize(text);
        benchmark::ClobberMemory();
        utfree(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSize);
}

// Arguments: line length, indentation base (-1: off).
void createBase64String(benchmark::State& state) {
    std::unique_ptr<DOMDocument, DocumentRelease> document(DOMUtil::newDocument());
    EncodeContext context;
    context.indentation(static_cast<int>(state.range(1)), 2, false);
    DOMElement* root = context.createElement(document.get(), nullptr, nullptr, u"r");
    Block block(input().data(), kSize, Block::Reference);
    for (auto _ : state) {
        std::unique_ptr<XMLCh, AMXMLDelete> text(
            context.createBase64String(&block, static_cast<unsigned>(state.range(0)), root));
        benchmark::DoNotOptimize(text.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSize);
}

BENCHMARK(memcpyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(plainBase64Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(freshTextBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(createBase64String)
    ->Args({0, -1})
    ->Args({76, -1})
    ->Args({76, 4})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    DOMUtil::Init init;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
