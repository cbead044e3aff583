// The XML locators over one sample file with repeated paths: which element
// is found, what each property takes, and what a file that cannot be read
// leaves behind. Runs against both backends' installer sessions.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "custact/XML/src/xmllocator/XmlLocatorManager.h"
#include "installer/LocatorAction.h"
#include "installer/Logger.h"
#include "platform/Files.h"
#include "support/BackupTestSupport.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"
#include "XmlTestSupport.h"

namespace {

using test::ActionRow;
using test::ActionSection;

const char kSample[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<Config version=\"2\">\r\n"
    "  <servers>\r\n"
    "    <server name=\"alpha\" port=\"80\">primary</server>\r\n"
    "    <server name=\"beta\" port=\"8080\" secure=\"yes\">backup host</server>\r\n"
    "    <Server name=\"gamma\" role=\"beta\"><alias>g</alias>third</Server>\r\n"
    "  </servers>\r\n"
    "  <servers region=\"eu\">\r\n"
    "    <server name=\"delta\" port=\"443\"> eu primary </server>\r\n"
    "  </servers>\r\n"
    "</Config>\r\n";

// A property that no locator set keeps this value.
const std::u16string kPreset = u"<preset>";

// QM_XmlLocator rows: key, element, property, type, value, result type, order.
ActionRow Locator(const std::u16string& element, int type, const std::u16string& value, int resultType,
                  const std::u16string& property = u"P", int order = 0) {
    static int serial = 0;
    return {u"L" + ToWideDecimal(++serial), element, property, ToWideDecimal(type), value,
            ToWideDecimal(resultType), ToWideDecimal(order)};
}

class XmlLocatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.IsOpen());
        test::WriteBytes(Sample(), kSample);
    }

    std::u16string Sample() const { return folder / u"sample.xml"; }

    // Config/servers/server/alias of the file, keyed cfg, servers, server, alias.
    ActionSection Elements(const std::u16string& file, const std::u16string& names = u"Config servers server alias") {
        std::vector<std::u16string> name;
        for (std::size_t start = 0, end = 0; end != std::u16string::npos; start = end + 1) {
            end = names.find(u' ', start);
            name.push_back(names.substr(start, end - start));
        }
        return {{u"cfg", file, u"", name[0], u"0"},
                {u"servers", u"", u"cfg", name[1], u"0"},
                {u"server", u"", u"servers", name[2], u"0"},
                {u"alias", u"", u"server", name[3], u"0"}};
    }

    std::uint32_t Run(const ActionSection& elements, const ActionSection& locators,
                      std::initializer_list<const char16_t*> properties = {u"P"}) {
        for (const char16_t* name : properties) session.SetProperty(name, kPreset);
        session.ClearMessages();
        XmlUpdateDataReader reader(test::ActionDataText({elements, locators}));
        reader.Parse();
        XmlLocatorManager manager(session.Handle());
        CollectXmlLocatorData(manager, reader);
        return RunLocators(manager);
    }
    std::u16string P(const std::u16string& name = u"P") const { return session.GetProperty(name); }
    bool Logged(const std::u16string& part) const {
        for (const std::u16string& line : session.LogLines())
            if (line.find(part) != std::u16string::npos) return true;
        return false;
    }
    test::TestSession session;
    LogSession logging{session.Handle(), u""};
    test::ScratchFolder folder;
};

TEST_F(XmlLocatorTest, EveryTypeWithEveryResultType) {
    // Each row's condition finds one server; the columns are what each
    // result type then reads from it with the same Value (nullptr: no such
    // attribute, the property keeps its value; result type 3 is unknown).
    const int kResultTypes[] = {1, 2, 4, 16, 3};
    struct Case {
        int type;
        const char16_t* value;
        const char16_t* results[5];
    };
    const Case cases[] = {
        {1, u"1", {u"server", u"backup host", nullptr, nullptr, u""}},      // beta, second child
        {2, u"third", {u"Server", u"third", nullptr, nullptr, u""}},       // gamma: its own text only
        {4, u"port", {u"server", u"primary", nullptr, u"80", u""}},        // alpha
        {16, u"beta", {u"server", u"backup host", u"name", nullptr, u""}},  // beta before gamma's role
        {64, u"", {u"Server", u"third", nullptr, nullptr, u""}},           // gamma has <alias>
        {8, u"secure", {u"server", u"primary", nullptr, nullptr, u""}},    // no condition: alpha, not beta
        {0, u"port", {u"server", u"primary", nullptr, u"80", u""}},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(Run(Elements(Sample()), {Locator(u"server", c.type, c.value, kResultTypes[i])}), 0u);
            EXPECT_EQ(P(), c.results[i] ? c.results[i] : kPreset)
                << "Type " << c.type << " Value " << Narrow(c.value) << " ResultType " << kResultTypes[i];
        }
    }
}

TEST_F(XmlLocatorTest, FirstMatchInDocumentOrderWhoseAncestorsHold) {
    struct Case {
        const char* what;
        ActionSection locators;
        const char16_t* expected;  // nullptr: nothing found
    };
    const Case cases[] = {
        {"alpha's text matches but its parent has no region",
         {Locator(u"servers", 4, u"region", 0, u""), Locator(u"server", 2, u"primary", 16, u"", 1),
          Locator(u"server", 0, u"name", 16, u"P", 2)},
         u"delta"},
        {"first element child", {Locator(u"server", 1, u"0", 0, u""), Locator(u"server", 0, u"name", 16, u"P", 1)},
         u"alpha"},
        {"first child of the servers whose value is eu",
         {Locator(u"servers", 16, u"eu", 0, u""), Locator(u"server", 1, u"0", 0, u""),
          Locator(u"server", 0, u"name", 16, u"P", 1)},
         u"delta"},
        {"the root fails", {Locator(u"cfg", 16, u"3", 0, u""), Locator(u"server", 0, u"name", 16)}, nullptr},
        {"conditions on every level",
         {Locator(u"cfg", 16, u"2", 0, u""), Locator(u"servers", 64, u"", 0, u""),
          Locator(u"server", 4, u"secure", 0, u""), Locator(u"server", 0, u"port", 16, u"P", 1)},
         u"8080"},
        {"conditions are all met by one element",
         {Locator(u"server", 16, u"8080", 0, u"", 1), Locator(u"server", 4, u"port", 16, u"P", 2)}, u"8080"},
        {"locators apply by Order; a later one overwrites",
         {Locator(u"server", 2, u"", 2, u"P", 3), Locator(u"server", 4, u"secure", 0, u"", 2),
          Locator(u"server", 0, u"name", 16, u"P", 1)},
         u"backup host"},
        {"an element without locators still places its children", {Locator(u"alias", 0, u"", 2)}, u"g"},
        {"the child's element must meet the parent's conditions",
         {Locator(u"alias", 0, u"", 2), Locator(u"server", 16, u"alpha", 0, u"")}, nullptr},
        {"nothing meets the condition", {Locator(u"server", 16, u"nobody", 1)}, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(Elements(Sample()), c.locators), 0u);
        EXPECT_EQ(P(), c.expected ? c.expected : kPreset) << c.what;
    }
    EXPECT_EQ(test::ReadBytes(Sample()), kSample);
}

TEST_F(XmlLocatorTest, NamesIgnoreCaseAttributesAndTextsDoNot) {
    struct Case {
        const char16_t* names;
        ActionRow locator;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"CONFIG Servers SERVER alias", Locator(u"server", 16, u"beta", 4), u"name"},
        {u"Config servers server alias", Locator(u"server", 4, u"Port", 1), nullptr},
        {u"Config servers server alias", Locator(u"server", 16, u"BETA", 1), nullptr},
        {u"Config servers server alias", Locator(u"server", 2, u"PRIMARY", 1), nullptr},
        {u"Config servers server alias", Locator(u"server", 0, u"NAME", 16), nullptr},
        // The text without the white space at its ends.
        {u"Config servers server alias", Locator(u"server", 2, u"eu pri", 2), u"eu primary"},
        {u"Config servers serve alias", Locator(u"server", 0, u"", 1), nullptr},
    };
    for (const Case& c : cases) {
        Run(Elements(Sample(), c.names), {c.locator});
        EXPECT_EQ(P(), c.expected ? c.expected : kPreset) << Narrow(c.names) << " / " << Narrow(c.locator[4]);
    }
}

TEST_F(XmlLocatorTest, TwoRootsOnOneFileAreSearchedOneAfterTheOther) {
    const ActionSection elements = {
        {u"a", Sample(), u"", u"Config", u"2"}, {u"as", u"", u"a", u"servers", u"0"},
        {u"av", u"", u"as", u"server", u"0"},   {u"b", Sample(), u"", u"config", u"1"},
        {u"bs", u"", u"b", u"servers", u"0"},   {u"bv", u"", u"bs", u"server", u"0"},
    };
    // Root b (Order 1) is searched first, so a's value of P3 stays.
    const ActionSection locators = {
        Locator(u"av", 1, u"0", 0, u""),      Locator(u"av", 0, u"name", 16, u"P1", 1),
        Locator(u"av", 0, u"port", 16, u"P3", 2), Locator(u"bs", 16, u"eu", 0, u""),
        Locator(u"bv", 0, u"name", 16, u"P2"),    Locator(u"bv", 0, u"port", 16, u"P3", 1),
    };
    EXPECT_EQ(Run(elements, locators, {u"P1", u"P2", u"P3"}), 0u);
    EXPECT_EQ(P(u"P1"), u"alpha");
    EXPECT_EQ(P(u"P2"), u"delta");
    EXPECT_EQ(P(u"P3"), u"80");
    std::size_t parses = 0;
    for (const std::u16string& line : session.LogLines()) parses += line == u"RUN Locators for file: " + Sample();
    EXPECT_EQ(parses, 2u);
}

TEST_F(XmlLocatorTest, FilesThatCannotBeReadLeaveTheirPropertiesAndNothingElse) {
    const std::string utf16 = "\xFF\xFE" + xmltest::Utf16Le(
        u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><Config><servers><server name=\"w\u00e9st\"/></servers></Config>");
    const std::u16string file = folder / u"case.xml";
    struct Case {
        const char* what;
        std::u16string path;
        const char* bytes;  // nullptr: no file
        std::size_t size;   // 0: up to the null
        const char16_t* expected;
        const char16_t* reason;
        std::uint32_t result;
    };
    const Case cases[] = {
        {"missing", file, nullptr, 0, nullptr, u"the file does not exist", 0},
        {"a folder", folder.Path(), nullptr, 0, nullptr, u"the path is a folder", 1603},
        {"a relative path", u"case.xml", nullptr, 0, nullptr, u"the path is not a full path", 0},
        {"no path", u"", nullptr, 0, nullptr, u"the path is not a full path", 0},
        {"malformed", file, "<Config><servers></Config>", 0, nullptr, u"not well-formed XML: mismatched tag", 1603},
        {"empty", file, "", 0, nullptr, u"not well-formed XML", 1603},
        {"cut off", file, "<Config><servers><server name=\"x\"", 0, nullptr, u"not well-formed XML", 1603},
        {"unknown encoding", file, "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><Config/>", 0, nullptr,
         u"encoding", 1603},
        {"invalid UTF-8", file, "<Config><servers><server name=\"\xC3\x28\"/></servers></Config>", 0, nullptr,
         u"not well-formed XML", 1603},
        {"UTF-16", file, utf16.data(), utf16.size(), u"w\u00e9st", nullptr, 0},
        {"Windows-1252", file,
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><Config><servers><server name=\"caf\xE9\"/>"
         "</servers></Config>",
         0, u"caf\u00e9", nullptr, 0},
    };
    const ActionSection locators = {Locator(u"server", 0, u"name", 16), Locator(u"server", 0, u"port", 16, u"Q"),
                                    Locator(u"nextServer", 0, u"name", 16, u"NEXT")};
    for (const Case& c : cases) {
        platform::DeleteFileW(file);
        std::string bytes;
        if (c.bytes != nullptr) {
            bytes.assign(c.bytes, c.size != 0 ? c.size : std::strlen(c.bytes));
            test::WriteBytes(file, bytes);
        }
        const std::vector<std::u16string> before = test::FolderNames(folder.Path());

        // A second root after the failing one is still searched.
        ActionSection elements = Elements(c.path);
        elements.push_back({u"next", Sample(), u"", u"Config", u"9"});
        elements.push_back({u"nextServers", u"", u"next", u"servers", u"0"});
        elements.push_back({u"nextServer", u"", u"nextServers", u"server", u"0"});
        EXPECT_EQ(Run(elements, locators, {u"P", u"Q", u"NEXT"}), c.result) << c.what;
        EXPECT_EQ(P(), c.expected ? c.expected : kPreset) << c.what;
        EXPECT_EQ(P(u"Q"), kPreset) << c.what;
        EXPECT_EQ(P(u"NEXT"), u"alpha") << c.what;
        if (c.reason != nullptr) {
            EXPECT_TRUE(Logged(u"Skipping locators for file: " + c.path + u": ") && Logged(c.reason)) << c.what;
        }
        // Read only: no backup, no other file, the bytes as they were.
        EXPECT_EQ(test::FolderNames(folder.Path()), before) << c.what;
        EXPECT_EQ(test::FileExists(file) ? test::ReadBytes(file) : std::string(), bytes) << c.what;
    }
}

TEST_F(XmlLocatorTest, HiddenPropertiesKeepTheirValuesOutOfTheLog) {
    session.SetProperty(u"MsiHiddenProperties", u"OTHER;P");
    Run(Elements(Sample()), {Locator(u"server", 0, u"name", 16)});
    EXPECT_EQ(P(), u"alpha");
    EXPECT_TRUE(Logged(u"Set Property: P to **********"));
    EXPECT_FALSE(Logged(u"alpha"));
}

// The whole action over the locator tables of the locatortables package:
// rows of the package and rows of a merge module, both on one file.
class XmlLocatorActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tables.IsOpen());
        test::WriteBytes(folder / u"sample.xml", kSample);
        tables.SetProperty(u"LOCATOR_DIR", folder.Path() + u"\\");
        tables.SetProperty(u"MAIN_NAME", kPreset);
        tables.SetProperty(u"MODULE_PORT", kPreset);
    }
    test::TestSession tables{"locatortables"};
    test::ScratchFolder folder;
};

const std::u16string kModuleId = u"0A1B2C3D_4E5F_4A6B_8C7D_9E0F1A2B3C4D";

TEST_F(XmlLocatorActionTest, PackageAndModuleEachReadTheirOwnRowsOnce) {
    struct Step {
        const char16_t* customActionData;
        const char* bytes;  // of sample.xml, nullptr: as it is
        const char16_t* mainName;
        const char16_t* modulePort;
    };
    // A module's action first, as a merged sequence may have it: the id it
    // was handed must not reach the package's action after it. A file that
    // is not well-formed fails the search, never the action.
    const Step steps[] = {{kModuleId.c_str(), nullptr, kPreset.c_str(), u"80"},
                          {u"", nullptr, u"alpha", u"80"},
                          {u"", "<Config>", kPreset.c_str(), kPreset.c_str()}};
    for (const Step& step : steps) {
        if (step.bytes != nullptr) {
            test::WriteBytes(folder / u"sample.xml", step.bytes);
            tables.SetProperty(u"MAIN_NAME", kPreset);
            tables.SetProperty(u"MODULE_PORT", kPreset);
        }
        tables.SetProperty(u"CustomActionData", step.customActionData);
        EXPECT_EQ(RunXmlLocator(tables.Handle()), 0u);
        EXPECT_EQ(tables.GetProperty(u"MAIN_NAME"), step.mainName);
        EXPECT_EQ(tables.GetProperty(u"MODULE_PORT"), step.modulePort);
        EXPECT_EQ(tables.GetProperty(u"CustomActionData"), u"");
        EXPECT_EQ(tables.GetProperty(u"QM_CA_MODULE_ID"), u"");
    }
}

}  // namespace
