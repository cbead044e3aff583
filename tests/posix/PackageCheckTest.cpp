// trellis-host check over the example package and its merge-module form,
// clean and broken one way at a time: each break must name exactly the rows
// it broke, and nothing else as an error. Then check and add as a package
// author runs them: add turns a package without Trellis into one that check
// passes and that installs the same file as the example; a second add
// changes no byte; bad input ends with one line and leaves the package.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "IdtFile.h"
#include "PackageCheck.h"
#include "PackageFile.h"
#include "TrellisWiring.h"
#include "posix/PosixTestSupport.h"

namespace {

using Cell3 = std::tuple<std::string, std::string, std::string>;  // table, row, column

const std::string kModule = TRELLIS_EXAMPLE_MODULE_ID;
std::string InModule(const std::string& key) { return key + "." + kModule; }

std::set<Cell3> Errors(const std::vector<host::Finding>& findings) {
    std::set<Cell3> errors;
    for (const host::Finding& f : findings) {
        if (f.error) errors.emplace(f.table, f.row, f.column);
    }
    return errors;
}

std::string Lines(const std::vector<host::Finding>& findings) {
    std::string text;
    for (const host::Finding& f : findings) text += host::FormatFinding(f) + "\n";
    return text;
}

// The package with the statements applied in memory; nothing is written.
std::vector<host::Finding> CheckChanged(const std::string& package, const std::vector<std::string>& sql) {
    std::string error;
    auto opened = host::PackageFile::OpenForChange(package, ::testing::TempDir() + "/never-written.msi", &error);
    EXPECT_TRUE(opened) << error;
    if (!opened) return {};
    for (const std::string& statement : sql)
        EXPECT_TRUE(opened->Execute(statement, {}, &error)) << statement << ": " << error;
    return host::CheckPackage(*opened);
}

struct Break {
    const char* what;
    bool module;  // the merge-module form of the example
    std::vector<std::string> sql;
    std::set<Cell3> errors;  // exactly these; empty when the change is fine
};

// The cell of every action of the example.
std::set<Cell3> EveryActionCell(const std::string& column) {
    std::set<Cell3> cells;
    for (const char* action : {"QM_XmlInstall", "QM_XmlUninstall", "QM_XmlConfig", "QM_XmlRollback", "QM_XmlCommit",
                               "QM_XmlRemove", "QM_XmlLocator"})
        cells.emplace("CustomAction", action, column);
    return cells;
}

const std::vector<Break>& Breaks() {
    static const std::vector<Break> breaks = {
        // References that name no row.
        {"parent of an element", false,
         {"UPDATE QM_XmlElement SET ParentElement = 'nowhere' WHERE XmlElement = 'shopDb'"},
         {{"QM_XmlElement", "shopDb", "ParentElement"}}},
        {"element of an attribute", false,
         {"UPDATE QM_XmlAttribute SET XmlElement = 'gone' WHERE XmlAttribute = 'shopDbValue'"},
         {{"QM_XmlAttribute", "shopDbValue", "XmlElement"}}},
        {"root of a file", false,
         {"UPDATE QM_XmlFile SET RootElement = 'missing'"}, {{"QM_XmlFile", "webConfig", "RootElement"}}},
        {"component of a file", false, {"UPDATE QM_XmlFile SET Component = 'NoSuchComponent'"},
         {{"QM_XmlFile", "webConfig", "Component"}}},
        {"file of a permission", false,
         {"INSERT INTO QM_LockPermissions (LockObject, `Table`, `User`, Permission) "
          "VALUES ('otherFile', 'QM_XmlFile', 'Users', 1179817)"},
         {{"QM_LockPermissions", "otherFile/QM_XmlFile//Users", "LockObject"}}},
        // The shape of the element tree.
        {"loop of parents", false,
         {"UPDATE QM_XmlElement SET ParentElement = 'shopName' WHERE XmlElement = 'appSettings'"},
         {{"QM_XmlElement", "appSettings", "ParentElement"}}},
        {"root row with a parent", false,
         {"INSERT INTO QM_XmlElement (XmlElement, `Name`, `Condition`, `Order`, Flags) "
          "VALUES ('outer', 'outer', '1', 0, 0)",
          "UPDATE QM_XmlElement SET ParentElement = 'outer' WHERE XmlElement = 'cfgRoot'"},
         {{"QM_XmlElement", "cfgRoot", "ParentElement"}}},
        // Flags.
        {"file flag 2", false, {"UPDATE QM_XmlFile SET Flags = 26"}, {{"QM_XmlFile", "webConfig", "Flags"}}},
        {"element flag 128", false, {"UPDATE QM_XmlElement SET Flags = 132 WHERE XmlElement = 'appSettings'"},
         {{"QM_XmlElement", "appSettings", "Flags"}}},
        {"attribute flag 32", false, {"UPDATE QM_XmlAttribute SET Flags = 46 WHERE XmlAttribute = 'shopDbValue'"},
         {{"QM_XmlAttribute", "shopDbValue", "Flags"}}},
        {"key attribute with 16", false, {"UPDATE QM_XmlAttribute SET Flags = 27 WHERE XmlAttribute = 'shopNameKey'"},
         {{"QM_XmlAttribute", "shopNameKey", "Flags"}}},
        {"key attribute with 16, in a module", true,
         {"UPDATE QM_XmlAttribute SET Flags = 27 WHERE XmlAttribute = '" + InModule("shopNameKey") + "'"},
         {{"QM_XmlAttribute", InModule("shopNameKey"), "Flags"}}},
        // Names, comments and conditions.
        {"element name", false, {"UPDATE QM_XmlElement SET `Name` = '1appSettings' WHERE XmlElement = 'appSettings'"},
         {{"QM_XmlElement", "appSettings", "Name"}}},
        {"attribute name", false, {"UPDATE QM_XmlAttribute SET `Name` = 'key name' WHERE XmlAttribute = 'shopNameKey'"},
         {{"QM_XmlAttribute", "shopNameKey", "Name"}}},
        {"comment with --", false,
         {"UPDATE QM_XmlElement SET `Text` = 'Set -- by [ProductName]' WHERE XmlElement = 'note'"},
         {{"QM_XmlElement", "note", "Text"}}},
        {"comment ending in -", false,
         {"UPDATE QM_XmlElement SET `Text` = 'Set by [ProductName] -' WHERE XmlElement = 'note'"},
         {{"QM_XmlElement", "note", "Text"}}},
        {"escaped dash before a dash", false,
         {"UPDATE QM_XmlElement SET `Text` = 'Set [\\-]- by me' WHERE XmlElement = 'note'"},
         {{"QM_XmlElement", "note", "Text"}}},
        {"property beside dashes", false,
         {"UPDATE QM_XmlElement SET `Text` = 'a -[ProductName]- b' WHERE XmlElement = 'note'"}, {}},
        {"empty condition, a warning", false,
         {"UPDATE QM_XmlElement SET `Condition` = '' WHERE XmlElement = 'shopName'"}, {}},
        {"condition", false, {"UPDATE QM_XmlElement SET `Condition` = 'NOT (' WHERE XmlElement = 'shopName'"},
         {{"QM_XmlElement", "shopName", "Condition"}}},
        // What a file built from scratch needs.
        {"encoding", false,
         {"UPDATE QM_XmlFile SET Encoding = 'Shift_JIS'"}, {{"QM_XmlFile", "webConfig", "Encoding"}}},
        {"encoding of a file never built", false, {"UPDATE QM_XmlFile SET Encoding = 'Shift_JIS', Flags = 0"}, {}},
        {"name outside the encoding", false,
         {"UPDATE QM_XmlFile SET Encoding = 'US-ASCII'",
          "UPDATE QM_XmlElement SET `Name` = 'a\xC3\xB1" "adir' WHERE XmlElement = 'shopName'"},
         {{"QM_XmlElement", "shopName", "Name"}}},
        {"version", false, {"UPDATE QM_XmlFile SET `Version` = '2.0'"}, {{"QM_XmlFile", "webConfig", "Version"}}},
        // Actions, sequence, Binary and Error rows.
        {"missing action", false, {"DELETE FROM CustomAction WHERE `Action` = 'QM_XmlRollback'"},
         {{"CustomAction", "QM_XmlRollback", "Action"}}},
        {"action type", false, {"UPDATE CustomAction SET `Type` = 1025 WHERE `Action` = 'QM_XmlConfig'"},
         {{"CustomAction", "QM_XmlConfig", "Type"}}},
        {"action target", false, {"UPDATE CustomAction SET `Target` = 'OnXmlConfig' WHERE `Action` = 'QM_XmlRemove'"},
         {{"CustomAction", "QM_XmlRemove", "Target"}}},
        {"unsequenced immediate action", false,
         {"DELETE FROM InstallExecuteSequence WHERE `Action` = 'QM_XmlUninstall'"},
         {{"InstallExecuteSequence", "QM_XmlUninstall", "Action"}}},
        {"immediate action outside the script", false,
         {"UPDATE InstallExecuteSequence SET `Sequence` = 1450 WHERE `Action` = 'QM_XmlInstall'"},
         {{"InstallExecuteSequence", "QM_XmlInstall", "Sequence"}}},
        {"missing Binary row", false, {"DELETE FROM `Binary` WHERE `Name` = 'TrellisDll'"}, EveryActionCell("Source")},
        {"missing Error row", false, {"DELETE FROM `Error` WHERE `Error` = 4119"}, {{"Error", "4119", "Error"}}},
        {"missing decorated action", true,
         {"DELETE FROM CustomAction WHERE `Action` = '" + InModule("QM_XmlCommit") + "'"},
         {{"CustomAction", InModule("QM_XmlCommit"), "Action"}}},
        {"module id never handed over", true,
         {"DELETE FROM InstallExecuteSequence WHERE `Action` = '" + InModule("QM_XmlInstallId") + "'"},
         {{"InstallExecuteSequence", InModule("QM_XmlInstall"), "Sequence"}}},
        {"another module's id", true,
         {"UPDATE CustomAction SET `Target` = '11111111_2222_3333_4444_555555555555' WHERE `Action` = '" +
          InModule("QM_XmlUninstallId") + "'"},
         {{"InstallExecuteSequence", InModule("QM_XmlUninstall"), "Sequence"}}},
        // Locators.
        {"locator's element", false,
         {"UPDATE QM_XmlLocator SET XmlElement = 'lcNone' WHERE XmlLocator = 'logFolderValue'"},
         {{"QM_XmlLocator", "logFolderValue", "XmlElement"}}},
        {"locator element's parent", false,
         {"UPDATE QM_XmlLocatorElement SET ParentElement = 'lcNone' WHERE XmlElement = 'lcLogFolder'"},
         {{"QM_XmlLocatorElement", "lcLogFolder", "ParentElement"}}},
        {"locator element's name", false,
         {"UPDATE QM_XmlLocatorElement SET `Name` = 'app settings' WHERE XmlElement = 'lcAppSettings'"},
         {{"QM_XmlLocatorElement", "lcAppSettings", "Name"}}},
        {"locator root without a file", false,
         {"UPDATE QM_XmlLocatorElement SET XmlFile = '' WHERE XmlElement = 'lcConfig'"},
         {{"QM_XmlLocatorElement", "lcConfig", "XmlFile"}}},
        {"loop of locator parents", false,
         {"UPDATE QM_XmlLocatorElement SET ParentElement = 'lcLogFolder' WHERE XmlElement = 'lcConfig'"},
         {{"QM_XmlLocatorElement", "lcAppSettings", "ParentElement"}}},
        {"locator action type", false, {"UPDATE CustomAction SET `Type` = 3073 WHERE `Action` = 'QM_XmlLocator'"},
         {{"CustomAction", "QM_XmlLocator", "Type"}}},
        {"locator action that ignores its result", false,
         {"UPDATE CustomAction SET `Type` = 65 WHERE `Action` = 'QM_XmlLocator'"}, {}},
        {"missing locator action", false,
         {"DELETE FROM CustomAction WHERE `Action` = 'QM_XmlLocator'",
          "DELETE FROM InstallExecuteSequence WHERE `Action` = 'QM_XmlLocator'"},
         {{"CustomAction", "QM_XmlLocator", "Action"}}},
        // Two mistakes at once.
        {"two mistakes", false,
         {"UPDATE QM_XmlAttribute SET Flags = 27 WHERE XmlAttribute = 'logFolderKey'",
          "DELETE FROM `Error` WHERE `Error` = 4113"},
         {{"QM_XmlAttribute", "logFolderKey", "Flags"}, {"Error", "4113", "Error"}}},
    };
    return breaks;
}

TEST(PackageCheckTest, EachBreakIsNamedByItsRowsAlone) {
    for (const Break& b : Breaks()) {
        const auto findings = CheckChanged(b.module ? TRELLIS_EXAMPLE_MODULE_PACKAGE : TRELLIS_EXAMPLE_PACKAGE, b.sql);
        EXPECT_EQ(Errors(findings), b.errors) << b.what << ":\n" << Lines(findings);
    }
}

// The tables add creates are the tables of tables/*.idt, as libmsi reads them back.
TEST(PackageCheckTest, CreatedTablesHaveTheDefinedColumns) {
    std::string error;
    auto scratch = host::PackageFile::OpenForChange(std::string(TRELLIS_FIXTURE_DIR) + "/bare.msi",
                                                   ::testing::TempDir() + "/never-written.msi", &error);
    ASSERT_TRUE(scratch) << error;
    for (const host::IdtText& idt : host::TrellisTableDefinitions()) {
        host::IdtHeader header;
        ASSERT_TRUE(host::ParseIdtHeader(idt.text, &header)) << idt.table;
        ASSERT_TRUE(scratch->Execute(host::CreateTableSql(header), {}, &error)) << error;
        host::Table table;
        ASSERT_TRUE(scratch->Read(idt.table, &table, &error)) << error;
        EXPECT_EQ(table.columns, header.columns) << idt.table;
        EXPECT_EQ(table.types, header.types) << idt.table;
        EXPECT_EQ(table.keys, header.keys) << idt.table;
    }
}

TEST(PackageCheckTest, IdtCellsDecodeTheFormatsControlBytes) {
    host::IdtTable table;
    std::string error;
    const std::string text = "Error\tMessage\ni2\tL0\n1252\tError\tError\n"
                             "4110\tline\x19next\x10tab\x11" "cr \xE9\n4111\t\n-7\tx\n";
    ASSERT_TRUE(host::ParseIdt(text, &table, &error)) << error;
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[0][0].integer, 4110);
    EXPECT_EQ(table.rows[0][1].text, u"line\nnext\ttab\rcr \u00E9");
    EXPECT_EQ(table.rows[1][1].kind, host::Cell::Kind::Null);
    EXPECT_EQ(table.rows[2][0].integer, -7);
    for (const char* bad : {"a\tb\ni2\ts0\nT\ta\nx\ty\n", "a\tb\ni2\ts0\nT\ta\n1\n", "a\ni2\n932\tT\ta\n1\n"})
        EXPECT_FALSE(host::ParseIdt(bad, &table, &error)) << bad;
}

// trellis-host check and add as a package author runs them: add turns a
// package without Trellis into one that check passes and that installs the
// same file as the example; a second add changes no byte; bad input ends
// with one line and leaves the package as it was.
namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const std::string kExampleTables = std::string(TRELLIS_TEST_DATA_DIR) + "/../../examples/webshop";

class PackageToolsTest : public ::testing::Test {
protected:
    test::HostResult Host(const std::vector<std::string>& args) { return test::RunHost(args, dir_.Path()); }

    // A copy of a package to work on.
    std::string Copy(const std::string& package, const std::string& name) {
        const fs::path to = dir_ / name;
        fs::copy_file(package, to);
        return to.string();
    }

    // The six Trellis tables of the example, as an author keeps them.
    std::string ExampleTables() {
        const fs::path tables = dir_ / "tables";
        fs::create_directories(tables);
        for (const auto& entry : fs::directory_iterator(kExampleTables)) {
            const fs::path name = entry.path().filename();
            if (name.string().rfind("QM_", 0) == 0) fs::copy_file(entry.path(), tables / name);
        }
        return tables.string();
    }

    // The web.config a package builds on an empty machine.
    std::string InstalledWebConfig(const std::string& package, const std::string& root) {
        const auto run = Host({"install", package, "--root", (dir_ / root).string(), "--library", TRELLIS_LIBRARY,
                               "--prop", "LOGFOLDER=D:\\logs"});
        EXPECT_EQ(run.status, 0) << run.err;
        return ReadFile(dir_ / root / "C" / "Program Files (x86)" / "Norrvik" / "WebShop" / "web.config");
    }

    test::TempDir dir_;
};

TEST_F(PackageToolsTest, AddMakesABarePackageInstallWhatTheExampleInstalls) {
    const std::string package = Copy(std::string(TRELLIS_FIXTURE_DIR) + "/bare.msi", "product.msi");
    const std::string tables = ExampleTables();
    const std::vector<std::string> add = {"add", package, "--dll", TRELLIS_LIBRARY, "--tables", tables};
    ASSERT_EQ(Host({"check", package}).status, 1);

    test::HostResult run = Host(add);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    run = Host({"check", package});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    const std::string built = InstalledWebConfig(package, "added");
    EXPECT_NE(built.find("<add key=\"LogFolder\" value=\"D:\\logs\"/>"), std::string::npos) << built;
    EXPECT_EQ(built, InstalledWebConfig(TRELLIS_EXAMPLE_PACKAGE, "example"));
    // Uninstalled, the product deletes the file it built (QM_XmlFile flag 16).
    run = Host({"uninstall", package, "--root", (dir_ / "added").string(), "--library", TRELLIS_LIBRARY});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "added" / "C" / "Program Files (x86)" / "Norrvik" / "WebShop" / "web.config"));

    const std::string bytes = ReadFile(package);
    run = Host(add);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("nothing changed"), std::string::npos) << run.out;
    EXPECT_TRUE(ReadFile(package) == bytes) << "a second add changed the package";

    // An edited row takes the place of the package's, and nothing else changes.
    const fs::path elements = fs::path(tables) / "QM_XmlElement.idt";
    std::string text = ReadFile(elements);
    text.replace(text.find("Settings added by"), 17, "Configured by");
    WriteFile(elements, text);
    run = Host(add);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "QM_XmlElement: 1 row replaced\n");
    EXPECT_NE(InstalledWebConfig(package, "edited").find("<!-- Configured by Norrvik"), std::string::npos);
}

TEST_F(PackageToolsTest, FailuresEndWithOneLineAndLeaveThePackage) {
    const std::string bare = Copy(std::string(TRELLIS_FIXTURE_DIR) + "/bare.msi", "bare.msi");
    const std::string example = Copy(TRELLIS_EXAMPLE_PACKAGE, "example.msi");
    const std::string noRemoveFiles = Copy(std::string(TRELLIS_FIXTURE_DIR) + "/hostpackage.msi", "host.msi");
    WriteFile(dir_ / "text.msi", "not a package\n");
    WriteFile(dir_ / "wrong" / "Property.idt", ReadFile(kExampleTables + "/Property.idt"));
    WriteFile(dir_ / "short" / "QM_XmlFile.idt", "XmlFile\tFileName\ns72\tl255\nQM_XmlFile\tXmlFile\n");
    const std::string lib = TRELLIS_LIBRARY;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string package;  // whose bytes must stay
    };
    const std::vector<Case> cases = {
        {{"check"}, 2, ""},
        {{"check", (dir_ / "text.msi").string()}, 2, ""},
        {{"check", bare, example}, 2, ""},
        {{"check", "--verbose", bare}, 2, ""},
        {{"add", bare}, 2, bare},
        {{"add", bare, "--dll"}, 2, bare},
        {{"add", bare, "--dll", (dir_ / "no.dll").string()}, 1, bare},
        {{"add", bare, "--dll", lib, "--tables", (dir_ / "wrong").string()}, 1, bare},
        {{"add", bare, "--dll", lib, "--tables", (dir_ / "short").string()}, 1, bare},
        {{"add", noRemoveFiles, "--dll", lib}, 1, noRemoveFiles},
        {{"add", example, "--dll", lib}, 0, example},  // wired already
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args) line += arg + " ";
        SCOPED_TRACE(line);
        const std::string before = c.package.empty() ? "" : ReadFile(c.package);
        const test::HostResult run = Host(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.status != 0) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_EQ(run.out, "");
        }
        if (!c.package.empty()) {
            EXPECT_TRUE(ReadFile(c.package) == before) << "the package changed";
        }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 8)
        << "a temporary file was left";

    // Findings: one line each, on stdout.
    const test::HostResult found = Host({"check", std::string(TRELLIS_FIXTURE_DIR) + "/xmltables.msi"});
    EXPECT_EQ(found.status, 1);
    std::size_t start = 0;
    for (std::size_t end; (end = found.out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = found.out.substr(start, end - start);
        EXPECT_TRUE(line.rfind("error: ", 0) == 0 || line.rfind("warning: ", 0) == 0) << line;
    }
    EXPECT_NE(found.out.find("error: QM_XmlElement.Condition of row 'badCondition'"), std::string::npos);
}

}  // namespace
