// Scaling check: canonicalization of a subtree minus an excluded subtree, whole-document
// canonicalization and serialization of deep and wide documents at 1x, 4x and 16x size. Linear
// work shows as a constant time per node. Prints one line per shape, mode and size.
//
// The fuzz build compiles it with sanitizers; for real numbers build it plainly against a
// release build of the library:
//   c++ -O2 -std=c++17 fuzz/scaling_bench.cpp -Iinclude -Lbuild -lambrite-xml -lxerces-c
//     -Wl,-rpath,build -o scaling_bench
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

using namespace Ambrite::XML;
using C14n::DOMCanonicalizer;

namespace {

struct Release {
    void operator()(DOMDocument* d) const { DocumentRelease()(d); }
};

std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

// Best of three, in seconds.
double seconds(const std::function<void()>& f) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
    }
    return best;
}

// The element reached by following first children `steps` times from the document element.
DOMNode* down(DOMDocument* d, std::size_t steps) {
    DOMNode* n = d->getDocumentElement();
    for (std::size_t i = 0; i < steps; ++i) n = n->getFirstChild();
    return n;
}

struct Shape {
    const char* name;
    std::function<std::string(std::size_t)> document;
    // Apex and excluded element of the subset.
    std::function<DOMNode*(DOMDocument*, std::size_t)> apex, excluded;
};

void run(const Shape& shape, std::size_t base) {
    for (std::size_t scale : {1, 4, 16}) {
        const std::size_t n = base * scale;
        std::string xml = shape.document(n);
        BlockSource source(
            new Block(xml.data(), static_cast<unsigned int>(xml.size()), Block::Reference));
        std::unique_ptr<DOMDocument, Release> d(DOMUtil::parse(&source));
        DOMNode* apex = shape.apex(d.get(), n);
        DOMNode* excluded = shape.excluded(d.get(), n);
        for (int m : {0, 2}) {
            DOMCanonicalizer::Mode mode = static_cast<DOMCanonicalizer::Mode>(m);
            double subset = seconds([&] {
                NodeSet set(d.get(),
                            new AndFilter(new NodeTreeFilter(apex),
                                          new NotFilter(new NodeTreeFilter(excluded))),
                            nullptr, false);
                BufferSink sink(1 << 20);
                DOMCanonicalizer::canonicalize(&set, &sink, mode, nullptr);
            });
            double whole = seconds([&] {
                NodeSet set(d.get(), nullptr, nullptr, false);
                BufferSink sink(1 << 20);
                DOMCanonicalizer::canonicalize(&set, &sink, mode, nullptr);
            });
            std::printf(
                "%-22s %-9s n=%8zu  subset %8.4f s (%6.1f ns/node)  whole %8.4f s "
                "(%6.1f ns/node)\n",
                shape.name, m ? "exclusive" : "inclusive", n, subset, subset * 1e9 / n, whole,
                whole * 1e9 / n);
        }
        double serialize = seconds([&] {
            BufferSink sink(1 << 20);
            DOMSerializer::serialize(d.get(), sink, nullptr);
        });
        std::printf("%-22s serialize n=%8zu  %8.4f s (%6.1f ns/node)\n", shape.name, n, serialize,
                    serialize * 1e9 / n);
    }
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    DOMUtil::Init init;
    const Shape deep = {"deep",
                        [](std::size_t n) { return repeat("<e a=\"1\">", n) + repeat("</e>", n); },
                        [](DOMDocument* d, std::size_t) { return down(d, 1); },
                        [](DOMDocument* d, std::size_t n) { return down(d, n / 2); }};
    const Shape wide = {
        "wide", [](std::size_t n) { return "<r>" + repeat("<c a=\"1\">t</c>", n) + "</r>"; },
        [](DOMDocument* d, std::size_t) { return down(d, 0); },
        [](DOMDocument* d, std::size_t n) {
            DOMNode* c = d->getDocumentElement()->getFirstChild();
            for (std::size_t i = 0; i < n / 2; ++i) c = c->getNextSibling();
            return c;
        }};
    // Adversarial shapes: prefixed elements each holding an unprefixed one (the serializer
    // looks for the default namespace in force), and elements each declaring a new prefix
    // (canonical scopes are copied when a binding changes).
    const Shape prefixed = {"deep-prefixed",
                            [](std::size_t n) {
                                return "<p:e xmlns:p=\"urn:p\" xmlns=\"urn:d\"><e xmlns=\"\">" +
                                       repeat("<p:e>", n) + repeat("<e/></p:e>", n) + "</e></p:e>";
                            },
                            [](DOMDocument* d, std::size_t) { return down(d, 1); },
                            [](DOMDocument* d, std::size_t n) { return down(d, n / 2); }};
    const Shape declaring = {"deep-declaring",
                             [](std::size_t n) {
                                 std::string xml;
                                 for (std::size_t i = 0; i < n; ++i) {
                                     xml += "<e xmlns:p" + std::to_string(i) +
                                            "=\"urn:" + std::to_string(i) + "\">";
                                 }
                                 return xml + repeat("</e>", n);
                             },
                             [](DOMDocument* d, std::size_t) { return down(d, 1); },
                             [](DOMDocument* d, std::size_t n) { return down(d, n / 2); }};
    run(deep, 5000);
    run(wide, 62500);
    run(prefixed, 1000);
    run(declaring, 500);
    return 0;
}
