// trellis-host check and add as a package author runs them: add turns a
// package without Trellis into one that check passes and that installs the
// same file as the example; a second add changes no byte; bad input ends
// with one line and leaves the package as it was.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kExampleTables = std::string(TRELLIS_TEST_DATA_DIR) + "/../../examples/webshop";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::string();
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class PackageToolsTest : public ::testing::Test {
protected:
    struct Run {
        int status;
        std::string out;
        std::string err;
    };

    void SetUp() override {
        std::string base = "/tmp/trellis-tools-XXXXXX";
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        dir_ = base;
    }
    void TearDown() override { fs::remove_all(dir_); }

    Run Host(const std::string& args) {
        const std::string out = (dir_ / "out.txt").string(), err = (dir_ / "err.txt").string();
        const std::string line =
            std::string(TRELLIS_HOST_PROGRAM) + " " + args + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(line.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
    }

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
        const Run run = Host("install '" + package + "' --root '" + (dir_ / root).string() + "' --library '" +
                             TRELLIS_LIBRARY + "' --prop 'LOGFOLDER=D:\\logs'");
        EXPECT_EQ(run.status, 0) << run.err;
        return ReadFile(dir_ / root / "C" / "Program Files (x86)" / "Norrvik" / "WebShop" / "web.config");
    }

    fs::path dir_;
};

TEST_F(PackageToolsTest, AddMakesABarePackageInstallWhatTheExampleInstalls) {
    const std::string package = Copy(std::string(TRELLIS_FIXTURE_DIR) + "/bare.msi", "product.msi");
    const std::string tables = ExampleTables();
    const std::string add = "add '" + package + "' --dll '" + TRELLIS_LIBRARY + "' --tables '" + tables + "'";
    ASSERT_EQ(Host("check '" + package + "'").status, 1);

    Run run = Host(add);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    run = Host("check '" + package + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    const std::string built = InstalledWebConfig(package, "added");
    EXPECT_NE(built.find("<add key=\"LogFolder\" value=\"D:\\logs\"/>"), std::string::npos) << built;
    EXPECT_EQ(built, InstalledWebConfig(TRELLIS_EXAMPLE_PACKAGE, "example"));
    // Uninstalled, the product deletes the file it built (QM_XmlFile flag 16).
    run = Host("uninstall '" + package + "' --root '" + (dir_ / "added").string() + "' --library '" +
               TRELLIS_LIBRARY + "'");
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
    const std::string lib = std::string(" --dll '") + TRELLIS_LIBRARY + "'";
    struct Case {
        std::string args;
        int status;
        std::string package;  // whose bytes must stay
    };
    const std::vector<Case> cases = {
        {"check", 2, ""},
        {"check '" + (dir_ / "text.msi").string() + "'", 2, ""},
        {"check '" + bare + "' '" + example + "'", 2, ""},
        {"check --verbose '" + bare + "'", 2, ""},
        {"add '" + bare + "'", 2, bare},
        {"add '" + bare + "' --dll", 2, bare},
        {"add '" + bare + "' --dll '" + (dir_ / "no.dll").string() + "'", 1, bare},
        {"add '" + bare + "'" + lib + " --tables '" + (dir_ / "wrong").string() + "'", 1, bare},
        {"add '" + bare + "'" + lib + " --tables '" + (dir_ / "short").string() + "'", 1, bare},
        {"add '" + noRemoveFiles + "'" + lib, 1, noRemoveFiles},
        {"add '" + example + "'" + lib, 0, example},  // wired already
    };
    for (const Case& c : cases) {
        const std::string before = c.package.empty() ? "" : ReadFile(c.package);
        const Run run = Host(c.args);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
        if (c.status != 0) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.args << "\n" << run.err;
            EXPECT_EQ(run.out, "") << c.args;
        }
        if (!c.package.empty()) {
            EXPECT_TRUE(ReadFile(c.package) == before) << c.args << " changed the package";
        }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 8) << "a temporary file was left";

    // Findings: one line each, on stdout.
    const Run found = Host("check '" + std::string(TRELLIS_FIXTURE_DIR) + "/xmltables.msi'");
    EXPECT_EQ(found.status, 1);
    std::size_t start = 0;
    for (std::size_t end; (end = found.out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = found.out.substr(start, end - start);
        EXPECT_TRUE(line.rfind("error: ", 0) == 0 || line.rfind("warning: ", 0) == 0) << line;
    }
    EXPECT_NE(found.out.find("error: QM_XmlElement.Condition of row 'badCondition'"), std::string::npos);
}

}  // namespace
