// Byte edits of a loaded XML file in each of its encodings (what the
// observer and the log are told), and target node positions across long
// random batches of such edits.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

#include "XmlTestSupport.h"
#include "custact/XML/src/util/ByteStreamUpdater.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/os/FileSystem.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

namespace {

using xmltest::RawText;

class XmlTargetEditTest : public ::testing::Test {
protected:
    std::unique_ptr<XmlTargetDatabase> Parse(const std::string& bytes) {
        const WideString path = scratch / u"target.xml";
        EXPECT_TRUE(WriteWholeFile(path, bytes));
        auto db = std::make_unique<XmlTargetDatabase>(path);
        db->Parse();
        return db;
    }
    test::ScratchFolder scratch;
};

// Random edits in batches over the sample files, with nothing looked at
// between the edits of a batch: every position must be exactly where the
// rules of a single edit, applied one edit at a time to the parsed
// positions, put it (at or after an erase: shifted; inside one: -1; at an
// insertion: moved behind the new bytes, except attrStart, which stays in
// front of them). An update is an erase and an insertion; erases clamp
// their end to the size.
TEST_F(XmlTargetEditTest, RandomEditBatchesAgreeWithTheRuleOfEachEdit) {
    struct Model {
        std::int32_t start, attrStart, startTagEnd, endTagStart, end;
        std::vector<TextRange> text;
        std::vector<std::int32_t*> Places() {
            std::vector<std::int32_t*> places{&start, &attrStart, &startTagEnd, &endTagStart, &end};
            for (TextRange& r : text) places.insert(places.end(), {&r.begin, &r.end});
            return places;
        }
    };
    const std::u16string texts[] = {u"x", u"<a b=\"c\"/>\r\n", u"\u00E9", u"\u20AC", u"\u4E2D\u6587", u"\U0001F600",
                                    u"  ", u"&amp;", u"\r\n    "};
    std::uint32_t seed = 20240601;
    for (const char* sample : {"web.config", "app.config", "log4j.xml", "layout.xml", "prices-1252.xml"}) {
        SCOPED_TRACE(sample);
        const auto db = Parse(xmltest::ReadSample(sample));
        ByteStreamUpdater& updater = db->Updater();
        std::map<WideString, Model> model;
        for (const auto& entry : db->Nodes()) {
            const TargetNode& n = entry.second;
            model[entry.first] = {n.start, n.attrStart, n.startTagEnd, n.endTagStart, n.end, n.textRanges};
        }
        std::string bytes = updater.Bytes();
        std::mt19937 random(seed++);
        const auto pick = [&](std::int32_t low, std::int32_t high) {
            return std::uniform_int_distribution<std::int32_t>(low, high)(random);
        };
        const auto erase = [&](std::int32_t s, std::int32_t e) {
            e = std::min(e, static_cast<std::int32_t>(bytes.size()));
            if (s >= e) return;
            bytes.erase(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s));
            for (auto& entry : model) {
                for (std::int32_t* p : entry.second.Places()) *p = *p >= e ? *p - (e - s) : *p > s ? -1 : *p;
            }
        };
        const auto insert = [&](std::int32_t s, const std::u16string& text) {
            const std::string encoded = EncodeXmlText(updater.Encoding(), text);
            ASSERT_EQ(updater.ByteLength(text), static_cast<std::int32_t>(encoded.size()));
            bytes.insert(static_cast<std::size_t>(s), encoded);
            for (auto& entry : model) {
                for (std::int32_t* p : entry.second.Places()) {
                    const bool moves = p == &entry.second.attrStart ? *p > s : *p >= s;
                    if (*p != -1 && moves) *p += static_cast<std::int32_t>(encoded.size());
                }
            }
        };
        const std::int32_t unit = updater.UnitSize();
        for (int batch = 0; batch < 60 && !HasFailure(); ++batch) {
            for (int edit = pick(1, 64); edit > 0; --edit) {
                const auto size = static_cast<std::int32_t>(bytes.size());
                const std::int32_t s = pick(0, size / unit) * unit;
                const std::int32_t e = s + (pick(0, 9) == 0 ? pick(0, 200) : pick(0, 24)) * unit;  // may pass the end
                const std::u16string& text = texts[pick(0, static_cast<std::int32_t>(std::size(texts)) - 1)];
                const int op = size < 300 ? 1 : pick(0, 2);  // keep the file from vanishing
                if (op == 0) {
                    updater.Erase(s, e);
                    erase(s, e);
                } else if (op == 1) {
                    updater.Insert(s, text);
                    insert(s, text);
                } else {
                    updater.Update(s, e, text);
                    erase(s, e);
                    insert(s, text);
                }
            }
            ASSERT_EQ(updater.Bytes(), bytes) << "batch " << batch;
            for (const auto& entry : db->Nodes()) {
                const TargetNode& n = entry.second;
                Model now{n.start, n.attrStart, n.startTagEnd, n.endTagStart, n.end, n.textRanges};
                Model& expected = model.at(entry.first);
                std::vector<std::int32_t> got, want;
                for (std::int32_t* p : now.Places()) got.push_back(*p);
                for (std::int32_t* p : expected.Places()) want.push_back(*p);
                ASSERT_EQ(got, want) << Narrow(entry.first) << " after batch " << batch;
            }
        }
    }
}

// Byte edits of a loaded XML file in each of its encodings, and what the
// observer and the log are told.
// "E(start,end)" and "I(at,count)" for each call.
struct Recorder : ByteStreamObserver {
    void OnErase(std::int32_t s, std::int32_t e) override { calls.push_back("E(" + std::to_string(s) + "," + std::to_string(e) + ")"); }
    void OnInsert(std::int32_t at, std::int32_t n) override { calls.push_back("I(" + std::to_string(at) + "," + std::to_string(n) + ")"); }
    std::vector<std::string> calls;
};

const std::string kTwenty = "0123456789abcdefghij";

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
        {XmlEncoding::UsAscii, u"e", "e"},
        // What the encoding cannot hold becomes a character reference, a
        // pair of surrogates one reference.
        {XmlEncoding::UsAscii, u"\u00E9", "&#233;"},
        {XmlEncoding::Windows1252, u"\u20AC\u4E2D", "\x80&#20013;"},
        {XmlEncoding::Iso88591, u"\u00FF\u20AC\U0001F600", "\xFF&#8364;&#128512;"},
        {XmlEncoding::Utf16, u"<\u4E2D", std::string("<\0\x2D\x4E", 4)},
        {XmlEncoding::Utf16BE, u"<\u4E2D", std::string("\0<\x4E\x2D", 4)},
    };
    for (const Case& c : cases) {
        Recorder observer;
        ByteStreamUpdater updater(&observer);
        updater.SetBytes("[]");
        updater.SetEncoding(c.encoding);
        EXPECT_EQ(updater.ByteLength(c.text), static_cast<std::int32_t>(c.bytes.size()));
        updater.Insert(1, c.text);
        EXPECT_EQ(updater.Bytes(), "[" + c.bytes + "]") << Narrow(c.text);
        EXPECT_EQ(observer.calls, std::vector<std::string>{"I(1," + std::to_string(c.bytes.size()) + ")"});
    }
}

TEST(ByteStreamUpdater, EditsAndWhatTheObserverIsTold) {
    Recorder observer;
    ByteStreamUpdater updater(&observer);
    updater.SetBytes(kTwenty);
    updater.Erase(5, 5);  // empty ranges change nothing
    updater.Erase(7, 3);
    updater.Insert(4, u"");
    EXPECT_FALSE(updater.IsModified());
    updater.Update(10, 14, u"xyz");
    EXPECT_TRUE(updater.IsModified());
    updater.Update(2, 2, u"+");  // an empty range: a plain insert
    updater.Update(0, 1, u"");   // empty text: a plain erase
    updater.Erase(15, 1000);     // the end is clamped to the size
    EXPECT_EQ(updater.Bytes(), "1+23456789xyzef");
    EXPECT_EQ(observer.calls, (std::vector<std::string>{"E(10,14)", "I(10,3)", "I(2,1)", "E(0,1)", "E(15,19)"}));

    observer.calls.clear();
    EXPECT_THROW(updater.Insert(16, u"x"), std::out_of_range);
    EXPECT_THROW(updater.Insert(-1, u"x"), std::out_of_range);
    EXPECT_THROW(updater.Erase(16, 30), std::out_of_range);
    EXPECT_TRUE(observer.calls.empty());
    try {
        updater.Insert(99, u"x");
        ADD_FAILURE() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid string position");
    }
    updater.Insert(15, u"!");  // the end itself is a place to insert at
    EXPECT_EQ(updater.Bytes(), "1+23456789xyzef!");
}

TEST(ByteStreamUpdater, LoadAndSaveKeepEveryByteAndNameThePathOnFailure) {
    test::ScratchFolder scratch;
    const auto path = scratch / u"app.config";
    const std::string bytes("\xEF\xBB\xBF<a>\0\r\n\x80</a>", 14);
    ASSERT_TRUE(WriteWholeFile(path, bytes));
    ByteStreamUpdater updater;
    updater.LoadFile(path);
    EXPECT_EQ(updater.Bytes(), bytes);
    updater.Insert(6, u"x");
    updater.SaveFile(path);
    updater.LoadFile(path);
    EXPECT_FALSE(updater.IsModified());
    EXPECT_EQ(updater.Bytes(), std::string("\xEF\xBB\xBF<a>x\0\r\n\x80</a>", 15));

    const struct {
        std::u16string path;
        bool save;
        std::int32_t error;
    } failures[] = {{scratch / u"missing.xml", false, 4111}, {scratch / u"none\\x.xml", true, 4115}};
    for (const auto& f : failures) {
        try {
            f.save ? updater.SaveFile(f.path) : updater.LoadFile(f.path);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.ErrorNumber(), f.error);
            EXPECT_EQ(e.Arguments(), std::vector<WideString>{f.path});
            EXPECT_EQ(e.Source(), u"custact/XML/src/util/ByteStreamUpdater");
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
    updater.Erase(15, 99);
    EXPECT_EQ(session.LogLines(), (std::vector<std::u16string>{
                                      u"@Update BYTE stream: Range(10, 14) with: [\u00E9t\u00E9].",
                                      u"@Erase BYTE stream: Range(10, 14).",
                                      u"@Insert in BYTE stream at: (10) chunk: [\u00E9t\u00E9].",
                                      u"@Erase BYTE stream: Range(15, 21).",
                                  }));
}

}  // namespace
