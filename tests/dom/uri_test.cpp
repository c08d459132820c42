#include <gtest/gtest.h>
#include <unistd.h>

#include "support/stream_doubles.h"

using namespace amxml_test;

namespace {

std::string text(XMLCh* s) { return utf8(std::unique_ptr<XMLCh, AMXMLDelete>(s).get()); }
std::string text(char* s) { return std::unique_ptr<char, AMXMLDelete>(s).get(); }

// The result as bytes (XMLCh strings in UTF-8), or "!" and the id and message of the failure.
// Every call is also swept: run with its first, second... allocation failing, it ends in its
// own outcome or Exception 18 and leaves nothing behind.
template <class F>
std::string outcome(F f) {
    std::string result, failure = thrown([&] { result = text(f()); });
    if (failure != "no exception") {
        EXPECT_EQ(failure, sweepFailing(std::stoi(failure), [&] { text(f()); }));
        return "!" + failure;
    }
    EXPECT_GT(sweep([&] { text(f()); }), 0u);
    return result;
}

std::string call(XMLCh* (*f)(const XMLCh*), const std::string& uri) {
    return outcome([&] { return f(widen(uri).c_str()); });
}

std::string resolve(const char* uri, const char* base) {
    const std::u16string u = widen(uri), b = widen(base ? base : "");
    return outcome([&] { return URIUtil::resolve(u.c_str(), base ? b.c_str() : nullptr); });
}

}  // namespace

// clang-format off
TEST(URIUtil, Resolve) {
    const std::tuple<const char*, const char*, std::string> kCases[] = {
        {"b/c", "s://h/a/x", "s://h/a/b/c"},      {"../d", "s://h/a/b/x", "s://h/a/d"},
        {"/p", "s://h/a/b", "s://h/p"},           {"/p", "s://h", "s://h/p"},
        {"/p", "file:///d/x", "file:///p"},       {"//g/p", "s://h/a", "s://g/p"},
        {"#f", "s://h/a", "s://h/a#f"},           {"s://h/a/./b/../c", nullptr, "s://h/a/c"},
        {"s://h/a/./b/../c", "junk", "s://h/a/c"}, {"../../../x", "s://h/a/b", "s://h/x"},
        {"a/..", "s://h/", "s://h/"},             {".", "s://h/a/b", "s://h/a/"},
        {"..", "s://h/a/b", "s://h/"},            {"", "s://h/a/b", "s://h/a/"},
        {"a//b///c", "s://h/", "s://h/a/b/c"},    {"b", "s://h", "s://h/b"},
        {"b", "s://", "s:///b"},                  {"x+y-z.1:rest", nullptr, "x+y-z.1:rest"},
        {"a:", nullptr, "a:"},                    {"s:/a/../b", nullptr, "s:/b"},
        {"s:a/./b", nullptr, "s:a/b"},            {"s://h/..", nullptr, "s://h/"},
        {"s://h/.../.a/..b", nullptr, "s://h/.../.a/..b"},
        {"1a:b", "s://h/", "s://h/1a:b"},         {":", "s://h/", "s://h/:"},
        {"b", nullptr, "!12: No base URI against which to resolve relative URI: b"},
        {"b", "a/b", "!12: Base URI is not absolute: a/b"},
        {"b", "s:/h", "!12: Base URI is not absolute: s:/h"},
    };
    for (const auto& [uri, base, expected] : kCases) {
        EXPECT_EQ(expected, resolve(uri, base)) << uri << " against " << (base ? base : "null");
    }
}
// clang-format on

TEST(URIUtil, PathnameAndFilename) {
    const std::string kCases[][3] = {
        {"file:///d/f.xml", "file:///d/", "f.xml"},
        {"file:///d/", "file:///d/", "!12: No file name in URI: file:///d/"},
        {"f.xml", "!12: No path name in URI: f.xml", "f.xml"},
        {"/", "/", "!12: No file name in URI: /"},
        {"", "!12: No path name in URI: ", "!12: No file name in URI: "},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c[1], call(URIUtil::pathname, c[0])) << c[0];
        EXPECT_EQ(c[2], call(URIUtil::filename, c[0])) << c[0];
    }
}

TEST(URIUtil, UnescapeAndTranscode) {
    const std::string kCases[][2] = {
        {"a%20b", "a b"},
        {"%41%7a%7F+", "Az\x7F+"},
        {"a%2", "!12: Invalid escape in URL: a%2"},
        {"%", "!12: Invalid escape in URL: %"},
        {"%g0", "!12: Invalid escape in URL: %g0"},
        {"a%00b", "!12: Invalid escape in URL: a%00b"},
        {"%C3%A9", "!12: UTF-8 URLs not supported: %C3%A9"},
        {"%80", "!12: UTF-8 URLs not supported: %80"},
    };
    for (const auto& c : kCases) EXPECT_EQ(c[1], call(URIUtil::unescape, c[0])) << c[0];
    EXPECT_EQ("a\xE9\xFF", outcome([] { return URIUtil::transcode(u"a\u00E9\u00FF"); }));
    EXPECT_EQ("!12: Invalid non latin-1 URL: a\xC4\x80",
              outcome([] { return URIUtil::transcode(u"a\u0100"); }));
}

// Directory bytes stay byte values (Latin-1), so transcode gives them back unchanged, and a "%"
// is escaped, so unescape does too; the root gets no second slash.
TEST(URIUtil, CwdIsTheWorkingDirectoryAsFileURI) {
    char home[4096], dir[4096];
    ASSERT_NE(nullptr, getcwd(home, sizeof home));
    std::string latin = testing::TempDir() + "amxml-\xC3\xA9 100%41%-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(&latin[0]));
    auto cwd = [](bool unescaped) {
        return outcome([&] {
            std::unique_ptr<XMLCh, AMXMLDelete> uri(URIUtil::cwd());
            if (unescaped) uri.reset(URIUtil::unescape(uri.get()));
            return URIUtil::transcode(uri.get());
        });
    };
    for (const std::string& d : {std::string(home), latin}) {
        ASSERT_EQ(0, chdir(d.c_str()));
        ASSERT_NE(nullptr, getcwd(dir, sizeof dir));
        EXPECT_EQ("file://" + std::string(dir) + "/", cwd(true));
    }
    EXPECT_NE(std::string::npos, cwd(false).find("\xC3\xA9 100%2541%25-"));
    ASSERT_EQ(0, chdir("/"));
    EXPECT_EQ("file:///", cwd(false));
    ASSERT_EQ(0, chdir(home));
    rmdir(latin.c_str());
}
