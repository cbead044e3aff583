// Encoding detection of text files, on either backend.
#include <gtest/gtest.h>

#include "platform/os/FileSystem.h"
#include "platform/os/TextFile.h"
#include "support/ScratchFolder.h"

namespace {

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

TEST(TextFile, OnlyTheFirstBlockDecides) {
    // ASCII for 4096 bytes, then UTF-8: the block saw no multi-byte sequence.
    std::string bytes(4096, 'a');
    bytes += "\xC3\xA9";
    EXPECT_EQ(DetectTextEncoding(bytes), TextEncoding::Ansi);
    test::ScratchFolder scratch;
    ASSERT_TRUE(WriteWholeFile(scratch / u"big.txt", bytes));
    std::u16string text;
    ASSERT_TRUE(ReadTextFile(scratch / u"big.txt", &text));
    EXPECT_EQ(text.size(), 4098u);
    EXPECT_EQ(text.substr(4096), u"\u00C3\u00A9");
}

TEST(TextFile, MissingFileFails) {
    test::ScratchFolder scratch;
    std::u16string text = u"untouched";
    EXPECT_FALSE(ReadTextFile(scratch / u"none.txt", &text));
    EXPECT_EQ(text, u"untouched");
}

}  // namespace
