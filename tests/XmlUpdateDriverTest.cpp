// Merging planned records into an existing file: which matches each flag
// combination updates, inserts or removes, what the bytes become, and what
// happens to the backup.
#include <gtest/gtest.h>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/XmlUpdateDriver.h"
#include "installer/Exception.h"
#include "platform/os/FileSystem.h"
#include "support/BackupTestSupport.h"
#include "support/ManagerTestSupport.h"
#include "support/ScratchFolder.h"

namespace {

const std::u16string kProduct = u"{0C6B2E1D-7A53-4F0E-9A62-3D1F5B7C8E90}";

const std::string kDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<config>\r\n"
    "\t<add key=\"a\" value=\"1\" />\r\n"
    "\t<add key=\"b\" value=\"2\" />\r\n"
    "\t<add key=\"c\" value=\"3\" />\r\n"
    "\t<name>old</name>\r\n"
    "</config>\r\n";

// The document with one line replaced (or removed when with is empty).
std::string WithLine(const std::string& line, const std::string& with) {
    std::string text = kDocument;
    const std::size_t at = text.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    if (at != std::string::npos) text.replace(at, line.size(), with);
    return text;
}

using Element = test::ElementRow;
using Attribute = test::AttributeRow;

constexpr int kKeyInstall = 1 | 2 | 8;  // identifies the element in install runs
constexpr int kSetInstall = 2 | 4 | 8;
constexpr int kRemoveUninstall = 4 | 16;

class XmlUpdateDriver : public ::testing::Test {
protected:
    void SetUp() override { test::DeleteNorrvikTree(); }
    void TearDown() override { test::DeleteNorrvikTree(); }

    std::unique_ptr<XmlManager> Manager(std::vector<Element> elements, const std::vector<Attribute>& attributes) const {
        elements.insert(elements.begin(), {u"root", u"", u"config", 0, 0, u"", 0});
        return test::BuildManager({{u"ProductCode", kProduct}}, {{u"file", u"target.xml", scratch.Path() + u"\\", u"root", 4}},
                                  elements, attributes);
    }
    void Run(XmlManager& manager, int mode) { UpdateXmlFile(manager, manager.data.files.at(u"file"), mode); }
    std::u16string BackupValue() const { return test::CurrentUserValue(ProductBackupKey(kProduct), target); }

    test::ScratchFolder scratch;
    const std::u16string target = scratch / u"target.xml";
    const std::u16string backup = scratch / u"target.xml.back";
};

struct MergeCase {
    const char* name;
    int mode;
    std::vector<Element> elements;
    std::vector<Attribute> attributes;
    std::string expected;
    std::string original = kDocument;
};

TEST_F(XmlUpdateDriver, EachFlagCombinationEditsItsMatches) {
    const std::string a = "\t<add key=\"a\" value=\"1\" />\r\n";
    const std::string b = "\t<add key=\"b\" value=\"2\" />\r\n";
    const std::string c = "\t<add key=\"c\" value=\"3\" />\r\n";
    // Without flag 1 the attribute does not identify the element, so every
    // <add> matches.
    const Attribute anyValue = {u"e", u"value", kSetInstall, 1, u"9"};
    const MergeCase cases[] = {
        {"flag 8 sets the first keyed match", 1, {{u"e", u"root", u"add", 1, 8, u"", 0}},
         {{u"e", u"key", kKeyInstall, 0, u"b"}, {u"e", u"value", kSetInstall, 1, u"9"}},
         WithLine(b, "\t<add key=\"b\" value=\"9\" />\r\n")},
        {"flag 8 stops after the first of several matches", 1, {{u"e", u"root", u"add", 1, 8, u"", 0}}, {anyValue},
         WithLine(a, "\t<add key=\"a\" value=\"9\" />\r\n")},
        {"flag 16 sets every match", 1, {{u"e", u"root", u"add", 1, 16, u"", 0}}, {anyValue},
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<config>\r\n\t<add key=\"a\" value=\"9\" />\r\n"
         "\t<add key=\"b\" value=\"9\" />\r\n\t<add key=\"c\" value=\"9\" />\r\n\t<name>old</name>\r\n</config>\r\n"},
        {"flag 64 sets the match at the update index", 1, {{u"e", u"root", u"add", 1, 64, u"", 2}}, {anyValue},
         WithLine(c, "\t<add key=\"c\" value=\"9\" />\r\n")},
        {"flags 8 and 64 together change nothing", 1, {{u"e", u"root", u"add", 1, 8 | 64, u"", 0}}, {anyValue},
         kDocument},
        {"flags 8 and 16 add another instance", 1, {{u"e", u"root", u"add", 1, 8 | 16, u"", 0}},
         {{u"e", u"key", 2 | 8, 0, u"d"}},
         WithLine("</config>", "\t<add key=\"d\"/>\r\n</config>")},
        {"flag 4 inserts what no node matches", 1, {{u"e", u"root", u"add", 1, 4, u"", 0}},
         {{u"e", u"key", kKeyInstall, 0, u"d"}, {u"e", u"value", kSetInstall, 1, u"4"}},
         WithLine("</config>", "\t<add key=\"d\" value=\"4\"/>\r\n</config>")},
        {"without flag 4 a missing node stays missing", 1, {{u"e", u"root", u"add", 1, 8, u"", 0}},
         {{u"e", u"key", kKeyInstall, 0, u"d"}}, kDocument},
        {"flag 32 removes the keyed match with its line", 1, {{u"e", u"root", u"add", 1, 32, u"", 0}},
         {{u"e", u"key", kKeyInstall, 0, u"b"}}, WithLine(b, "")},
        {"flag 8 sets the text of one run", 1, {{u"e", u"root", u"name", 1, 8, u"new & shiny", 0}}, {},
         WithLine("old", "new &amp; shiny")},
        {"uninstall flag 2 removes the match whose text matches", 2, {{u"e", u"root", u"name", 1, 2 | 8, u"old", 0}},
         {}, WithLine("\t<name>old</name>\r\n", "")},
        {"uninstall leaves a node whose text differs", 2, {{u"e", u"root", u"name", 1, 2 | 8, u"other", 0}}, {},
         kDocument},
        {"uninstall takes an attribute back", 2, {{u"e", u"root", u"add", 1, 8, u"", 0}},
         {{u"e", u"key", 2 | 8, 0, u"c"}, {u"e", u"value", kRemoveUninstall, 1, u""}},
         WithLine(c, "\t<add key=\"c\" />\r\n")},
        {"uninstall does not insert", 2, {{u"e", u"root", u"add", 1, 4, u"", 0}}, {{u"e", u"key", 2 | 8, 0, u"d"}},
         kDocument},
        {"a comment goes before the line of its next sibling", 1,
         {{u"note", u"root", u"", 1, 1, u"set by setup", 0}, {u"e", u"root", u"add", 2, 8, u"", 0}},
         {{u"e", u"key", kKeyInstall, 0, u"b"}},
         WithLine(b, "\t<!-- set by setup -->\r\n" + b)},
        {"a comment already in the parent is not added again", 1,
         {{u"note", u"root", u"", 1, 1, u"set by setup", 0}}, {},
         WithLine("</config>", "\t<!--  set by setup  -->\r\n</config>"),
         WithLine("</config>", "\t<!--  set by setup  -->\r\n</config>")},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteBytes(target, c.original);
        auto manager = Manager(c.elements, c.attributes);
        Run(*manager, c.mode);
        EXPECT_EQ(test::ReadBytes(target), c.expected);
        // A file an installation changed keeps its backup with the old bytes
        // and has it on record; an unchanged one, or one an uninstallation
        // changed (no rollback follows it), has neither.
        if (c.expected != c.original && c.mode == XML_UPDATE_INSTALL) {
            EXPECT_EQ(test::ReadBytes(backup), c.original);
            EXPECT_EQ(BackupValue(), backup);
        } else {
            EXPECT_FALSE(test::FileExists(backup));
            EXPECT_EQ(BackupValue(), u"<absent>");
        }
        test::DeleteNorrvikTree();
        DeleteFileLogged(backup);
    }
}

TEST_F(XmlUpdateDriver, RemovedMatchTakesItsChildRecordsWithIt) {
    const std::string document = "<config>\r\n\t<group id=\"x\">\r\n\t\t<item/>\r\n\t</group>\r\n</config>\r\n";
    test::WriteBytes(target, document);
    // The group goes; its child record, which would otherwise be inserted
    // for want of a match, is skipped.
    auto manager = Manager({{u"g", u"root", u"group", 1, 32 | 8, u"", 0}, {u"i", u"g", u"extra", 1, 4, u"", 0}},
                           {{u"g", u"id", kKeyInstall, 0, u"x"}});
    Run(*manager, 1);
    EXPECT_EQ(test::ReadBytes(target), "<config>\r\n</config>\r\n");
    EXPECT_TRUE(manager->data.elements.at(u"i").IsProcessed());
}

TEST_F(XmlUpdateDriver, UnchangedBytesAfterAWriteDropTheBackup) {
    // The text is written again with the same value: the file is saved, but
    // it equals its backup, so no backup is kept or recorded.
    test::WriteBytes(target, kDocument);
    auto manager = Manager({{u"e", u"root", u"name", 1, 8, u"old", 0}}, {});
    Run(*manager, 1);
    EXPECT_EQ(test::ReadBytes(target), kDocument);
    EXPECT_FALSE(test::FileExists(backup));
    EXPECT_EQ(BackupValue(), u"<absent>");
}

TEST_F(XmlUpdateDriver, FailuresLeaveTheFileAndNoBackup) {
    struct Case {
        const char* name;
        std::string document;
        std::int32_t error;
    };
    const Case cases[] = {
        {"another root", "<settings/>", 4117},
        {"not well-formed", "<config><add></config>", 4113},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteBytes(target, c.document);
        auto manager = Manager({{u"e", u"root", u"add", 1, 4, u"", 0}}, {});
        try {
            Run(*manager, 1);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.ErrorNumber(), c.error);
        }
        EXPECT_EQ(test::ReadBytes(target), c.document);
        EXPECT_FALSE(test::FileExists(backup));
        EXPECT_EQ(BackupValue(), u"<absent>");
    }
}

}  // namespace
