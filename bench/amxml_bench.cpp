// amxml-bench: parsing and canonicalization throughput of the library, in the result-line format
// of the peer programs in bench/peers, so that the three can be compared on the same documents.
//
//   amxml-bench [-n REPS] [-s SCENARIO] [-m] [-c] [-d DUMPDIR] FILE
//   amxml-bench --xpath [-n REPS] [-c] [-i ID] EXPRESSIONS FILE   (see xpath_bench.cpp)
//
//   -n REPS      timed repetitions per scenario (default 5), after one untimed warm-up
//   -s SCENARIO  run only this scenario (the document is still parsed once, untimed, for the
//                canonicalization scenarios)
//   -m           print the peak resident set size after the run; the output is then only
//                counted and checksummed as it passes, not kept (so no crc32 is printed)
//   -c           under `valgrind --tool=callgrind --collect-atstart=no`: collect only the timed
//                runs, so that the instruction count is that of REPS parses or canonicalizations
//   -d DUMPDIR   write each scenario's output to DUMPDIR/amxml.DOC.SCENARIO
//
// Scenarios: parse (DOMUtil::parse from memory, each document released before the next parse),
// c14n-incl, c14n-incl-comments, c14n-excl (the whole document), c14n-incl-subset and
// c14n-excl-subset (the element with Id="signed" minus its ds:Signature descendant), all on the
// parsed document; stream-incl, stream-excl, stream-incl-subset and stream-excl-subset time
// parsing and canonicalization together (StreamCanonicalizer from the bytes in memory, the
// subset chosen by the ID "signed" of the attributes named Id, minus every ds:Signature), and
// give the bytes of the c14n scenario of the same name.
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/foundation.h>
#include <ambrite/xml/nodeset.h>
#include <ambrite/xml/streams.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOM.hpp>

#include "bench.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

using namespace Ambrite::XML;
using Ambrite::XML::C14n::DocumentSubset;
using Ambrite::XML::C14n::DOMCanonicalizer;
using Ambrite::XML::C14n::StreamCanonicalizer;

namespace {

const char kTool[] = "amxml";
const XMLCh kDSig[] = u"http://www.w3.org/2000/09/xmldsig#";

// An in-memory sink that keeps its buffer between runs, so that repetitions after the first
// measure canonicalization and not the growth of the output buffer. With keep false it only
// counts and checksums what passes, so that peak memory shows the canonicalizer's own needs
// and not the output's.
class MemorySink : public OctetSink {
public:
    explicit MemorySink(bool keep) : buffer_{nullptr, 0, 0}, keep_(keep), length_(0), crc_(0) {}
    ~MemorySink() override { std::free(buffer_.p); }
    MemorySink(const MemorySink&) = delete;
    MemorySink& operator=(const MemorySink&) = delete;

    void write(const unsigned char* bytes, unsigned int count) override {
        if (count == 0) return;
        length_ += count;
        if (!keep_) {
            crc_ = crc32_z(crc_, bytes, count);
            return;
        }
        mb_reserve(&buffer_, count);
        std::memcpy(buffer_.p + buffer_.len, bytes, count);
        buffer_.len += count;
    }
    void close() override {}
    void reset() {
        buffer_.len = 0;
        length_ = 0;
        crc_ = 0;
    }
    /// The bytes of the last run; null when they are not kept.
    const unsigned char* data() const { return keep_ ? buffer_.p : nullptr; }
    std::size_t length() const { return length_; }
    /// Checksummed after the run when the bytes are kept, so that the timed runs do not pay it.
    unsigned long crc() const { return keep_ ? crc32_z(0, buffer_.p, buffer_.len) : crc_; }

private:
    membuf buffer_;
    bool keep_;
    std::size_t length_;
    unsigned long crc_;
};

struct DocumentDeleter {
    void operator()(DOMDocument* d) const {
        if (d) DocumentRelease()(d);
    }
};
typedef std::unique_ptr<DOMDocument, DocumentDeleter> DocumentPtr;

struct Scenario {
    const char* name;
    DOMCanonicalizer::Mode mode;
    bool subset;
};

const Scenario kScenarios[] = {
    {"c14n-incl", DOMCanonicalizer::CANONICAL, false},
    {"c14n-incl-comments", DOMCanonicalizer::CANONICAL_WITH_COMMENTS, false},
    {"c14n-excl", DOMCanonicalizer::EXCLUSIVE, false},
    {"c14n-incl-subset", DOMCanonicalizer::CANONICAL, true},
    {"c14n-excl-subset", DOMCanonicalizer::EXCLUSIVE, true},
};

const Scenario kStreamScenarios[] = {
    {"stream-incl", DOMCanonicalizer::CANONICAL, false},
    {"stream-excl", DOMCanonicalizer::EXCLUSIVE, false},
    {"stream-incl-subset", DOMCanonicalizer::CANONICAL, true},
    {"stream-excl-subset", DOMCanonicalizer::EXCLUSIVE, true},
};

struct Options {
    int reps = 5;
    const char* only = nullptr;  // one scenario, or all when null
    bool rss = false;
    bool collect = false;
    const char* dumpDir = nullptr;
    const char* doc = nullptr;  // base name of the file, as the peers print it
};

bool selected(const Options& o, const char* scenario) {
    return !o.only || std::strcmp(o.only, scenario) == 0;
}

bool equals(const XMLCh* s, const XMLCh* t) {
    if (!s || !t) return s == t;
    while (*s && *s == *t) ++s, ++t;
    return *s == *t;
}

// The next node after n in document order within root's subtree, or null. Iterative: the deep
// documents nest elements ten thousand levels down.
DOMNode* following(DOMNode* n, DOMNode* root) {
    if (DOMNode* c = n->getFirstChild()) return c;
    for (; n && n != root; n = n->getParentNode()) {
        if (DOMNode* s = n->getNextSibling()) return s;
    }
    return nullptr;
}

template <typename Pred>
DOMElement* findElement(DOMNode* root, Pred pred) {
    for (DOMNode* n = root; n; n = following(n, root)) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE) {
            DOMElement* e = static_cast<DOMElement*>(n);
            if (pred(e)) return e;
        }
    }
    return nullptr;
}

class Timer {
public:
    explicit Timer(bool collect) : collect_(collect) {
        if (collect_) CALLGRIND_TOGGLE_COLLECT;
        start_ = now_ms();
    }
    double stop() {
        double ms = now_ms() - start_;
        if (collect_) CALLGRIND_TOGGLE_COLLECT;
        return ms;
    }

private:
    bool collect_;
    double start_;
};

DOMDocument* parseMemory(const unsigned char* data, std::size_t length) {
    BlockSource source(new Block(data, static_cast<unsigned int>(length), Block::Reference));
    return DOMUtil::parse(&source);
}

// Parses the input once, and when timed reps more times, releasing each document before the next
// parse outside the timed part, as the peer does. Returns the last document.
DocumentPtr parse(const Options& o, const unsigned char* data, std::size_t length, bool timed) {
    DocumentPtr doc(parseMemory(data, length));
    if (!timed) return doc;
    std::vector<double> ms(static_cast<std::size_t>(o.reps));
    for (double& m : ms) {
        doc.reset();
        Timer t(o.collect);
        DOMDocument* d = parseMemory(data, length);
        m = t.stop();
        doc.reset(d);
    }
    report(kTool, o.doc, "parse", -1, ms.data(), o.reps, length, nullptr, 0);
    return doc;
}

bool canonicalize(const Options& o, const Scenario& s, const NodeSet& nodes, std::size_t inLength,
                  MemorySink& sink) {
    sink.reset();
    DOMCanonicalizer::canonicalize(&nodes, &sink, s.mode, nullptr);  // untimed warm-up
    const std::size_t length = sink.length();
    const unsigned long crc = sink.crc();
    std::vector<double> ms(static_cast<std::size_t>(o.reps));
    for (double& m : ms) {
        sink.reset();
        Timer t(o.collect);
        DOMCanonicalizer::canonicalize(&nodes, &sink, s.mode, nullptr);
        m = t.stop();
        if (sink.length() != length || sink.crc() != crc) {
            std::fprintf(stderr, "%s: output differs between runs\n", s.name);
            return false;
        }
    }
    if (sink.data()) dump(o.dumpDir, kTool, o.doc, s.name, sink.data(), sink.length());
    report(kTool, o.doc, s.name, static_cast<long long>(sink.length()), ms.data(), o.reps, inLength,
           sink.data(), sink.length());
    return true;
}

// Parse and canonicalization together, from the bytes in memory.
bool stream(const Options& o, const Scenario& s, const unsigned char* data, std::size_t length,
            MemorySink& sink) {
    DocumentSubset subset;
    subset.idAttribute(nullptr, u"Id");
    subset.apexId(u"signed");
    subset.excludeSignatures(true);
    auto once = [&]() {
        sink.reset();
        BlockSource source(new Block(data, static_cast<unsigned int>(length), Block::Reference));
        StreamCanonicalizer::canonicalize(&source, &sink, s.mode, nullptr,
                                          s.subset ? &subset : nullptr);
    };
    once();  // untimed warm-up
    const std::size_t outLength = sink.length();
    const unsigned long crc = sink.crc();
    std::vector<double> ms(static_cast<std::size_t>(o.reps));
    for (double& m : ms) {
        Timer t(o.collect);
        once();
        m = t.stop();
        if (sink.length() != outLength || sink.crc() != crc) {
            std::fprintf(stderr, "%s: output differs between runs\n", s.name);
            return false;
        }
    }
    if (sink.data()) dump(o.dumpDir, kTool, o.doc, s.name, sink.data(), sink.length());
    report(kTool, o.doc, s.name, static_cast<long long>(sink.length()), ms.data(), o.reps, length,
           sink.data(), sink.length());
    return true;
}

int run(const Options& o, const unsigned char* data, std::size_t length) {
    MemorySink sink(!o.rss);
    bool domScenarios = selected(o, "parse");
    for (const Scenario& s : kScenarios) domScenarios = domScenarios || selected(o, s.name);
    if (domScenarios) {
        DocumentPtr doc = parse(o, data, length, selected(o, "parse"));

        DOMElement* signedElement = findElement(
            doc.get(), [](DOMElement* e) { return equals(e->getAttribute(u"Id"), u"signed"); });
        DOMElement* signature =
            signedElement ? findElement(signedElement,
                                        [](DOMElement* e) {
                                            return equals(e->getNamespaceURI(), kDSig) &&
                                                   equals(e->getLocalName(), u"Signature");
                                        })
                          : nullptr;

        for (const Scenario& s : kScenarios) {
            if (!selected(o, s.name)) continue;
            std::unique_ptr<NodeSet> nodes;
            if (!s.subset) {
                nodes.reset(new NodeSet(doc.get(), nullptr, nullptr, false));
            } else if (signedElement && signature) {
                nodes.reset(new NodeSet(doc.get(),
                                        new AndFilter(new NodeTreeFilter(signedElement),
                                                      new NotFilter(new NodeTreeFilter(signature))),
                                        nullptr, false));
            } else {
                std::fprintf(stderr,
                             "no Id=\"signed\" element with a ds:Signature inside: %s skipped\n",
                             s.name);
                continue;
            }
            if (!canonicalize(o, s, *nodes, length, sink)) return 1;
        }
    }
    for (const Scenario& s : kStreamScenarios) {
        if (selected(o, s.name) && !stream(o, s, data, length, sink)) return 1;
    }
    return 0;
}

bool knownScenario(const char* name) {
    if (std::strcmp(name, "parse") == 0) return true;
    for (const Scenario& s : kScenarios) {
        if (std::strcmp(name, s.name) == 0) return true;
    }
    for (const Scenario& s : kStreamScenarios) {
        if (std::strcmp(name, s.name) == 0) return true;
    }
    return false;
}

int usage(const char* argv0) {
    std::fprintf(stderr,
                 "usage: %s [-n REPS] [-s SCENARIO] [-m] [-c] [-d DUMPDIR] FILE\n"
                 "scenarios: parse",
                 argv0);
    for (const Scenario& s : kScenarios) std::fprintf(stderr, " %s", s.name);
    for (const Scenario& s : kStreamScenarios) std::fprintf(stderr, " %s", s.name);
    std::fprintf(stderr, "\n");
    return 2;
}

}  // namespace

int xpathMain(int argc, char** argv);

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--xpath") == 0) {
        argv[1] = argv[0];
        return xpathMain(argc - 1, argv + 1);
    }
    Options o;
    int c;
    while ((c = getopt(argc, argv, "n:s:mcd:")) != -1) {
        switch (c) {
            case 'n':
                o.reps = std::atoi(optarg);
                break;
            case 's':
                o.only = optarg;
                break;
            case 'm':
                o.rss = true;
                break;
            case 'c':
                o.collect = true;
                break;
            case 'd':
                o.dumpDir = optarg;
                break;
            default:
                return usage(argv[0]);
        }
    }
    if (optind != argc - 1 || o.reps < 1 || (o.only && !knownScenario(o.only))) {
        return usage(argv[0]);
    }
    const char* path = argv[optind];
    o.doc = base_name(path);
    std::size_t length;
    unsigned char* data = read_file(path, &length);
    if (length > 0xFFFFFFFFu) {
        std::fprintf(stderr, "%s: too large for one block\n", path);
        return 2;
    }

    int status;
    try {
        DOMUtil::Init init;
        status = run(o, data, length);
    } catch (const Exception& e) {
        std::cerr << path << ": " << e << "\n";
        status = 1;
    }
    std::free(data);
    if (o.rss) {
        struct rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%-8s %-14s %-24s %12ld\n", kTool, o.doc, "peak-rss-kB", usage.ru_maxrss);
    }
    return status;
}
