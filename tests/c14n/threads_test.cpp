// Signature servers verify many documents at once. Eight threads parse, canonicalize in every
// mode (whole documents and subsets, with and without inclusive prefixes), evaluate XPath and
// serialize documents of their own at the same time, documents that fail included, and every
// output must be the one a single thread gives. CI runs this under ThreadSanitizer (.ci/run), which
// also checks that the library's statics are only read, or are thread-local, during the run.
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/nodeset.h>
#include <ambrite/xml/xpath.h>
#include <gtest/gtest.h>

#include <thread>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;
using C14n::CanonicalizerParameters;
using C14n::DOMCanonicalizer;

namespace {

const int kThreads = 8;
const int kRounds = 16;

// Documents of many shapes, numbered per thread so that no two threads share one: namespaces
// and their undeclarations, attributes to sort, entities, DTD defaults, comments, processing
// instructions, CDATA, characters beyond the BMP, XML 1.1 references, depth, and documents
// that fail in the parser or in the canonicalizer.
std::vector<std::string> documents(int thread) {
    const std::string n = std::to_string(thread);
    return {
        "<?pi " + n + "?><r xmlns='urn:d" + n + "' xmlns:p='urn:p' z='1' p:a='2' a='" + n +
            "'><p:c xmlns:q='urn:q" + n + "'><d xmlns='' q:x='&lt;&amp;\t'>t&#xD;" + n +
            "</d><!--c--><![CDATA[<&>]]></p:c>\xF0\x9F\x98\x80</r><!--after-->",
        "<!DOCTYPE r [<!ENTITY e '<e" + n + "/>x'><!ATTLIST r d CDATA 'v" + n +
            "' xmlns:w CDATA 'urn:w'>]><r>&e;&e;" + repeat("<s>" + n + "</s>", 50) + "</r>",
        repeat("<a xmlns:x" + n + "='urn:x'>", 300) + n + repeat("</a>", 300),
        "<?xml version='1.1'?><r b='&#x85;'>&#x7F;&#x9F;" + n + "</r>",
        "<?xml version='1.1'?><r>&#x1;" + n + "</r>",
        "<?xml version='1.0' encoding='UTF-7'?><r>+ADw-h" + n + "+AD4-</r>",
        "<r>" + n + "</r>\xE2\x82",
        "<!DOCTYPE r [<!ATTLIST r xmlns:xml CDATA 'urn:" + n + "'>]><r/>",
        "<r xmlns='rel" + n + "'/>",
        "<r" + repeat(" a=''", 2) + "/>",
    };
}

// XPath over the document with `context` as context node and here(): parsed per thread (the
// function library and the parser's tables are shared), location paths on every axis, the
// string functions and predicates with positions, with bindings made per evaluation.
std::string evaluated(DOMNode* context) {
    static const char16_t* const kExpressions[] = {
        u"translate(normalize-space(/), 'aeiou', 'AEIOU')",
        u"concat(substring-before(string(here()), '<'), '|', substring(., 2, 7))",
        u"string-length(/) div 3",
        u"count(//node() | //@*) * 1000 + count(//namespace::*)",
        u"string(//*[last()]/preceding::node()[2])",
        u"sum(//*/@*[starts-with(name(), 'a')]) + count(descendant::*[position() mod 2 = 1])",
        u"name((//*)[3]/ancestor-or-self::*[1]) = local-name(following::*[1])",
        u"string(//comment()[1] | //processing-instruction()[1] | //text()[lang('en')])",
    };
    XPath::BindingMap bindings;
    XPath::init(bindings, context, context);
    struct Release {
        XPath::BindingMap& map;
        ~Release() { XPath::init(map, nullptr, nullptr); }
    } release{bindings};
    std::string out;
    for (const char16_t* text : kExpressions) {
        try {
            const std::unique_ptr<XPath> e(XPathParser::parse(text));
            out += utf8(Owned(e->string(context, 1, bindings)).get()) + ";";
        } catch (const Exception& e) {
            out += printed(e) + ";";
        }
    }
    return out;
}

// The outcome of everything done with one document, as text.
std::string process(const std::string& xml) {
    std::string out;
    try {
        DocumentPtr d = parse(xml);
        DOMNode* root = d->getDocumentElement();
        DOMNode* first = root->getFirstChild();
        CanonicalizerParameters prefixes;
        prefixes.unsuppressedNamespacePrefix(u"p");
        prefixes.unsuppressedNamespacePrefix(nullptr);
        for (int m = 0; m < 4; ++m) {
            const DOMCanonicalizer::Mode mode = DOMCanonicalizer::Mode(m);
            NodeSet whole(d.get(), nullptr, nullptr, false);
            BufferSink sink;
            DOMCanonicalizer::canonicalize(&whole, &sink, mode, &prefixes);
            out += bytes(sink) + "|";
            if (!first) continue;
            NodeSet subset(d.get(), both(tree(root), notTree(first)), nullptr, false);
            RecordingSink characters;
            DOMCanonicalizer::canonicalize(&subset, &characters, mode, nullptr);
            out += utf8(characters.text()) + "|";
        }
        out += evaluated(root) + "|";
        BufferSink serialized;
        DOMSerializer::serialize(d.get(), serialized, nullptr);
        out += bytes(serialized);
    } catch (const Exception& e) {
        out += printed(e);
    }
    return out;
}

}  // namespace

TEST(Threads, EightThreadsGiveWhatOneThreadGives) {
    std::vector<std::vector<std::string>> inputs(kThreads), expected(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        inputs[t] = documents(t);
        for (const std::string& xml : inputs[t]) expected[t].push_back(process(xml));
    }
    // Sanity: the documents do fail and succeed where they should.
    ASSERT_EQ(0u, expected[0][4].find("Ambrite::XML::Exception 13006: Uncanonicalizable"));
    ASSERT_EQ(std::string::npos, expected[0][0].find("Exception"));

    std::vector<std::vector<std::string>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &inputs, &results] {
            for (int round = 0; round < kRounds; ++round) {
                for (const std::string& xml : inputs[t]) results[t].push_back(process(xml));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(kRounds * expected[t].size(), results[t].size());
        for (std::size_t i = 0; i < results[t].size(); ++i) {
            EXPECT_EQ(expected[t][i % expected[t].size()], results[t][i])
                << "thread " << t << ", document " << i % expected[t].size();
        }
    }
}
