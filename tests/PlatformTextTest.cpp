// Code page conversion both ways and IsTextUnicode (platform/Text.h,
// platform/TextEncode.h): the bytes edited XML files get and the text read
// from them. The expected values hold for both backends: our own converter
// on POSIX, Windows' under Wine. And the encoding detection of text files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "platform/Strings.h"
#include "platform/Text.h"
#include "platform/TextEncode.h"
#include "platform/os/FileSystem.h"
#include "platform/os/TextFile.h"
#include "support/ScratchFolder.h"

namespace {

using platform::kCodePageUtf8;
using platform::MultiByteToWide;
using platform::WideToCodePage;

TEST(PlatformText, Utf8) {
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {"empty", "", u""},
        {"ascii", "plain <xml/>", u"plain <xml/>"},
        {"two bytes", "caf\xC3\xA9", u"caf\u00E9"},
        {"three bytes", "\xE2\x82\xAC\xE4\xB8\xAD", u"\u20AC\u4E2D"},
        {"four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"largest", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"last before surrogates", "\xED\x9F\xBF", u"\uD7FF"},
        {"byte order mark kept", "\xEF\xBB\xBF" "a", u"\uFEFFa"},
        {"embedded NUL", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        // Invalid input: one U+FFFD per byte that cannot start a sequence,
        // per cut-short sequence, and per lead byte with an out-of-range
        // second byte (which it swallows).
        {"lone continuation", "a\x80z", u"a\uFFFDz"},
        {"invalid lead bytes", "\xFF\xC0\xC1\xF5\xF8", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"cut short by ASCII", "\xE2\x82" "A", u"\uFFFDA"},
        {"cut short at the end", "a\xE2\x82", u"a\uFFFD"},
        {"four cut short", "\xF0\x9F\x98" "A", u"\uFFFDA"},
        {"lead then ASCII", "\xC2" "A", u"\uFFFDA"},
        {"overlong two", "\xC0\x80", u"\uFFFD\uFFFD"},
        {"overlong three", "\xE0\x80\x80", u"\uFFFD\uFFFD"},
        {"overlong four", "\xF0\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "a\xED\xA0\x80z", u"a\uFFFD\uFFFDz"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
    };
    for (const Case& c : cases) EXPECT_EQ(MultiByteToWide(kCodePageUtf8, c.bytes), c.text) << c.name;
}

// The shared codec (platform/Strings.h) against itself: every text without
// lone surrogates survives UTF-8 both ways, the engine's lenient reading
// agrees with the strict one wherever the bytes are UTF-8, and Split gives
// one piece more than there are separators, which join back to the text.
TEST(SharedText, RoundTripsAndSplitsRandomText) {
    std::mt19937 random(18);
    const std::u16string alphabet[] = {u"a", u";", u"\u00E9", u"\u20AC", u"\uFFFF", std::u16string(1, u'\0'),
                                       u"\U0001F600"};
    for (int round = 0; round < 2000; ++round) {
        std::u16string text;
        for (int n = random() % 12; n > 0; --n) text += alphabet[random() % 7];
        bool exact = false;
        const std::string utf8 = strings::ToUtf8(text, &exact);
        EXPECT_TRUE(exact);
        EXPECT_EQ(strings::FromUtf8(utf8), text);
        EXPECT_EQ(strings::FromUtf8OrLatin1(utf8), text);
        EXPECT_EQ(MultiByteToWide(kCodePageUtf8, utf8), text);
        const auto pieces = strings::Split(text, u';');
        std::u16string joined;
        for (std::size_t i = 0; i < pieces.size(); ++i) joined += (i == 0 ? u"" : u";") + pieces[i];
        EXPECT_EQ(joined, text);
        EXPECT_EQ(pieces.size(), 1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), u';')));
    }
    bool exact = true;
    EXPECT_EQ(strings::ToUtf8(u"a\xD800" u"b", &exact), "a\xEF\xBF\xBD" "b");
    EXPECT_FALSE(exact);
    // Bytes that are not UTF-8: U+FFFD for the strict reading, Latin-1 for the lenient one.
    EXPECT_EQ(strings::FromUtf8OrLatin1("caf\xE9 \xC3\xA9"), u"caf\u00E9 \u00E9");
    EXPECT_EQ(strings::FromUtf8("caf\xE9 \xC3\xA9"), u"caf\uFFFD \u00E9");
}

std::string BigEndian(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c >> 8));
        bytes.push_back(static_cast<char>(c & 0xFF));
    }
    return bytes;
}

TEST(PlatformText, IsTextUnicodeOnOrdinaryText) {
    const std::u16string latin = u"<?xml version=\"1.0\"?>\r\n<config name=\"Gr\u00FC\u00DFe aus K\u00F6ln\"/>\r\n";
    struct Case {
        const char* name;
        std::string bytes;
        bool statistics;
        bool nullBytes;
    };
    const Case cases[] = {
        {"UTF-16LE", strings::ToUtf16Le(latin), true, true},
        {"UTF-16BE", BigEndian(latin), false, true},
        {"ASCII", "<?xml version=\"1.0\"?>\r\n<config name=\"plain\"/>\r\n", false, false},
        {"UTF-8", "<a>Gr\xC3\xBC\xC3\x9F" "e</a>", false, false},
        {"Windows-1252", "<a>Gr\xFC\xDF" "e \x80</a>", false, false},
        {"one character", strings::ToUtf16Le(u"A"), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::IsTextUnicode(c.bytes.data(), c.bytes.size(), platform::kIsTextUnicodeStatistics),
                  c.statistics)
            << c.name;
        EXPECT_EQ(platform::IsTextUnicode(c.bytes.data(), c.bytes.size(), platform::kIsTextUnicodeNullBytes),
                  c.nullBytes)
            << c.name;
    }
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

// Encoding detection of text files, on either backend.
std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string bytes;
    for (char16_t c : text) {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return bytes;
}

const std::u16string kListing =
    u"c:\\program files\\app\\web.config\r\nD:AI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)\r\n";

TEST(TextFile, DetectsAndDecodesEachEncoding) {
    struct Row {
        const char* name;
        std::string bytes;
        TextEncoding encoding;
        std::u16string text;
    };
    const Row rows[] = {
        {"utf16le bom", "\xFF\xFE" + Utf16(kListing, false), TextEncoding::Utf16LeBom, kListing},
        {"utf16be bom", "\xFE\xFF" + Utf16(kListing, true), TextEncoding::Utf16BeBom, kListing},
        {"utf8 bom", "\xEF\xBB\xBF" "caf\xC3\xA9 \xE2\x82\xAC", TextEncoding::Utf8Bom, u"caf\u00E9 \u20AC"},
        {"utf16le", Utf16(kListing, false), TextEncoding::Utf16Le, kListing},
        {"utf16be", Utf16(kListing, true), TextEncoding::Utf16Be, kListing},
        {"utf8", "na\xC3\xAFve \xE2\x82\xAC", TextEncoding::Utf8, u"na\u00EFve \u20AC"},
        {"utf8 cut at the end", "ok \xE2\x82", TextEncoding::Utf8, u"ok \uFFFD"},
        {"ansi high bytes", "caf\xE9 \x80 \x93", TextEncoding::Ansi, u"caf\u00E9 \u20AC \u201C"},
        {"ansi continuation first", "\x80\x80", TextEncoding::Ansi, u"\u20AC\u20AC"},
        {"ansi four-byte lead", "x\xF0\x9F\x98\x80", TextEncoding::Ansi, u"x\u00F0\u0178\u02DC\u20AC"},
        {"plain ascii", "plain text\r\n", TextEncoding::Ansi, u"plain text\r\n"},
        {"empty", "", TextEncoding::Ansi, u""},
    };
    test::ScratchFolder scratch;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(DetectTextEncoding(r.bytes), r.encoding);
        const auto path = scratch / u"list.txt";
        ASSERT_TRUE(WriteWholeFile(path, r.bytes));
        std::u16string text;
        TextEncoding encoding;
        ASSERT_TRUE(ReadTextFile(path, &text, &encoding));
        EXPECT_EQ(encoding, r.encoding);
        if (r.encoding != TextEncoding::Utf8 || r.text.find(u'\uFFFD') == std::u16string::npos) {
            EXPECT_EQ(text, r.text);
        }
    }
}

}  // namespace
