// The immediate actions over the stand-in session: which rows are kept, what
// the CustomActionData holds, which actions are scheduled with it.
#include <gtest/gtest.h>

#include <algorithm>

#include "installer/CustomActionData.h"
#include "installer/DeferredActions.h"
#include "installer/ImmediateActions.h"
#include "installer/Logger.h"
#include "installer/ModuleScope.h"
#include "platform/posix/msi/InstallerSession.h"
#include "support/TestSession.h"

namespace {

using platform::posix::InstallerSession;
using platform::posix::ItemState;

constexpr int kAbsent = platform::posix::kInstallStateAbsent;
constexpr int kLocal = platform::posix::kInstallStateLocal;
constexpr int kUnknown = platform::posix::kInstallStateUnknown;

const std::u16string kModuleId = u"11111111_2222_3333_4444_555555555555";

class ImmediateActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.OpenDatabase(test::FixturePath("xmltables")));
        session.SetComponentState(u"WebComp", {kAbsent, kLocal});
        session.SetComponentState(u"OtherComp", {kLocal, kLocal});
    }

    std::vector<std::u16string> LogLines() const {
        std::vector<std::u16string> lines;
        for (const auto& m : session.Messages())
            if ((m.type & 0xFF000000u) == platform::kInstallMessageInfo) {
                // The entry points log with the library's prefix.
                std::u16string line = session.MessageText(m.type, m.fields);
                if (line.rfind(u"Trellis: ", 0) == 0) line.erase(0, 9);
                lines.push_back(line);
            }
        return lines;
    }
    bool Logged(const std::u16string& line) const {
        const auto lines = LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    XmlUpdateDataReader Serialized(RowMode mode, ConditionEvaluator* evaluator = nullptr) {
        MsiTableReader reader(session.Handle());
        std::u16string text;
        AppendPropertySection(session.Handle(), text);
        text.push_back(kSectionSeparator);
        text += SerializeTables(reader, session.Handle(), XmlTableSpecs(), mode, evaluator);
        XmlUpdateDataReader data(text);
        EXPECT_TRUE(data.Parse());
        return data;
    }
    // The keys in sorted order: the database does not keep the rows in the
    // order they were added.
    static std::vector<std::u16string> Keys(const XmlUpdateDataReader::Section& section) {
        std::vector<std::u16string> keys;
        for (const auto& row : section) keys.push_back(FieldAt(row, 0));
        std::sort(keys.begin(), keys.end());
        return keys;
    }
    static const XmlUpdateDataReader::Row& RowOf(const XmlUpdateDataReader::Section& section,
                                                 const std::u16string& key) {
        static const XmlUpdateDataReader::Row none;
        for (const auto& row : section)
            if (FieldAt(row, 0) == key) return row;
        return none;
    }

    InstallerSession session;
    LogSession logging{session.Handle(), u""};
};

TEST_F(ImmediateActionsTest, InstallDataHoldsThePropertiesAndTheRowsThatApply) {
    session.SetProperty(u"SAMPLE_FLAG", u"1");
    const XmlUpdateDataReader data = Serialized(RowMode::Install);
    ASSERT_EQ(data.SectionCount(), 5u);

    const auto& properties = data.GetSection(kPropertySection);
    ASSERT_EQ(properties.size(), 9u);
    EXPECT_EQ(properties[0], (XmlUpdateDataReader::Row{u"ProductName", u"Sample App"}));
    EXPECT_EQ(properties[2], (XmlUpdateDataReader::Row{u"UpgradeCode", u"{9E8D7C6B-5A4F-4E3D-2C1B-0A9F8E7D6C5B}"}));
    EXPECT_EQ(properties[5], (XmlUpdateDataReader::Row{u"REMOVE", u""}));
    EXPECT_EQ(properties[8], (XmlUpdateDataReader::Row{u"QM_CA_MODULE_ID", u""}));

    const auto& files = data.GetSection(kXmlFileSection);
    EXPECT_EQ(Keys(files), (std::vector<std::u16string>{u"appConfig", u"modFile.11111111_2222_3333_4444_555555555555",
                                                        u"modFile.11111111_2222_3333_4444_55555555555x",
                                                        u"webConfig"}));
    // The directory column carries the property's value; every column is there.
    EXPECT_EQ(RowOf(files, u"webConfig"), (XmlUpdateDataReader::Row{u"webConfig", u"web.config", u"C:\\App\\", u"WebComp", u"cfgRoot",
                                                  u"8", u"1.0", u"UTF-8", u"2", u""}));
    EXPECT_EQ(FieldAt(RowOf(files, u"appConfig"), 1), u"APP~1.CFG|app.config");

    // Empty and malformed conditions drop their rows; texts are formatted.
    const auto& elements = data.GetSection(kXmlElementSection);
    EXPECT_EQ(Keys(elements), (std::vector<std::u16string>{u"appRoot", u"appSettings", u"cfgRoot", u"logFolder"}));
    EXPECT_EQ(FieldAt(RowOf(elements, u"logFolder"), 6), u"C:\\App\\logs");
    EXPECT_TRUE(Logged(u"Evaluate Condition: [] = FALSE. Skipping row..."));
    EXPECT_TRUE(Logged(u"Evaluate Condition: [(((] = FALSE. Skipping row..."));

    const auto& attributes = data.GetSection(kXmlAttributeSection);
    ASSERT_EQ(attributes.size(), 2u);
    EXPECT_EQ(FieldAt(RowOf(attributes, u"nameAttr"), 5), u"Sample App");
    EXPECT_EQ(FieldAt(RowOf(attributes, u"plainAttr"), 5), u"x\\y");

    const auto& rules = data.GetSection(kLockPermissionsSection);
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0], (XmlUpdateDataReader::Row{u"webConfig", u"QM_XmlFile", u"", u"Users", u"1179817"}));
}

TEST_F(ImmediateActionsTest, ElementConditionFalseSkipsTheRow) {
    const XmlUpdateDataReader data = Serialized(RowMode::Install);  // SAMPLE_FLAG unset
    EXPECT_EQ(Keys(data.GetSection(kXmlElementSection)),
              (std::vector<std::u16string>{u"appRoot", u"cfgRoot", u"logFolder"}));
    EXPECT_TRUE(Logged(u"Evaluate Condition: [SAMPLE_FLAG] = FALSE. Skipping row..."));
}

TEST_F(ImmediateActionsTest, ComponentTransitionsDecideFileRows) {
    struct Case {
        int installed, action;
        bool install, uninstall;
    };
    const Case cases[] = {
        {kAbsent, kLocal, true, false},    // absent -> local
        {kLocal, kLocal, true, false},     // local -> local
        {kLocal, kAbsent, false, true},    // local -> absent
        {kAbsent, kAbsent, true, false},   // unchanged counts as the same state
        {kAbsent, kUnknown, false, false},  // no action at all
    };
    TableRecord row;
    row.Set(u"Component", u"WebComp");
    const RowConditionColumns columns{nullptr, nullptr, u"Component"};
    for (const Case& c : cases) {
        session.SetComponentState(u"WebComp", {c.installed, c.action});
        EXPECT_EQ(RowPassesConditions(session.Handle(), u"QM_XmlFile", columns, row, RowMode::Install, nullptr),
                  c.install)
            << c.installed << "->" << c.action;
        EXPECT_EQ(RowPassesConditions(session.Handle(), u"QM_XmlFile", columns, row, RowMode::Uninstall, nullptr),
                  c.uninstall)
            << c.installed << "->" << c.action;
    }
    EXPECT_TRUE(Logged(u"Component Condition: [((?WebComp=3) AND ($WebComp=2))] was evaluated to FALSE. "
                       u"Skipping row..."));
    EXPECT_TRUE(Logged(u"Component Condition: [((?WebComp=2) AND ($WebComp=3)) OR (?WebComp = $WebComp)] was "
                       u"evaluated to FALSE. Skipping row..."));
}

class ModuleScopeTest : public ImmediateActionsTest {};

TEST_F(ModuleScopeTest, MainPackageSkipsRowsOfModulesOnly) {
    {
        ModuleIdScope scope(session.Handle());
        EXPECT_EQ(scope.ModuleId(), u"");
        EXPECT_EQ(scope.Decorate(u"QM_XmlConfig"), u"QM_XmlConfig");
        EXPECT_FALSE(scope.BelongsToOtherModule(u"webConfig"));
        EXPECT_TRUE(scope.BelongsToOtherModule(u"modFile." + kModuleId));
        EXPECT_FALSE(scope.BelongsToOtherModule(u"modFile.11111111_2222_3333_4444_55555555555x"));
        EXPECT_FALSE(scope.BelongsToOtherModule(u"no-dot-at-all-but-longer-than-38-characters"));
    }
    EXPECT_TRUE(Logged(u"CustomActionData = []"));
    EXPECT_TRUE(Logged(u"Using MSM ModuleID = []"));
    EXPECT_TRUE(Logged(u"Skipping ROW: [modFile." + kModuleId + u"] because it doesn't belong to the main MSI."));
}

TEST_F(ModuleScopeTest, ModuleKeepsItsOwnRowsCaseSensitively) {
    session.SetProperty(u"CustomActionData", kModuleId);
    {
        ModuleIdScope scope(session.Handle());
        EXPECT_EQ(session.GetProperty(u"QM_CA_MODULE_ID"), kModuleId);
        EXPECT_EQ(scope.Decorate(u"QM_XmlConfig"), u"QM_XmlConfig." + kModuleId);
        EXPECT_EQ(scope.Decorate(u"QM_XmlConfig." + kModuleId), u"QM_XmlConfig." + kModuleId);
        EXPECT_EQ(scope.Decorate(u""), u"");
        EXPECT_FALSE(scope.BelongsToOtherModule(u"modFile." + kModuleId));
        EXPECT_TRUE(scope.BelongsToOtherModule(u"webConfig"));
        EXPECT_TRUE(scope.BelongsToOtherModule(u"x.aaaaaaaa_2222_3333_4444_555555555555"));
    }
    EXPECT_EQ(session.GetProperty(u"QM_CA_MODULE_ID"), u"");
    EXPECT_TRUE(Logged(u"Skipping ROW: [webConfig] because it doesn't belong to the current Module[" + kModuleId +
                       u"]"));

    // The same id in other letter case is another module.
    session.SetProperty(u"CustomActionData", u"aaaaaaaa_2222_3333_4444_555555555555");
    ModuleIdScope lower(session.Handle());
    EXPECT_TRUE(lower.BelongsToOtherModule(u"x.AAAAAAAA_2222_3333_4444_555555555555"));
}

TEST_F(ModuleScopeTest, InvalidIdIsDropped) {
    for (const char16_t* hide : {u"", u"1"}) {
        session.SetProperty(u"QmHideCustomActionData", hide);
        session.SetProperty(u"CustomActionData", u"not a module id");
        ModuleIdScope scope(session.Handle());
        EXPECT_EQ(scope.ModuleId(), u"");
        const std::u16string shown = *hide ? u"**********" : u"not a module id";
        EXPECT_TRUE(Logged(u"CustomActionData = [" + shown + u"]"));
        EXPECT_TRUE(Logged(u"Ignoring invalid MSM ModuleID = [" + shown + u"]"));
        EXPECT_TRUE(Logged(u"Using MSM ModuleID = []"));
    }
}

TEST_F(ImmediateActionsTest, InstallSchedulesRollbackCommitAndConfigWithOneText) {
    EXPECT_EQ(RunXmlInstall(session.Handle()), 0u);
    const auto& actions = session.Actions();
    ASSERT_EQ(actions.size(), 3u);
    EXPECT_EQ(actions[0].action, u"QM_XmlRollback");
    EXPECT_EQ(actions[1].action, u"QM_XmlCommit");
    EXPECT_EQ(actions[2].action, u"QM_XmlConfig");
    EXPECT_FALSE(actions[0].customActionData.empty());
    for (const auto& a : actions) EXPECT_EQ(a.customActionData, actions[0].customActionData);
    for (const auto& a : actions) EXPECT_EQ(session.GetProperty(a.action), u"");
    EXPECT_EQ(session.GetProperty(u"QM_CA_MODULE_ID"), u"");
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), u"OnXmlInstall start.");
    EXPECT_EQ(lines.back(), u"OnXmlInstall end.");

    XmlUpdateDataReader data(actions[0].customActionData);
    ASSERT_TRUE(data.Parse());
    // A dot followed by 36 characters that are no module id is an ordinary key.
    EXPECT_EQ(Keys(data.GetSection(kXmlFileSection)),
              (std::vector<std::u16string>{u"appConfig", u"modFile.11111111_2222_3333_4444_55555555555x",
                                           u"webConfig"}));
}

TEST_F(ImmediateActionsTest, ModuleSchedulesDecoratedActions) {
    session.SetProperty(u"CustomActionData", kModuleId);
    EXPECT_EQ(RunXmlInstall(session.Handle()), 0u);
    ASSERT_EQ(session.Actions().size(), 3u);
    EXPECT_EQ(session.Actions()[2].action, u"QM_XmlConfig." + kModuleId);
    XmlUpdateDataReader data(session.Actions()[2].customActionData);
    ASSERT_TRUE(data.Parse());
    EXPECT_EQ(Keys(data.GetSection(kXmlFileSection)),
              std::vector<std::u16string>{u"modFile.11111111_2222_3333_4444_555555555555"});
    EXPECT_EQ(FieldAt(data.GetSection(kPropertySection)[8], 1), kModuleId);
    EXPECT_EQ(session.GetProperty(u"QM_CA_MODULE_ID"), u"");
}

// The scheduled actions cannot read properties: what their log may show
// travels in their data. A hidden value the data does not hold stays out.
TEST_F(ImmediateActionsTest, ScheduledActionsHideAndKeepSilentAsTheImmediateActionSays) {
    session.SetProperty(u"MsiHiddenProperties", u"INSTALLDIR;UNUSED");
    session.SetProperty(u"UNUSED", u"never in the data");
    for (const char16_t* silence : {u"", u"1"}) {
        SCOPED_TRACE(Narrow(silence));
        session.SetProperty(u"QmEmbeddedDirectCall", silence);
        ASSERT_EQ(RunXmlInstall(session.Handle()), 0u);
        const std::u16string text = session.Actions().back().customActionData;
        EXPECT_EQ(text.find(u"never in the data"), std::u16string::npos);
        XmlUpdateDataReader data(text);
        ASSERT_TRUE(data.Parse());
        EXPECT_EQ(PropertyOf(data, u"MsiHiddenProperties"), u"INSTALLDIR;UNUSED");
        EXPECT_EQ(ReadLogSettings(data).hiddenValues, std::vector<std::u16string>{u"C:\\App\\"});

        InstallerSession commit;
        commit.SetProperty(u"CustomActionData", text);
        commit.SetMode(platform::kMsiRunModeCommit, true);
        EXPECT_EQ(RunXmlCommit(commit.Handle()), 0u);
        std::vector<std::u16string> lines;
        for (const auto& m : commit.Messages()) lines.push_back(commit.MessageText(m.type, m.fields));
        if (*silence) {
            EXPECT_TRUE(lines.empty());
        } else {
            EXPECT_NE(std::find(lines.begin(), lines.end(), u"Trellis: Adding XML file: **********web.config"),
                      lines.end());
            for (const auto& line : lines) EXPECT_EQ(line.find(u"C:\\App\\"), std::u16string::npos) << Narrow(line);
        }
    }
}

TEST_F(ImmediateActionsTest, FailedSchedulingStopsAtOnce) {
    session.FailAction(u"QM_XmlRollback");
    EXPECT_EQ(RunXmlInstall(session.Handle()), platform::kErrorInstallFailure);
    EXPECT_TRUE(session.Actions().empty());
    EXPECT_FALSE(session.GetProperty(u"QM_XmlRollback").empty()) << "never cleared after the failure";
    EXPECT_EQ(session.GetProperty(u"QM_XmlCommit"), u"");
    EXPECT_EQ(session.GetProperty(u"QM_CA_MODULE_ID"), u"");
    EXPECT_FALSE(Logged(u"OnXmlInstall end."));
}

TEST_F(ImmediateActionsTest, UninstallSchedulesRemoveAlone) {
    session.SetComponentState(u"WebComp", {kLocal, kAbsent});
    EXPECT_EQ(RunXmlUninstall(session.Handle()), 0u);
    ASSERT_EQ(session.Actions().size(), 1u);
    EXPECT_EQ(session.Actions()[0].action, u"QM_XmlRemove");
    EXPECT_TRUE(Logged(u"OnXmlUninstall start."));
    EXPECT_TRUE(Logged(u"OnXmlUninstall end."));
}

TEST_F(ModuleScopeTest, OnlyFileRowsAreFiltered) {
    session.SetProperty(u"CustomActionData", kModuleId);
    ModuleConditionEvaluator evaluator(session.Handle());
    TableRecord row;
    row.Set(u"XmlFile", u"webConfig");
    EXPECT_EQ(evaluator.Evaluate(u"QM_XmlFile", session.Handle(), row, 1), 0);
    EXPECT_EQ(evaluator.Evaluate(u"QM_XmlFile", session.Handle(), row, 0), 0);
    EXPECT_EQ(evaluator.Evaluate(u"QM_XmlElement", session.Handle(), row, 1), 1);
    EXPECT_EQ(evaluator.Evaluate(u"qm_xmlfile", session.Handle(), row, 1), 1);
    row.Set(u"XmlFile", u"modFile." + kModuleId);
    EXPECT_EQ(evaluator.Evaluate(u"QM_XmlFile", session.Handle(), row, 1), 1);
    EXPECT_TRUE(Logged(u"Evaluating XML file: [modFile." + kModuleId + u"] for processing..."));
}

}  // namespace
