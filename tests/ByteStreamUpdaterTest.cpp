// Byte edits of a loaded XML file, in each of its encodings, and what the
// observer and the log are told.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "custact/XML/src/util/ByteStreamUpdater.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/os/FileSystem.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

namespace {

struct Recorder : ByteStreamObserver {
    struct Call {
        char kind;  // 'E' erase, 'I' insert
        std::int32_t a;
        std::int32_t b;
        bool operator==(const Call& o) const { return kind == o.kind && a == o.a && b == o.b; }
    };
    void OnErase(std::int32_t start, std::int32_t end) override { calls.push_back({'E', start, end}); }
    void OnInsert(std::int32_t at, std::int32_t count) override { calls.push_back({'I', at, count}); }
    std::vector<Call> calls;
};

void PrintTo(const Recorder::Call& c, std::ostream* os) { *os << c.kind << "(" << c.a << ", " << c.b << ")"; }

const std::string kTwenty = "0123456789abcdefghij";

TEST(XmlEncoding, NamesAreFoundIgnoringCase) {
    struct Case {
        const char16_t* name;
        XmlEncoding encoding;
    };
    const Case cases[] = {
        {u"UTF-8", XmlEncoding::Utf8},          {u"utf-8", XmlEncoding::Utf8},
        {u"Utf-16", XmlEncoding::Utf16},        {u"iso-8859-1", XmlEncoding::Iso88591},
        {u"WINDOWS-1252", XmlEncoding::Windows1252}, {u"us-ascii", XmlEncoding::UsAscii},
        {u"UTF8", XmlEncoding::None},           {u"UTF-16LE", XmlEncoding::None},
        {u"cp1252", XmlEncoding::None},         {u"", XmlEncoding::None},
    };
    for (const Case& c : cases) EXPECT_EQ(FindXmlEncoding(c.name), c.encoding) << Narrow(c.name);
    EXPECT_EQ(XmlEncodingName(XmlEncoding::Windows1252), u"Windows-1252");
    EXPECT_EQ(XmlEncodingName(XmlEncoding::None), u"");
    EXPECT_EQ(XmlEncodingName(static_cast<XmlEncoding>(9)), u"");
}

TEST(ByteStreamUpdater, InsertConvertsToTheFileEncoding) {
    struct Case {
        XmlEncoding encoding;
        std::u16string text;
        std::string bytes;
    };
    const Case cases[] = {
        {XmlEncoding::Utf8, u"\u00E9", "\xC3\xA9"},
        {XmlEncoding::Utf16, u"\u00E9", std::string("\xE9\0", 2)},
        {XmlEncoding::Iso88591, u"\u00E9", "\xE9"},
        {XmlEncoding::Windows1252, u"\u00E9", "\xE9"},
        {XmlEncoding::UsAscii, u"\u00E9", "\xE9"},
        {XmlEncoding::Utf16, u"<\u4E2D>", std::string("<\0\x2D\x4E>\0", 6)},
        {XmlEncoding::Windows1252, u"\u20AC\u4E2D", "\x80?"},
        {XmlEncoding::Iso88591, u"\u20AC", "\x80"},
        {XmlEncoding::UsAscii, u"\u4E2D\u0141", "\x2D\x41"},
        {XmlEncoding::Utf8, u"\U0001F600", "\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(XmlEncodingName(c.encoding)) + " " + Narrow(c.text));
        Recorder observer;
        ByteStreamUpdater updater(&observer);
        updater.SetBytes("[]");
        updater.SetEncoding(c.encoding);
        EXPECT_EQ(updater.ByteLength(c.text), static_cast<std::int32_t>(c.bytes.size()));
        updater.Insert(1, c.text);
        EXPECT_EQ(updater.Bytes(), "[" + c.bytes + "]");
        EXPECT_EQ(observer.calls, (std::vector<Recorder::Call>{{'I', 1, static_cast<std::int32_t>(c.bytes.size())}}));
    }
}

TEST(ByteStreamUpdater, EraseClampsAndIgnoresEmptyRanges) {
    Recorder observer;
    ByteStreamUpdater updater(&observer);
    updater.SetBytes(kTwenty);
    updater.Erase(5, 5);
    updater.Erase(7, 3);
    EXPECT_TRUE(observer.calls.empty());
    EXPECT_FALSE(updater.IsModified());

    updater.Erase(5, 1000);
    EXPECT_EQ(updater.Bytes(), "01234");
    EXPECT_EQ(observer.calls, (std::vector<Recorder::Call>{{'E', 5, 20}}));
    EXPECT_TRUE(updater.IsModified());
    // At the end there is nothing left to erase.
    updater.Erase(5, 9);
    EXPECT_EQ(observer.calls.size(), 1u);
}

TEST(ByteStreamUpdater, UpdateIsEraseThenInsert) {
    Recorder observer;
    ByteStreamUpdater updater(&observer);
    updater.SetBytes(kTwenty);
    updater.Update(10, 14, u"xyz");
    EXPECT_EQ(updater.Bytes(), "0123456789xyzefghij");
    EXPECT_EQ(observer.calls, (std::vector<Recorder::Call>{{'E', 10, 14}, {'I', 10, 3}}));

    observer.calls.clear();
    updater.Update(2, 2, u"+");  // an empty range: a plain insert
    updater.Update(0, 2, u"");   // empty text: a plain erase
    EXPECT_EQ(updater.Bytes(), "+23456789xyzefghij");
    EXPECT_EQ(observer.calls, (std::vector<Recorder::Call>{{'I', 2, 1}, {'E', 0, 2}}));
}

TEST(ByteStreamUpdater, PositionsOutsideTheBufferAreRejected) {
    Recorder observer;
    ByteStreamUpdater updater(&observer);
    updater.SetBytes(kTwenty);
    EXPECT_THROW(updater.Insert(21, u"x"), std::out_of_range);
    EXPECT_THROW(updater.Insert(-1, u"x"), std::out_of_range);
    EXPECT_THROW(updater.Erase(21, 30), std::out_of_range);
    EXPECT_THROW(updater.Erase(-1, 3), std::out_of_range);
    try {
        updater.Insert(99, u"x");
        ADD_FAILURE() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid string position");
    }
    updater.Insert(20, u"!");  // the end itself is a valid place
    EXPECT_EQ(updater.Bytes(), kTwenty + "!");
    EXPECT_EQ(observer.calls.size(), 1u);
}

TEST(ByteStreamUpdater, EncodingByName) {
    ByteStreamUpdater updater;
    EXPECT_EQ(updater.Encoding(), XmlEncoding::Utf8);
    updater.SetEncoding(u"utf-16");
    EXPECT_EQ(updater.Encoding(), XmlEncoding::Utf16);
    EXPECT_EQ(updater.ByteLength(u"abc"), 6);
    try {
        updater.SetEncoding(u"Shift_JIS");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ErrorNumber(), 4114);
        EXPECT_EQ(e.Source(), u"custact/XML/src/util/ByteStreamUpdater");
    }
    EXPECT_EQ(updater.Encoding(), XmlEncoding::Utf16);
}

TEST(ByteStreamUpdater, UnitsOfUtf16AreReadWhole) {
    ByteStreamUpdater updater;
    updater.SetBytes(std::string("\xFF\xFE<\0\x3E\x4E>\0", 8));
    updater.SetEncoding(XmlEncoding::Utf16);
    EXPECT_EQ(updater.UnitSize(), 2);
    EXPECT_EQ(updater.UnitAt(0), u'\uFEFF');
    EXPECT_EQ(updater.UnitAt(2), u'<');
    EXPECT_EQ(updater.UnitAt(4), u'\u4E3E');  // low byte ">", but not a ">"
    EXPECT_EQ(updater.UnitAt(6), u'>');
    EXPECT_EQ(updater.UnitAt(7), 0);
    EXPECT_EQ(updater.UnitAt(8), 0);
    updater.SetEncoding(XmlEncoding::Utf8);
    EXPECT_EQ(updater.UnitAt(4), u'>');
}

TEST(ByteStreamUpdater, LoadAndSaveKeepEveryByte) {
    test::ScratchFolder scratch;
    const auto path = scratch / u"app.config";
    const std::string bytes = std::string("\xEF\xBB\xBF<a>\0\r\n\x80</a>", 14);
    ASSERT_TRUE(WriteWholeFile(path, bytes));

    ByteStreamUpdater updater;
    updater.LoadFile(path);
    EXPECT_EQ(updater.Bytes(), bytes);
    EXPECT_FALSE(updater.IsModified());
    updater.Insert(6, u"x");
    EXPECT_TRUE(updater.IsModified());
    updater.SaveFile(path);
    std::string saved;
    ASSERT_TRUE(ReadWholeFile(path, &saved));
    EXPECT_EQ(saved, std::string("\xEF\xBB\xBF<a>x\0\r\n\x80</a>", 15));

    updater.LoadFile(path);
    EXPECT_FALSE(updater.IsModified());

    ASSERT_TRUE(WriteWholeFile(path, ""));
    updater.LoadFile(path);
    EXPECT_EQ(updater.Size(), 0);
}

TEST(ByteStreamUpdater, FileErrorsNameThePath) {
    test::ScratchFolder scratch;
    struct Case {
        const char* name;
        std::u16string path;
        bool save;
        std::int32_t error;
    };
    const Case cases[] = {
        {"load a missing file", scratch / u"missing.xml", false, 4111},
        {"load from a missing folder", scratch / u"none\\x.xml", false, 4111},
        {"save into a missing folder", scratch / u"none\\x.xml", true, 4115},
    };
    for (const Case& c : cases) {
        ByteStreamUpdater updater;
        updater.SetBytes("<a/>");
        try {
            if (c.save) {
                updater.SaveFile(c.path);
            } else {
                updater.LoadFile(c.path);
            }
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.ErrorNumber(), c.error) << c.name;
            EXPECT_EQ(e.Arguments(), std::vector<WideString>{c.path}) << c.name;
            EXPECT_EQ(e.Source(), u"custact/XML/src/util/ByteStreamUpdater") << c.name;
        }
    }
}

TEST(ByteStreamUpdater, LogsEachEditWithTheTextBeforeConversion) {
    test::TestSession session;
    ASSERT_TRUE(session.IsOpen());
    LogSession on(session.Handle(), u"");
    ByteStreamUpdater updater;
    updater.SetBytes(kTwenty);
    updater.Update(10, 14, u"\u00E9t\u00E9");
    updater.Erase(3, 3);
    updater.Insert(0, u"");
    updater.Erase(15, 99);
    const std::vector<std::u16string> expected = {
        u"@Update BYTE stream: Range(10, 14) with: [\u00E9t\u00E9].",
        u"@Erase BYTE stream: Range(10, 14).",
        u"@Insert in BYTE stream at: (10) chunk: [\u00E9t\u00E9].",
        u"@Erase BYTE stream: Range(15, 21).",
    };
    EXPECT_EQ(session.LogLines(), expected);
}

}  // namespace
