#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

// Records counted writes as "C:text" and zero-terminated writes as "Z:text", in order.
class PatternSink : public CharacterSink {
public:
    void write(const XMLCh* text, unsigned int count) override {
        events.push_back(u"C:" + std::u16string(text, count));
    }
    void write(const XMLCh* text) override { events.push_back(u"Z:" + std::u16string(text)); }
    void close() override {}
    const XMLCh* encoding() const override { return nullptr; }

    std::vector<std::u16string> events;
};

std::u16string escaped(void (*escape)(const XMLCh*, CharacterSink&), const std::u16string& v) {
    RecordingSink sink;
    escape(v.c_str(), sink);
    return sink.text();
}

}  // namespace

TEST(Escape, ReplacesExactlyTheTableEntries) {
    // Units below 0x40 that have a replacement: unit, in attribute values, in text.
    const struct {
        char16_t unit;
        const char16_t* attr;
        const char16_t* text;
    } kReplaced[] = {{u'\t', u"&#x9;", nullptr},  {u'\n', u"&#xA;", nullptr},
                     {u'\r', u"&#xD;", u"&#xD;"}, {u'"', u"&quot;", nullptr},
                     {u'&', u"&amp;", u"&amp;"},  {u'<', u"&lt;", u"&lt;"},
                     {u'>', nullptr, u"&gt;"}};
    for (char16_t u = 1; u < 0x40; ++u) {
        SCOPED_TRACE(static_cast<int>(u));
        std::u16string attr(1, u), text(1, u);
        for (const auto& r : kReplaced) {
            if (r.unit != u) continue;
            if (r.attr) attr = r.attr;
            if (r.text) text = r.text;
        }
        const std::u16string value = u"a" + std::u16string(1, u) + u"b";
        EXPECT_EQ(u"a" + attr + u"b", escaped(escapeAttr, value));
        EXPECT_EQ(u"a" + text + u"b", escaped(escapeText, value));
    }
    const std::u16string high = u"@\x7F\xE9\x20AC\xD83D\xDE00\xFFFF";
    EXPECT_EQ(high, escaped(escapeAttr, high));
    EXPECT_EQ(high, escaped(escapeText, high));
}

TEST(Escape, WritesRunsCountedAndReplacementsTerminated) {
    const struct {
        const char16_t* value;
        std::vector<std::u16string> events;
    } cases[] = {
        {u"", {}},
        {u"abcdefghij", {u"C:abcdefghij"}},
        {u"&&", {u"C:", u"Z:&amp;", u"C:", u"Z:&amp;"}},
        {u"a<b", {u"C:a", u"Z:&lt;", u"C:b"}},
        {u"ab&", {u"C:ab", u"Z:&amp;"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::u16string(c.value)));
        PatternSink attr, text;
        escapeAttr(c.value, attr);
        escapeText(c.value, text);
        EXPECT_EQ(c.events, attr.events);
        EXPECT_EQ(c.events, text.events);
    }
}

TEST(Escape, NullValueWritesNothing) {
    PatternSink sink;
    escapeAttr(nullptr, sink);
    escapeText(nullptr, sink);
    EXPECT_TRUE(sink.events.empty());
}
