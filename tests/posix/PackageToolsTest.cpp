// trellis-host check and add as a package author runs them: add turns a
// package without Trellis into one that check passes and that installs the
// same file as the example; a second add changes no byte; bad input ends
// with one line and leaves the package as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "posix/PosixTestSupport.h"

namespace {

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
