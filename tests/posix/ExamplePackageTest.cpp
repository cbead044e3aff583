// The example and locator packages installed by trellis-host with this
// build's library. The example package: a value a locator found, a product
// name that would break the file, and a failed maintenance run. (Scheduling
// is ImmediateActionsTest's; merges that an uninstall gives back, new
// files, rollback and modules are the end-to-end suite's.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "posix/PosixTestSupport.h"

namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class ExamplePackageTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) std::cerr << output_;
    }
    // Runs trellis-host on the test's machine and returns its exit status.
    int Run(const std::string& command, const std::string& package, std::vector<std::string> extra = {}) {
        ++runs_;
        std::vector<std::string> args = {command, package, "--root", Root().string(), "--log", Log().string(),
                                         "--library", TRELLIS_LIBRARY};
        args.insert(args.end(), extra.begin(), extra.end());
        const test::HostResult run = test::RunHost(args, dir_.Path());
        output_ += run.out + run.err;
        return run.status;
    }
    int Install(std::vector<std::string> extra = {}) { return Run("install", TRELLIS_EXAMPLE_PACKAGE, extra); }
    fs::path Root() const { return dir_ / "root"; }
    // Where the package's INSTALLDIR lands on the test's machine.
    fs::path WebConfig() const { return Root() / "C" / "Program Files (x86)" / "Norrvik" / "WebShop" / "web.config"; }
    // The log of the latest run.
    fs::path Log() const { return dir_ / ("run" + std::to_string(runs_) + ".log"); }
    std::string LogText() const { return ReadFile(Log()); }
    // Files beside the configuration file other than itself: backups left behind.
    std::vector<std::string> OtherFiles() const {
        std::vector<std::string> names;
        if (!fs::exists(WebConfig().parent_path())) return names;
        for (const auto& entry : fs::directory_iterator(WebConfig().parent_path())) {
            if (entry.path().filename() != "web.config") names.push_back(entry.path().filename().string());
        }
        return names;
    }

    test::TempDir dir_;
    int runs_ = 0;
    std::string output_;
};

// A configuration file written by hand, with the formatting people use.
const std::string kExistingWebConfig =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<!-- Web shop settings; edit with care -->\r\n"
    "<configuration>\r\n"
    "    <appSettings>\r\n"
    "        <add key='Theme'  value='dark' />\r\n"
    "    </appSettings>\r\n"
    "    <connectionStrings />\r\n"
    "    <system.web><compilation debug=\"false\"/></system.web>\r\n"
    "</configuration>\r\n";

TEST_F(ExamplePackageTest, LogFolderFoundInTheExistingFileStaysThroughInstallAndUninstall) {
    const std::string entry = "        <add key=\"LogFolder\" value=\"D:\\Logs\\Shop\" />\r\n";
    std::string existing = kExistingWebConfig;
    existing.insert(existing.find("    </appSettings>"), entry);
    for (const char* package : {TRELLIS_EXAMPLE_PACKAGE, TRELLIS_EXAMPLE_MODULE_PACKAGE}) {
        fs::remove_all(Root());
        WriteFile(WebConfig(), existing);
        ASSERT_EQ(Run("install", package), 0) << package;
        const std::string merged = ReadFile(WebConfig());
        EXPECT_NE(merged.find(entry), std::string::npos) << merged;
        EXPECT_EQ(merged.find("WebShop\\logs"), std::string::npos) << merged;
        EXPECT_NE(LogText().find("Trellis: Set Property: LOGFOLDER to D:\\Logs\\Shop"), std::string::npos);

        // The locator does not run at uninstall, so the entry is looked for
        // with the package's own value: one the administrator set stays.
        ASSERT_EQ(Run("uninstall", package), 0) << package;
        EXPECT_EQ(ReadFile(WebConfig()), existing) << package;
    }
}

TEST_F(ExamplePackageTest, AProductNameThatWouldCloseTheCommentChangesNoFile) {
    // The comment's text is formatted from ProductName in the immediate
    // phase; its rows are checked before any file is touched, and the log
    // holds the package's message 4118.
    const std::vector<std::string> name = {"--prop", "ProductName=Shop --><injected/><!--"};
    const std::string error =
        "\nThe file C:\\Program Files (x86)\\Norrvik\\WebShop\\web.config was left unchanged: "
        "QM_XmlElement.Text of row 'note' holds \"--\", which a comment cannot: Settings added by Shop --><injected/>"
        "<!-- 1.0.0";
    EXPECT_EQ(Install(name), 1);
    EXPECT_FALSE(fs::exists(WebConfig()));
    EXPECT_NE(LogText().find(error), std::string::npos) << LogText();
    WriteFile(WebConfig(), kExistingWebConfig);
    EXPECT_EQ(Install(name), 1);
    EXPECT_EQ(ReadFile(WebConfig()), kExistingWebConfig);
    EXPECT_TRUE(OtherFiles().empty());
    EXPECT_NE(LogText().find(error), std::string::npos);
}

// A later run over the installed product (a repair, an upgrade, a change of
// features) that fails after QM_XmlConfig rolls back what it changed
// itself, and only that: the first installation's file, its kept backup and
// its records stay, so that the uninstallation still finds them.
TEST_F(ExamplePackageTest, FailedMaintenanceRunLeavesTheFirstInstallationAsItWas) {
    struct Case {
        const char* name;
        const char* flags;  // QM_XmlFile.Flags of the package, when not the example's (8 + 16)
        bool existing;      // web.config is there before the first installation
    };
    const Case cases[] = {{"built from scratch", nullptr, false}, {"merged, the backup kept (64)", "88", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Root());
        std::string package = TRELLIS_EXAMPLE_PACKAGE;
        if (c.flags != nullptr) {
            package = (dir_ / "changed.msi").string();
            fs::copy_file(TRELLIS_EXAMPLE_PACKAGE, package, fs::copy_options::overwrite_existing);
            const std::string update = "msibuild '" + package + "' -q \"UPDATE QM_XmlFile SET Flags = " +
                                       c.flags + "\" >/dev/null";
            ASSERT_EQ(std::system(update.c_str()), 0);
        }
        if (c.existing) WriteFile(WebConfig(), kExistingWebConfig);
        ASSERT_EQ(Run("install", package), 0);
        const std::string installed = ReadFile(WebConfig());
        const std::vector<std::string> kept = OtherFiles();
        EXPECT_EQ(kept.size(), c.existing ? 1u : 0u);

        // The features again, and then a failure.
        EXPECT_EQ(Run("install", package, {"--prop", "ADDLOCAL=ALL", "--prop", "DB_SERVER=db2", "--fail-after", "QM_XmlConfig"}), 1);
        const std::string log = LogText();
        EXPECT_NE(log.find("Trellis: RollbackXmlUpdates end."), std::string::npos);
        EXPECT_EQ(log.find("Deleting XML file built from scratch"), std::string::npos);
        EXPECT_EQ(ReadFile(WebConfig()), installed);
        EXPECT_EQ(OtherFiles(), kept);
        for (const std::string& backup : kept)
            EXPECT_EQ(ReadFile(WebConfig().parent_path() / backup), kExistingWebConfig);

        // The records of the first installation are still there for its
        // uninstallation, which deletes the file it built.
        ASSERT_EQ(Run("uninstall", package), 0);
        EXPECT_EQ(fs::exists(WebConfig()), c.existing);
        for (const std::string& backup : kept)
            EXPECT_EQ(ReadFile(WebConfig().parent_path() / backup), kExistingWebConfig);
    }
}

// The locators test package, where nothing is found: the properties stay
// unset and the files are built all the same. (Values found, and the rows
// of a package and its merged module each applied once, are the end-to-end
// case "locator".)
TEST(LocatorPackageTest, NothingFoundLeavesThePropertiesUnsetAndTheInstallSucceeds) {
    const char* sources[] = {
        nullptr,
        "<settings><databases port=\"1\"><name>x</name></databases><cache/></settings>",
        "<settings><Database port=\"1\"><name>x</name></settings>",
    };
    for (const char* source : sources) {
        test::TempDir dir;
        const auto data = dir / "root" / "C" / "ProgramData" / "Locator Test";
        if (source != nullptr) test::WriteFile(data / "source.xml", source);
        const test::HostResult run = test::RunHost({"install", TRELLIS_LOCATOR_PACKAGE, "--root", (dir / "root").string(),
                                                    "--log", (dir / "install.log").string(), "--library", TRELLIS_LIBRARY},
                                                   dir.Path());
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(test::ReadFile(data / "found.xml"),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n"
                  "<found>\r\n"
                  "  <database element=\"\" port=\"\"/>\r\n"
                  "</found>\r\n");
        const std::string log = test::ReadFile(dir / "install.log");
        for (const char* property : {"DB_PORT", "DB_ELEMENT", "DB_NAME", "CACHE_SIZE"})
            EXPECT_EQ(log.find(std::string("Property(S): ") + property + " ="), std::string::npos) << property;
        EXPECT_EQ(log.find("Return value 3"), std::string::npos) << log;
    }
}

}  // namespace
