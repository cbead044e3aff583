// The byte conversions of edited XML files: every build, with Windows'
// converter or our own, must give these bytes.
#include <gtest/gtest.h>

#include <string>

#include "platform/Text.h"
#include "platform/TextEncode.h"

namespace {

using platform::WideToCodePage;

TEST(TextEncode, Utf8) {
    struct Case {
        const char* name;
        std::u16string text;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", u"", ""},
        {"ascii", u"<a x=\"1\"/>\r\n", "<a x=\"1\"/>\r\n"},
        {"nul", std::u16string(1, u'\0'), std::string(1, '\0')},
        {"two bytes", u"\u00E9\u07FF", "\xC3\xA9\xDF\xBF"},
        {"three bytes", u"\u0800\u20AC\uFFFF", "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"},
        {"pair", u"\U0001F600\U0010FFFF", "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {"lone high", u"a\xD800" u"b", "a\xEF\xBF\xBD" "b"},
        {"lone low", u"\xDC00", "\xEF\xBF\xBD"},
        {"reversed pair", u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"high at the end", u"x\xDBFF", "x\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        bool usedDefault = true;
        EXPECT_EQ(WideToCodePage(platform::kCodePageUtf8, c.text, &usedDefault), c.bytes) << c.name;
        EXPECT_FALSE(usedDefault) << c.name;
    }
}

// Bytes 0x80..0x9F of Windows-1252; the five undefined bytes stand for the
// C1 control of the same value.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

TEST(TextEncode, Windows1252HoldsEachOfItsBytes) {
    for (int b = 0; b < 256; ++b) {
        const char16_t unit = b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : static_cast<char16_t>(b);
        bool usedDefault = true;
        const std::string bytes = WideToCodePage(platform::kCodePageWindows1252, std::u16string(1, unit), &usedDefault);
        EXPECT_EQ(bytes, std::string(1, static_cast<char>(b))) << "byte " << b;
        EXPECT_FALSE(usedDefault) << "byte " << b;
    }
}

TEST(TextEncode, Windows1252UsesTheDefaultCharacterWithoutLookAlikes) {
    struct Case {
        const char* name;
        std::u16string text;
        std::string bytes;
    };
    const Case cases[] = {
        {"C1 controls the code page maps elsewhere", u"\u0080\u0085\u009F", "???"},
        {"A with macron is not written as A", u"\u0100", "?"},
        {"full-width A", u"\uFF21", "?"},
        {"not equal", u"\u2260", "?"},
        {"CJK", u"\u4E2D\u6587", "??"},
        {"a pair gives one default per unit", u"\U0001F600", "??"},
        {"mixed", u"Caf\u00E9 \u20AC\u0101", "Caf\xE9 \x80?"},
    };
    for (const Case& c : cases) {
        bool usedDefault = false;
        EXPECT_EQ(WideToCodePage(platform::kCodePageWindows1252, c.text, &usedDefault), c.bytes) << c.name;
        EXPECT_TRUE(usedDefault) << c.name;
    }
}

// A converter that substitutes similar-looking characters would map far
// more than 256 code units to a byte other than "?".
TEST(TextEncode, Windows1252MapsExactly256CodeUnits) {
    std::u16string all;
    for (std::uint32_t u = 0; u <= 0xFFFF; ++u) all.push_back(static_cast<char16_t>(u));
    const std::string bytes = WideToCodePage(platform::kCodePageWindows1252, all);
    ASSERT_EQ(bytes.size(), all.size());
    int held = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '?' || all[i] == u'?') ++held;
    }
    EXPECT_EQ(held, 256);
}

TEST(TextEncode, OtherCodePagesGiveNoBytes) {
    EXPECT_EQ(WideToCodePage(437, u"abc"), "");
    EXPECT_EQ(WideToCodePage(1200, u"abc"), "");
    EXPECT_EQ(WideToCodePage(platform::kCodePageWindows1252, u""), "");
}

}  // namespace
