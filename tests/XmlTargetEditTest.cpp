// Target node positions across byte edits: the rules for each edit, text
// updates inside CDATA sections, and long random sequences of edits.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

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

TEST_F(XmlTargetEditTest, CdataTextUpdatesKeepTheDelimiters) {
    const std::string bytes = xmltest::ReadSample("app.config");
    struct Case {
        const char16_t* key;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {u"value_1", "<value><![CDATA[", "]]></value>"},
        {u"value_2", "<value>\n          <![CDATA[\n", "\n]]>\n        </value>"},
        {u"value_3", "<value>before <![CDATA[", "]]> after</value>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.key));
        auto db = Parse(bytes);
        const TargetNode& node = db->Nodes().at(c.key);
        const auto cdata = std::find_if(node.textRanges.begin(), node.textRanges.end(),
                                        [](const TextRange& r) { return r.cdata; });
        ASSERT_NE(cdata, node.textRanges.end());
        const std::int32_t begin = cdata->begin;
        const std::int32_t end = cdata->end;
        db->Updater().Update(begin, end, u"a < b & c");
        const std::string& edited = db->Updater().Bytes();
        EXPECT_NE(edited.find(std::string(c.before) + "a < b & c" + c.after), std::string::npos);
        // Everything outside the section's content kept its bytes.
        const std::size_t at = static_cast<std::size_t>(node.start);
        EXPECT_EQ(edited.substr(0, at), bytes.substr(0, at));
        EXPECT_EQ(edited.substr(static_cast<std::size_t>(begin) + 9), bytes.substr(static_cast<std::size_t>(end)));

        db->Updater().SaveFile(scratch / u"target.xml");
        XmlTargetDatabase again(scratch / u"target.xml");
        again.Parse();
        EXPECT_NE(again.Nodes().at(c.key).text.find(u"a < b & c"), WideString::npos);
    }
}

// A byte's identity: its offset in the file as parsed, or -1 for a byte an
// edit inserted.
using Origins = std::vector<std::int32_t>;

struct Positions {
    std::int32_t start, attrStart, startTagEnd, endTagStart, end;
    std::vector<TextRange> text;
};

const char* FieldName(std::int32_t Positions::*field) {
    if (field == &Positions::start) return "start";
    if (field == &Positions::attrStart) return "attrStart";
    if (field == &Positions::startTagEnd) return "startTagEnd";
    if (field == &Positions::endTagStart) return "endTagStart";
    return "end";
}

Positions Of(const TargetNode& n) { return {n.start, n.attrStart, n.startTagEnd, n.endTagStart, n.end, n.textRanges}; }

// Every position that pointed at a byte still points at it while the byte
// exists; a position past a node's last byte stays past it, with nothing
// but inserted bytes in between; attrStart may have inserted bytes after
// it. A position that was inside an erased range is -1 from then on.
class EditChecker {
public:
    EditChecker(const XmlTargetDatabase& db) : db_(db) {
        origins_.resize(db.Updater().Bytes().size());
        for (std::size_t i = 0; i < origins_.size(); ++i) origins_[i] = static_cast<std::int32_t>(i);
        for (const auto& entry : db.Nodes()) parsed_[entry.first] = Of(entry.second);
        last_ = parsed_;
    }

    void Erase(std::int32_t s, std::int32_t e) {
        e = std::min<std::int32_t>(e, static_cast<std::int32_t>(origins_.size()));
        if (s < e) origins_.erase(origins_.begin() + s, origins_.begin() + e);
    }
    void Insert(std::int32_t at, std::int32_t count) { origins_.insert(origins_.begin() + at, count, -1); }

    // Positions strictly inside [s, e) before an erase: -1 afterwards.
    std::vector<std::pair<WideString, std::int32_t Positions::*>> InsideErase(std::int32_t s, std::int32_t e) const {
        e = std::min<std::int32_t>(e, static_cast<std::int32_t>(origins_.size()));  // erases clamp their end
        std::vector<std::pair<WideString, std::int32_t Positions::*>> inside;
        for (const auto& entry : last_) {
            for (auto field : {&Positions::start, &Positions::attrStart, &Positions::startTagEnd,
                               &Positions::endTagStart, &Positions::end}) {
                const std::int32_t p = entry.second.*field;
                if (p > s && p < e) inside.emplace_back(entry.first, field);
            }
        }
        return inside;
    }

    void Check(const std::vector<std::pair<WideString, std::int32_t Positions::*>>& erased) {
        ASSERT_EQ(db_.Updater().Bytes().size(), origins_.size());
        std::vector<std::int32_t> now(parsed_.empty() ? 0 : db_.Updater().Bytes().size() + 1, -1);
        std::map<std::int32_t, std::int32_t> where;
        for (std::size_t i = 0; i < origins_.size(); ++i) {
            if (origins_[i] >= 0) where[origins_[i]] = static_cast<std::int32_t>(i);
        }
        const auto at = [&](std::int32_t origin) {
            const auto it = where.find(origin);
            return it == where.end() ? -1 : it->second;
        };
        const auto onlyInserted = [&](std::int32_t from, std::int32_t to) {
            for (std::int32_t i = from; i < to; ++i) {
                if (origins_[static_cast<std::size_t>(i)] >= 0) return false;
            }
            return true;
        };
        const auto size = static_cast<std::int32_t>(origins_.size());
        // A position at a byte: exactly there while the byte lives.
        const auto atByte = [&](std::int32_t p, std::int32_t parsedPos, const char* what) {
            const std::int32_t k = at(parsedPos);
            if (k >= 0) {
                EXPECT_EQ(p, k) << what;
            }
        };
        // A position just past a byte.
        const auto pastByte = [&](std::int32_t p, std::int32_t parsedPos, const char* what) {
            const std::int32_t k = at(parsedPos - 1);
            if (k < 0 || p == -1) return;
            EXPECT_GT(p, k) << what;
            EXPECT_LE(p, size) << what;
            if (p > k && p <= size) {
                EXPECT_TRUE(onlyInserted(k + 1, p)) << what << " " << k << ".." << p;
            }
        };
        for (const auto& entry : db_.Nodes()) {
            const TargetNode& n = entry.second;
            const Positions& p0 = parsed_.at(entry.first);
            const Positions& before = last_.at(entry.first);
            SCOPED_TRACE(Narrow(entry.first));
            atByte(n.start, p0.start, "start");
            atByte(n.startTagEnd, p0.startTagEnd, "startTagEnd");
            const bool emptyTag = p0.endTagStart == p0.end;
            if (!emptyTag) atByte(n.endTagStart, p0.endTagStart, "endTagStart");
            pastByte(n.end, p0.end, "end");
            if (emptyTag) pastByte(n.endTagStart, p0.end, "endTagStart");
            const std::int32_t attr = at(p0.attrStart);
            if (attr >= 0 && n.attrStart != -1) {
                EXPECT_LE(n.attrStart, attr);
                if (n.attrStart <= attr) {
                    EXPECT_TRUE(onlyInserted(n.attrStart, attr)) << "attrStart";
                }
            }
            ASSERT_EQ(n.textRanges.size(), p0.text.size());
            for (std::size_t i = 0; i < p0.text.size(); ++i) {
                atByte(n.textRanges[i].begin, p0.text[i].begin, "text begin");
                pastByte(n.textRanges[i].end, p0.text[i].end, "text end");
            }
            // -1 is for good.
            for (auto field : {&Positions::start, &Positions::attrStart, &Positions::startTagEnd,
                               &Positions::endTagStart, &Positions::end}) {
                if (before.*field == -1) {
                    EXPECT_EQ(Of(n).*field, -1);
                }
            }
        }
        for (const auto& e : erased) {
            EXPECT_EQ(Of(db_.Nodes().at(e.first)).*(e.second), -1)
                << Narrow(e.first) << " " << FieldName(e.second) << " was " << last_.at(e.first).*(e.second);
        }
        for (const auto& entry : db_.Nodes()) last_[entry.first] = Of(entry.second);
    }

private:
    const XmlTargetDatabase& db_;
    Origins origins_;
    std::map<WideString, Positions> parsed_;
    std::map<WideString, Positions> last_;
};

TEST_F(XmlTargetEditTest, RandomEditSequences) {
    const char* samples[] = {"web.config", "app.config", "log4j.xml", "layout.xml", "prices-1252.xml"};
    const std::u16string texts[] = {u"x", u"<add key=\"k\" value=\"v\"/>\r\n", u"\u00E9", u"\u20AC", u"\u4E2D\u6587",
                                    u"\U0001F600", u"  ", u"&amp;", u"\r\n    "};
    for (std::size_t sample = 0; sample < std::size(samples); ++sample) {
        SCOPED_TRACE(samples[sample]);
        const auto db = Parse(xmltest::ReadSample(samples[sample]));
        ByteStreamUpdater& updater = db->Updater();
        EditChecker checker(*db);
        std::mt19937 random(static_cast<std::uint32_t>(20240117 + sample));
        const std::int32_t unit = updater.UnitSize();
        const auto pick = [&](std::int32_t low, std::int32_t high) {
            return std::uniform_int_distribution<std::int32_t>(low, high)(random);
        };
        for (int step = 0; step < 1500 && !HasFailure(); ++step) {
            const std::int32_t size = updater.Size();
            const std::int32_t s = pick(0, size / unit) * unit;
            const std::int32_t length = (pick(0, 9) == 0 ? pick(0, 200) : pick(0, 16)) * unit;
            const std::int32_t e = s + length;  // may lie past the end: erases clamp
            const std::u16string& text = texts[pick(0, static_cast<std::int32_t>(std::size(texts)) - 1)];
            const int op = size < 200 ? 1 : pick(0, 2);  // keep the file from vanishing
            std::ostringstream what;
            what << "step " << step << ": " << "EIU"[op] << "(" << s << ", " << e << ", " << Narrow(text) << ")";
            SCOPED_TRACE(what.str());

            const auto erased = op == 1 ? decltype(checker.InsideErase(0, 0)){} : checker.InsideErase(s, e);
            if (op == 0) {
                updater.Erase(s, e);
                checker.Erase(s, e);
            } else if (op == 1) {
                updater.Insert(s, text);
                checker.Insert(s, updater.ByteLength(text));
            } else {
                updater.Update(s, e, text);
                checker.Erase(s, e);
                checker.Insert(s, updater.ByteLength(text));
            }
            checker.Check(erased);
        }
    }
}

// The same random edits applied in batches, with nothing looked at between
// the edits of a batch: every position must be exactly where the rules of
// a single edit, applied one edit at a time to the parsed positions, put it
// (at or after an erase: shifted; inside one: -1; at an insertion: moved
// behind the new bytes, except attrStart, which stays in front of them).
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
    const std::u16string texts[] = {u"x", u"<a b=\"c\"/>\r\n", u"\u00E9", u"\U0001F600", u"  ", u"\r\n    "};
    for (const char* sample : {"web.config", "layout.xml", "prices-1252.xml"}) {
        SCOPED_TRACE(sample);
        const auto db = Parse(xmltest::ReadSample(sample));
        ByteStreamUpdater& updater = db->Updater();
        std::map<WideString, Model> model;
        for (const auto& entry : db->Nodes()) {
            const TargetNode& n = entry.second;
            model[entry.first] = {n.start, n.attrStart, n.startTagEnd, n.endTagStart, n.end, n.textRanges};
        }
        std::string bytes = updater.Bytes();
        std::mt19937 random(20240601);
        const auto pick = [&](std::int32_t low, std::int32_t high) {
            return std::uniform_int_distribution<std::int32_t>(low, high)(random);
        };
        const std::int32_t unit = updater.UnitSize();
        for (int batch = 0; batch < 40 && !HasFailure(); ++batch) {
            for (int edit = pick(1, 64); edit > 0; --edit) {
                const auto size = static_cast<std::int32_t>(bytes.size());
                const std::int32_t s = pick(0, size / unit) * unit;
                const std::int32_t e = std::min(size, s + pick(0, 24) * unit);
                const std::u16string& text = texts[pick(0, static_cast<std::int32_t>(std::size(texts)) - 1)];
                const bool erase = size > 300 && pick(0, 1) == 0;
                if (erase) {
                    updater.Erase(s, e);
                    bytes.erase(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s));
                    for (auto& entry : model) {
                        for (std::int32_t* p : entry.second.Places()) *p = *p >= e ? *p - (e - s) : *p > s ? -1 : *p;
                    }
                } else {
                    updater.Insert(s, text);
                    const std::int32_t n = updater.ByteLength(text);
                    bytes.insert(static_cast<std::size_t>(s), EncodeXmlText(updater.Encoding(), text));
                    for (auto& entry : model) {
                        for (std::int32_t* p : entry.second.Places()) {
                            const bool moves = p == &entry.second.attrStart ? *p > s : *p >= s;
                            if (*p != -1 && moves) *p += n;
                        }
                    }
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
