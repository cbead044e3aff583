// The promise of an uninstall: a package that only adds elements,
// attributes and comments to an existing file gives it back byte for byte.
// Random such packages run over the sample files in several encodings,
// through install, commit (and a repair) and uninstall as the deferred
// actions run them, backup registry and its record of added markup included.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "XmlTestSupport.h"
#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/XmlTransactions.h"
#include "support/BackupTestSupport.h"
#include "support/ManagerTestSupport.h"
#include "support/ScratchFolder.h"

namespace {

const std::u16string kProduct = u"{5B0D7C3E-2F14-4A86-9E5B-71C2D8A4F603}";

constexpr int kKey = 1 | 2 | 8;          // identifies its element
constexpr int kAddOnInstall = 2 | 8;     // added when absent
constexpr int kRemoveOnUninstall = 4 | 16;
constexpr int kInsertRemove = 4 | 2;     // inserted when missing, removed at uninstall
constexpr int kUpdateFirst = 8;

using Rows = std::pair<std::vector<test::ElementRow>, std::vector<test::AttributeRow>>;

// Builds a random add-only package for one parsed file: rows that name
// existing elements by all their attributes, and under them new elements
// (with descendants and comments of their own), comments, and attributes.
class AddOnlyPackage {
public:
    AddOnlyPackage(const XmlTargetDatabase& db, std::mt19937& random) : random_(random) {
        std::vector<const TargetNode*> pending{db.Root()};
        while (!pending.empty()) {
            const TargetNode* n = pending.back();
            pending.pop_back();
            nodes_.push_back(n);
            pending.insert(pending.end(), n->children.rbegin(), n->children.rend());
        }
        for (int added = 0, wanted = Pick(1, 6); added < wanted;) {
            const TargetNode& n = *nodes_[static_cast<std::size_t>(Pick(0, static_cast<int>(nodes_.size()) - 1))];
            switch (Pick(0, 2)) {
            case 0:
                AddElement(Anchor(n), 0);
                ++added;
                break;
            case 1:
                AddComment(n);
                ++added;
                break;
            default:
                added += AddAttribute(n) ? 1 : 0;
            }
        }
    }

    const Rows& rows() const { return rows_; }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    std::u16string Unique() { return ToWideDecimal(++count_); }
    int NextOrder() { return order_ += 10; }

    // The row that names an existing element, with rows for its ancestors.
    std::u16string Anchor(const TargetNode& n) {
        for (const auto& [node, key] : anchors_) {
            if (node == &n) return key;
        }
        const std::u16string parent = n.Parent() ? Anchor(*n.Parent()) : u"";
        const std::u16string key = n.Parent() ? u"old" + Unique() : u"root";
        anchors_.emplace_back(&n, key);
        rows_.first.push_back({key, parent, n.name, NextOrder(), 0, u"", 0});
        for (const XmlAttributeRecord& a : n.attributes)
            rows_.second.push_back({key, a.name, kKey, static_cast<int>(rows_.second.size()), a.value});
        return key;
    }

    void AddElement(const std::u16string& parent, int depth) {
        static const char16_t* const names[] = {u"add", u"entry", u"x:item", u"setting"};
        static const char16_t* const texts[] = {u"", u"", u"plain", u"a < b & \"c\"", u"  spaced  ", u"\u20ACuro"};
        const std::u16string key = u"new" + Unique();
        rows_.first.push_back({key, parent, names[Pick(0, 3)], NextOrder(), depth == 0 ? kInsertRemove : 0,
                               texts[Pick(0, 5)], 0});
        rows_.second.push_back({key, u"id", kKey, 0, u"n" + Unique() + u" \u00E9\u20AC'\"<&"});
        if (Pick(0, 1) == 0) rows_.second.push_back({key, u"note", kAddOnInstall, 1, u"tab\there"});
        for (int i = depth < 2 ? Pick(0, 2) : 0; i > 0; --i) {
            if (Pick(0, 3) == 0) {
                rows_.first.push_back({u"new" + Unique(), key, u"", NextOrder(), 1, CommentText(), 0});
            } else {
                AddElement(key, depth + 1);
            }
        }
    }

    // Comments hold only ASCII (a comment cannot take a reference), and
    // the characters the registry record escapes.
    std::u16string CommentText() {
        static const char16_t* const texts[] = {u"added", u"tab\there", u"two\nlines", u"back\\slash | bar"};
        return u"note " + Unique() + u" " + texts[Pick(0, 3)];
    }

    // As the last child, or before a child of the element that has no row yet.
    void AddComment(const TargetNode& n) {
        const std::u16string parent = Anchor(n);
        rows_.first.push_back({u"new" + Unique(), parent, u"", NextOrder(), 1, CommentText(), 0});
        if (!n.children.empty() && Pick(0, 1) == 0) {
            const TargetNode& next = *n.children[static_cast<std::size_t>(Pick(0, static_cast<int>(n.children.size()) - 1))];
            for (const auto& anchor : anchors_) {
                if (anchor.first == &next) return;
            }
            Anchor(next);
        }
    }

    // Only where the first element the row matches is this one and no text
    // would be written over: the update's text row is empty.
    bool AddAttribute(const TargetNode& n) {
        if (!TrimXmlBlanks(n.text).empty() || !FirstOfItsKind(n)) return false;
        const std::u16string key = Anchor(n);
        for (test::ElementRow& row : rows_.first) {
            if (row.key == key) row.flags = kUpdateFirst;
        }
        const std::u16string name = u"added" + Unique();
        rows_.second.push_back({key, name, kAddOnInstall, 100 + count_, u"v\u00E9 \"&<'\u20AC"});
        rows_.second.push_back({key, name, kRemoveOnUninstall, 100 + count_, u""});
        return true;
    }

    // No other element of its path carries all its attributes.
    bool FirstOfItsKind(const TargetNode& n) const {
        const std::u16string path = GetNodePath(n, true);
        for (const TargetNode* other : nodes_) {
            if (other == &n || GetNodePath(*other, true) != path) continue;
            const bool carriesAll = std::all_of(n.attributes.begin(), n.attributes.end(), [&](const XmlAttributeRecord& a) {
                return std::any_of(other->attributes.begin(), other->attributes.end(),
                                   [&](const XmlAttributeRecord& o) { return o.name == a.name && o.value == a.value; });
            });
            if (carriesAll) return false;
        }
        return true;
    }

    std::mt19937& random_;
    std::vector<const TargetNode*> nodes_;
    std::vector<std::pair<const TargetNode*, std::u16string>> anchors_;
    Rows rows_;
    int count_ = 0;
    int order_ = 0;
};

std::string Describe(const Rows& rows) {
    std::ostringstream text;
    for (const test::ElementRow& e : rows.first)
        text << Narrow(e.key) << " <- " << Narrow(e.parent) << " " << Narrow(e.name) << " order " << e.order
             << " flags " << e.flags << " text '" << Narrow(e.text) << "'\n";
    for (const test::AttributeRow& a : rows.second)
        text << "  " << Narrow(a.element) << " @" << Narrow(a.name) << " flags " << a.flags << " = '" << Narrow(a.value)
             << "'\n";
    return text.str();
}

class AddOnlyRoundTrip : public ::testing::Test {
protected:
    void SetUp() override { test::DeleteNorrvikTree(); }
    void TearDown() override { test::DeleteNorrvikTree(); }

    std::unique_ptr<XmlManager> Manager(const Rows& rows, const std::u16string& encoding, int flags, int indent,
                                        const std::u16string& remove) const {
        return test::BuildManager({{u"ProductCode", kProduct}, {u"UpgradeCode", u"{UPGRADE}"}, {u"REMOVE", remove}},
                                  {{u"file", u"target.xml", scratch.Path() + u"\\", u"root", flags, encoding, indent}},
                                  rows.first, rows.second);
    }

    test::ScratchFolder scratch;
    const std::u16string target = scratch / u"target.xml";
};

TEST_F(AddOnlyRoundTrip, InstallThenUninstallGivesBackEveryByte) {
    const struct {
        const char* name;
        XmlEncoding encoding;
    } samples[] = {{"web.config", XmlEncoding::Utf8},    {"app.config", XmlEncoding::Utf8},
                   {"log4j.xml", XmlEncoding::Iso88591}, {"layout.xml", XmlEncoding::Utf16},
                   {"prices-1252.xml", XmlEncoding::Windows1252}};
    const XmlEncoding others[] = {XmlEncoding::Utf16BE, XmlEncoding::Utf8, XmlEncoding::Windows1252,
                                  XmlEncoding::UsAscii};
    std::mt19937 random(20240611);
    for (const auto& sample : samples) {
        const std::string bytes = xmltest::ReadSample(sample.name);
        WideString text = xmltest::Decode(bytes, sample.encoding).text;
        if (!text.empty() && text[0] == u'\uFEFF') text.erase(0, 1);
        std::vector<std::pair<std::string, XmlEncoding>> files{{bytes, sample.encoding}};
        for (XmlEncoding e : others) {
            if (e != sample.encoding) files.emplace_back(xmltest::Transcode(text, e), e);
        }
        for (const auto& [original, encoding] : files) {
            for (int round = 0; round < 4 && !HasFailure(); ++round) {
                test::WriteBytes(target, original);
                XmlTargetDatabase db(target);
                db.Parse();
                const Rows rows = AddOnlyPackage(db, random).rows();
                const int flags = round % 2 == 0 ? 0 : 4;
                SCOPED_TRACE(std::string(sample.name) + " as " + Narrow(XmlEncodingName(encoding)) + ", package:\n" +
                             Describe(rows));

                ASSERT_EQ(ExecuteXmlUpdates(*Manager(rows, XmlEncodingName(encoding), flags, round, u""),
                                            XML_UPDATE_INSTALL),
                          0u);
                const std::string installed = test::ReadBytes(target);
                EXPECT_NE(installed, original);
                CommitXmlUpdates(*Manager(rows, XmlEncodingName(encoding), flags, round, u""));
                if (round % 2 == 1) {
                    // A repair finds everything in place and changes nothing.
                    ASSERT_EQ(ExecuteXmlUpdates(*Manager(rows, XmlEncodingName(encoding), flags, round, u""),
                                                XML_UPDATE_INSTALL),
                              0u);
                    EXPECT_EQ(test::ReadBytes(target), installed);
                    CommitXmlUpdates(*Manager(rows, XmlEncodingName(encoding), flags, round, u""));
                }
                ASSERT_EQ(ExecuteXmlUpdates(*Manager(rows, XmlEncodingName(encoding), flags, round, u"ALL"),
                                            XML_UPDATE_UNINSTALL),
                          0u);
                EXPECT_EQ(test::ReadBytes(target), original) << "installed:\n" << installed;
                EXPECT_FALSE(test::CurrentUserKeyExists(ProductBackupKey(kProduct)));
                EXPECT_FALSE(test::FileExists(target + u".back"));
            }
        }
    }
}

}  // namespace
