// The bytes edited XML files get: Windows' converter on Windows, our own on
// Linux, and the same expected bytes for both.
#include <gtest/gtest.h>

#include <string>

#include "platform/Text.h"
#include "platform/TextEncode.h"

namespace {

using platform::WideToCodePage;

struct Case {
    const char* name;
    std::u16string text;
    std::string bytes;
};

TEST(TextEncode, Utf8) {
    const Case cases[] = {
        {"ascii and nul", std::u16string(u"<a/>\r\n") + u'\0', std::string("<a/>\r\n") + '\0'},
        {"two and three bytes", u"\u00E9\u07FF\u0800\u20AC\uFFFF", "\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"},
        {"pairs", u"\U0001F600\U0010FFFF", "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {"lone surrogates", u"a\xD800" u"b\xDC00\xDBFF", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) EXPECT_EQ(WideToCodePage(platform::kCodePageUtf8, c.text), c.bytes) << c.name;
}

// Both ways, all 256 bytes in one text.
TEST(TextEncode, Windows1252HoldsEachOfItsBytes) {
    // Bytes 0x80..0x9F; the five undefined ones stand for the C1 control of their value.
    constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string bytes;
    std::u16string units;
    for (int b = 0; b < 256; ++b) {
        bytes.push_back(static_cast<char>(b));
        units.push_back(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : static_cast<char16_t>(b));
    }
    bool usedDefault = true;
    EXPECT_EQ(WideToCodePage(platform::kCodePageWindows1252, units, &usedDefault), bytes);
    EXPECT_FALSE(usedDefault);
    EXPECT_EQ(platform::MultiByteToWide(platform::kCodePageWindows1252, bytes), units);
}

TEST(TextEncode, Windows1252WritesItsDefaultCharacterNotALookAlike) {
    const Case cases[] = {
        {"C1 controls the code page maps elsewhere", u"\u0080\u009F", "??"},
        {"A with macron", u"\u0100", "?"},
        {"full-width A", u"\uFF21", "?"},
        {"a pair gives one per unit", u"\U0001F600", "??"},
        {"mixed", u"Caf\u00E9 \u20AC\u0101", "Caf\xE9 \x80?"},
    };
    for (const Case& c : cases) {
        bool usedDefault = false;
        EXPECT_EQ(WideToCodePage(platform::kCodePageWindows1252, c.text, &usedDefault), c.bytes) << c.name;
        EXPECT_TRUE(usedDefault) << c.name;
    }
    // A converter with look-alike substitutes maps far more than 256 units.
    std::u16string all;
    for (std::uint32_t u = 0; u <= 0xFFFF; ++u) all.push_back(static_cast<char16_t>(u));
    const std::string bytes = WideToCodePage(platform::kCodePageWindows1252, all);
    ASSERT_EQ(bytes.size(), all.size());
    int held = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) held += bytes[i] != '?' || all[i] == u'?';
    EXPECT_EQ(held, 256);
    EXPECT_EQ(WideToCodePage(437, u"abc"), "");
}

}  // namespace
