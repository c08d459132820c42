#include "support/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace amxml_test;

namespace {

typedef std::unique_ptr<XMLCh, AMXMLDelete> Owned;

// The result as UTF-8, or "!" and the printed exception.
template <class F>
std::string outcome(F f) {
    try {
        Owned result(f());
        return utf8(result.get());
    } catch (const Exception& e) {
        return "!" + printed(e);
    }
}

std::string resolve(const char* uri, const char* base) {
    std::u16string u = widen(uri), b = base ? widen(base) : u"";
    return outcome([&] { return URIUtil::resolve(u.c_str(), base ? b.c_str() : nullptr); });
}

std::string failed(const std::string& message) { return "!Ambrite::XML::Exception 12: " + message; }

}  // namespace

TEST(URIUtil, Resolve) {
    struct Case {
        const char* uri;
        const char* base;
        std::string expected;
    };
    const Case kCases[] = {
        {"b/c", "s://h/a/x", "s://h/a/b/c"},
        {"../d", "s://h/a/b/x", "s://h/a/d"},
        {"/p", "s://h/a/b", "s://h/p"},
        {"/p", "s://h", "s://h/p"},
        {"/p", "file:///d/x", "file:///p"},
        {"//g/p", "s://h/a", "s://g/p"},
        {"#f", "s://h/a", "s://h/a#f"},
        {"s://h/a/./b/../c", nullptr, "s://h/a/c"},
        {"s://h/a/./b/../c", "junk", "s://h/a/c"},
        {"../../../x", "s://h/a/b", "s://h/x"},
        {"a/..", "s://h/", "s://h/"},
        {".", "s://h/a/b", "s://h/a/"},
        {"..", "s://h/a/b", "s://h/"},
        {"", "s://h/a/b", "s://h/a/"},
        {"a//b///c", "s://h/", "s://h/a/b/c"},
        {"b", "s://h", "s://h/b"},
        {"b", "s://", "s:///b"},
        {"x+y-z.1:rest", nullptr, "x+y-z.1:rest"},
        {"a:", nullptr, "a:"},
        {"s:/a/../b", nullptr, "s:/b"},
        {"s:a/./b", nullptr, "s:a/b"},
        {"s://h/..", nullptr, "s://h/"},
        {"s://h/.../a", nullptr, "s://h/.../a"},
        {"s://h/.a/..b", nullptr, "s://h/.a/..b"},
        {"1a:b", "s://h/", "s://h/1a:b"},
        {":", "s://h/", "s://h/:"},
        {"%", "s://h/", "s://h/%"},
        {"b", nullptr, failed("No base URI against which to resolve relative URI: b")},
        {"b", "a/b", failed("Base URI is not absolute: a/b")},
        {"b", "s:/h", failed("Base URI is not absolute: s:/h")},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.uri) + " against " + (c.base ? c.base : "null"));
        EXPECT_EQ(c.expected, resolve(c.uri, c.base));
    }
}

TEST(URIUtil, PathnameAndFilename) {
    struct Case {
        const char* uri;
        std::string pathname;
        std::string filename;
    };
    const Case kCases[] = {
        {"file:///d/f.xml", "file:///d/", "f.xml"},
        {"file:///d/", "file:///d/", failed("No file name in URI: file:///d/")},
        {"f.xml", failed("No path name in URI: f.xml"), "f.xml"},
        {"/", "/", failed("No file name in URI: /")},
        {"", failed("No path name in URI: "), failed("No file name in URI: ")},
        {"a/b/c", "a/b/", "c"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.uri);
        std::u16string u = widen(c.uri);
        EXPECT_EQ(c.pathname, outcome([&] { return URIUtil::pathname(u.c_str()); }));
        EXPECT_EQ(c.filename, outcome([&] { return URIUtil::filename(u.c_str()); }));
    }
}

TEST(URIUtil, Unescape) {
    struct Case {
        const char* uri;
        std::string expected;
    };
    const Case kCases[] = {
        {"a%20b", "a b"},
        {"%41%7a%7F+", "Az\x7F+"},
        {"", ""},
        {"a%2", failed("Invalid escape in URL: a%2")},
        {"%", failed("Invalid escape in URL: %")},
        {"%g0", failed("Invalid escape in URL: %g0")},
        {"%0g", failed("Invalid escape in URL: %0g")},
        {"a%00b", failed("Invalid escape in URL: a%00b")},
        {"%C3%A9", failed("UTF-8 URLs not supported: %C3%A9")},
        {"%80", failed("UTF-8 URLs not supported: %80")},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.uri);
        std::u16string u = widen(c.uri);
        EXPECT_EQ(c.expected, outcome([&] { return URIUtil::unescape(u.c_str()); }));
    }
}

TEST(URIUtil, Transcode) {
    std::unique_ptr<char, AMXMLDelete> latin(URIUtil::transcode(u"a\u00E9\u00FF"));
    EXPECT_EQ("a\xE9\xFF", std::string(latin.get()));
    std::unique_ptr<char, AMXMLDelete> empty(URIUtil::transcode(u""));
    EXPECT_EQ("", std::string(empty.get()));
    try {
        URIUtil::transcode(u"a\u0100");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(12, e.id());
        EXPECT_EQ(u"Invalid non latin-1 URL: a\u0100", u16(e.what().str()));
    }
}

TEST(URIUtil, CwdIsTheWorkingDirectoryAsFileURI) {
    char dir[4096];
    ASSERT_NE(nullptr, getcwd(dir, sizeof dir));
    const std::string home(dir);
    Owned uri(URIUtil::cwd());
    EXPECT_EQ("file://" + home + "/", utf8(uri.get()));

    // Directory bytes stay byte values (Latin-1), so transcode gives them back unchanged; the
    // root gets no second slash.
    std::string pattern = testing::TempDir() + "amxml-\xC3\xA9-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
    ASSERT_EQ(0, chdir(pattern.c_str()));
    ASSERT_NE(nullptr, getcwd(dir, sizeof dir));
    uri.reset(URIUtil::cwd());
    std::unique_ptr<char, AMXMLDelete> narrow(URIUtil::transcode(uri.get()));
    EXPECT_EQ("file://" + std::string(dir) + "/", std::string(narrow.get()));
    ASSERT_EQ(0, chdir("/"));
    uri.reset(URIUtil::cwd());
    EXPECT_EQ(u"file:///", u16(uri.get()));
    ASSERT_EQ(0, chdir(home.c_str()));
    rmdir(pattern.c_str());
}
