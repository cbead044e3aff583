// Target node positions across byte edits: the rules for each edit, text
// updates inside CDATA sections, and long random batches of edits.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <algorithm>

#include "XmlTestSupport.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "platform/os/FileSystem.h"
#include "support/ScratchFolder.h"

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

TEST_F(XmlTargetEditTest, PositionsFollowEachEdit) {
    //                             0         1         2
    //                             0123456789012345678901234567
    const std::string document = "<r><a x='1'>text</a><b/></r>";
    struct Case {
        const char* name;
        char op;  // 'E' erase, 'I' insert
        std::int32_t a;
        std::int32_t b;           // erase end
        const char16_t* text;     // insert text
        // a's start, attrStart, startTagEnd, text begin, text end, endTagStart, end
        std::vector<std::int32_t> expected;
    };
    const Case cases[] = {
        {"nothing changed", 'E', 5, 5, u"", {3, 6, 11, 12, 16, 16, 20}},
        {"insert before", 'I', 0, 0, u"12", {5, 8, 13, 14, 18, 18, 22}},
        {"insert at start moves it", 'I', 3, 0, u"12", {5, 8, 13, 14, 18, 18, 22}},
        {"insert at attrStart leaves it", 'I', 6, 0, u"y='2' ", {3, 6, 17, 18, 22, 22, 26}},
        {"insert inside text", 'I', 14, 0, u"--", {3, 6, 11, 12, 18, 18, 22}},
        {"insert at text end moves it", 'I', 16, 0, u"!", {3, 6, 11, 12, 17, 17, 21}},
        {"insert after", 'I', 20, 0, u"<c/>", {3, 6, 11, 12, 16, 16, 24}},
        {"erase after", 'E', 20, 24, u"", {3, 6, 11, 12, 16, 16, 20}},
        {"erase ending at start", 'E', 1, 3, u"", {1, 4, 9, 10, 14, 14, 18}},
        {"erase from start keeps it", 'E', 3, 6, u"", {3, 3, 8, 9, 13, 13, 17}},
        {"erase inside the text", 'E', 13, 15, u"", {3, 6, 11, 12, 14, 14, 18}},
        {"erase the attributes", 'E', 6, 11, u"", {3, 6, 6, 7, 11, 11, 15}},
        {"erase across the start", 'E', 2, 5, u"", {-1, 3, 8, 9, 13, 13, 17}},
        {"erase the whole element", 'E', 2, 20, u"", {-1, -1, -1, -1, -1, -1, 2}},
        {"erase past its end", 'E', 2, 21, u"", {-1, -1, -1, -1, -1, -1, -1}},
        {"erase the text", 'E', 12, 16, u"", {3, 6, 11, 12, 12, 12, 16}},
    };
    for (const Case& c : cases) {
        const auto db = Parse(document);
        if (c.op == 'E') {
            db->Updater().Erase(c.a, c.b);
        } else {
            db->Updater().Insert(c.a, c.text);
        }
        const TargetNode& a = db->Nodes().at(u"a");
        ASSERT_EQ(a.textRanges.size(), 1u);
        const std::vector<std::int32_t> positions = {a.start, a.attrStart, a.startTagEnd, a.textRanges[0].begin,
                                                     a.textRanges[0].end, a.endTagStart, a.end};
        EXPECT_EQ(positions, c.expected) << c.name;
    }
}

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

}  // namespace
