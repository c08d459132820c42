// amxml-bench --xpath: XPath evaluation times of the library in the line format of the XPath peer
// programs in bench/peers (libxml2_xpath, pugixml_xpath), so that the three can be compared on
// the same documents and expression lists.
//
//   amxml-bench --xpath [-n REPS] [-c] [-i ID] EXPRESSIONS FILE
//
// Parses FILE once (not timed), binds the prefixes of the list's header through XPath::Namespace,
// compiles each expression once (not timed) and times REPS evaluations after one untimed warm-up.
// A timed evaluation includes building the result: a node set is put in document order without
// duplicates (XPathUtil::documentOrder) and counted. An ID starting with "each-" evaluates the
// expression as a boolean once per node of (//. | //@*), with that node as context, through
// XPathFilter, and counts the true results. -c collects only the timed runs under
// `valgrind --tool=callgrind --collect-atstart=no`, with one dump per expression (see
// bench/xpath_callgrind.sh); -i runs only the expression with that ID.
//
// One line per expression: tool doc id result med_ms min_ms max_ms reps, where result is
// nodeset:COUNT, number:VALUE (%.17g), boolean:true|false, string:LENGTH:CRC32 (of the UTF-8
// bytes) or error. Before them (without -c or -i), the floor of the walk-bound expressions: a
// bare recursive walk of the same DOM through Xerces-C's links, tool "xerces", ID "dom-walk".
#include <ambrite/xml/dom.h>
#include <ambrite/xml/foundation.h>
#include <ambrite/xml/streams.h>
#include <ambrite/xml/xpath.h>
#include <unistd.h>

#include <algorithm>
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
#define CALLGRIND_DUMP_STATS_AT(x)
#endif

using namespace Ambrite::XML;

namespace {

const char16_t* const kNamespaces[][2] = {
    {u"env", u"urn:bench:envelope"},
    {u"a", u"urn:bench:orders"},
    {u"b", u"urn:bench:billing"},
    {u"xsi", u"http://www.w3.org/2001/XMLSchema-instance"},
    {u"ds", u"http://www.w3.org/2000/09/xmldsig#"},
    {u"d", u"urn:bench:default"},
};

// UTF-8 (the list's text) to UTF-16.
std::u16string fromUtf8(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        unsigned long cp;
        int extra;
        if (c < 0x80) {
            cp = c, extra = 0;
        } else if (c < 0xE0) {
            cp = c & 0x1F, extra = 1;
        } else if (c < 0xF0) {
            cp = c & 0x0F, extra = 2;
        } else {
            cp = c & 0x07, extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < s.size(); ++k, ++i) {
            cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

// UTF-16 to UTF-8 bytes, for the checksum of string results.
std::string toUtf8(const XMLCh* s) {
    std::string out;
    for (; s && *s; ++s) {
        unsigned long cp = *s;
        if (cp >= 0xD800 && cp < 0xDC00 && s[1] >= 0xDC00 && s[1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

struct Bench {
    DOMDocument* doc;
    XPath::BindingMap bindings;
    std::vector<DOMNode*> all;  // (//. | //@*) in document order
};

// One evaluation of `expression`, its result described as the peers describe theirs.
std::string evaluate(Bench& b, XPath* expression, XPathFilter* filter) {
    char out[64];
    if (filter) {
        unsigned long count = 0;
        for (DOMNode* n : b.all) count += filter->matches(n);
        std::snprintf(out, sizeof out, "nodeset:%lu", count);
        return out;
    }
    switch (expression->type(b.bindings)) {
        case XPath::NODE_SET: {
            std::unique_ptr<XPath::Iterator> nodes(expression->nodeSet(b.doc, 1, b.bindings));
            std::unique_ptr<XPath::Iterator> ordered(XPathUtil::documentOrder(nodes.get()));
            unsigned long count = 0;
            while (ordered->hasNext()) {
                ordered->next();
                ++count;
            }
            std::snprintf(out, sizeof out, "nodeset:%lu", count);
            break;
        }
        case XPath::NUMBER:
            std::snprintf(out, sizeof out, "number:%.17g",
                          expression->number(b.doc, 1, b.bindings));
            break;
        case XPath::BOOLEAN:
            std::snprintf(out, sizeof out, "boolean:%s",
                          expression->boolean(b.doc, 1, b.bindings) ? "true" : "false");
            break;
        case XPath::STRING: {
            std::unique_ptr<XMLCh, AMXMLDelete> s(expression->string(b.doc, 1, b.bindings));
            const std::string bytes = toUtf8(s.get());
            std::snprintf(
                out, sizeof out, "string:%zu:%08lx", bytes.size(),
                crc32_z(0, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
            break;
        }
    }
    return out;
}

void line(const char* doc, const std::string& id, const std::string& result,
          std::vector<double>& ms) {
    if (ms.empty()) {
        std::printf("%-8s %-14s %-20s %-24s %10s %10s %10s %4d\n", "amxml", doc, id.c_str(),
                    "error", "-", "-", "-", 0);
    } else {
        std::sort(ms.begin(), ms.end());
        const std::size_t n = ms.size();
        const double med = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
        std::printf("%-8s %-14s %-20s %-24s %10.3f %10.3f %10.3f %4d\n", "amxml", doc, id.c_str(),
                    result.c_str(), med, ms[0], ms[n - 1], static_cast<int>(n));
    }
    std::fflush(stdout);
}

// Nodes of the subtree at n, counted through Xerces-C's own first child and next sibling links.
long walk(xercesc::DOMNode* n) {
    long count = 1;
    for (xercesc::DOMNode* c = n->getFirstChild(); c; c = c->getNextSibling()) count += walk(c);
    return count;
}

// The floor of the walk-bound expressions: a bare walk of the same DOM, no XPath, timed as they
// are, in the line format with tool "xerces" and ID "dom-walk".
void walkFloor(const char* doc, DOMDocument* document, int reps) {
    std::vector<double> ms;
    long nodes = walk(document);  // untimed warm-up
    for (int i = 0; i < reps; ++i) {
        const double t = now_ms();
        nodes = walk(document);
        ms.push_back(now_ms() - t);
    }
    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    const double med = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    std::printf("%-8s %-14s %-20s nodes:%-18ld %10.3f %10.3f %10.3f %4d\n", "xerces", doc,
                "dom-walk", nodes, med, ms[0], ms[n - 1], static_cast<int>(n));
}

int run(const char* exprs, const char* path, int reps, bool collect, const char* only) {
    std::size_t length;
    unsigned char* data = read_file(path, &length);
    BlockSource source(new Block(data, static_cast<unsigned int>(length), Block::Reference));
    Bench b;
    b.doc = DOMUtil::parse(&source);
    std::free(data);
    std::vector<std::unique_ptr<XPath::Namespace>> namespaces;
    for (const auto& ns : kNamespaces) {
        namespaces.emplace_back(new XPath::Namespace(ns[1]));
        b.bindings[ns[0]] = namespaces.back().get();
    }
    {
        std::unique_ptr<XPath> all(XPathParser::parse(u"//. | //@*"));
        std::unique_ptr<XPath::Iterator> nodes(all->nodeSet(b.doc, 1, b.bindings));
        std::unique_ptr<XPath::Iterator> ordered(XPathUtil::documentOrder(nodes.get()));
        while (ordered->hasNext()) b.all.push_back(ordered->next());
    }

    FILE* f = std::fopen(exprs, "r");
    if (!f) {
        std::perror(exprs);
        return 2;
    }
    const char* doc = base_name(path);
    if (!collect && !only) walkFloor(doc, b.doc, reps);
    char text[8192];
    while (std::fgets(text, sizeof text, f)) {
        text[std::strcspn(text, "\r\n")] = 0;
        char* tab = std::strchr(text, '\t');
        if (text[0] == '#' || !tab) continue;
        *tab = 0;
        const std::string id = text;
        if (only && id != only) continue;
        const bool each = id.compare(0, 5, "each-") == 0;
        std::vector<double> ms;
        std::string result = "error";
        try {
            std::unique_ptr<XPath> expression(XPathParser::parse(fromUtf8(tab + 1).c_str()));
            std::unique_ptr<XPathFilter> filter;
            XPath* tree = expression.get();
            if (each) filter.reset(new XPathFilter(expression.release(), b.bindings));
            result = evaluate(b, tree, filter.get());  // untimed warm-up
            for (int i = 0; i < reps; ++i) {
                if (filter) filter->reset();  // each run pays for the invariant parts again
                if (collect) CALLGRIND_TOGGLE_COLLECT;
                const double t = now_ms();
                result = evaluate(b, tree, filter.get());
                ms.push_back(now_ms() - t);
                if (collect) CALLGRIND_TOGGLE_COLLECT;
            }
            if (collect) CALLGRIND_DUMP_STATS_AT(id.c_str());
        } catch (const Exception& e) {
            std::cerr << id << ": " << e << "\n";
            ms.clear();
        }
        line(doc, id, result, ms);
    }
    std::fclose(f);
    DocumentRelease()(b.doc);
    return 0;
}

}  // namespace

int xpathMain(int argc, char** argv) {
    int reps = 5, c;
    bool collect = false;
    const char* only = nullptr;
    while ((c = getopt(argc, argv, "n:ci:")) != -1) {
        switch (c) {
            case 'n':
                reps = std::atoi(optarg);
                break;
            case 'c':
                collect = true;
                break;
            case 'i':
                only = optarg;
                break;
            default:
                std::fprintf(stderr, "usage: %s --xpath [-n REPS] [-c] [-i ID] EXPRESSIONS FILE\n",
                             argv[0]);
                return 2;
        }
    }
    if (argc - optind != 2 || reps < 1) {
        std::fprintf(stderr, "usage: %s --xpath [-n REPS] [-c] [-i ID] EXPRESSIONS FILE\n",
                     argv[0]);
        return 2;
    }
    try {
        DOMUtil::Init init;
        return run(argv[optind], argv[optind + 1], reps, collect, only);
    } catch (const Exception& e) {
        std::cerr << argv[optind + 1] << ": " << e << "\n";
        return 1;
    }
}
