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
