// The locators test package under trellis-host with this build's library:
// an attribute, a text and an element name read out of an existing file
// become the content of the files the package builds, and the rows of the
// package and those of its merged module are each applied once.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kModuleId = "5D2E8A14_7B3C_4F60_9E1D_2A6B8C4F0E73";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The source file and the files built from it, shared with the run under
// Wine's msiexec (scripts/run-wine-package-tests.sh).
std::string Expected(const std::string& name) {
    return ReadFile(fs::path(TRELLIS_TEST_DATA_DIR) / "locators" / name);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class LocatorPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string base = "/tmp/trellis-locators-XXXXXX";
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        dir_ = base;
    }
    void TearDown() override {
        if (HasFailure()) std::cerr << ReadFile(dir_ / "out.txt") << ReadFile(log_);
        fs::remove_all(dir_);
    }

    // Runs trellis-host on the machine "root<n>" and returns its exit status.
    int Run(const std::string& command, int machine = 0) {
        log_ = dir_ / (command + std::to_string(machine) + ".log");
        const std::string line = std::string(TRELLIS_HOST_PROGRAM) + " " + command + " '" + TRELLIS_LOCATOR_PACKAGE +
                                 "' --root '" + Root(machine).string() + "' --log '" + log_.string() + "' --library '" +
                                 TRELLIS_LIBRARY + "' >>'" + (dir_ / "out.txt").string() + "' 2>&1";
        const int status = std::system(line.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    fs::path Root(int machine) const { return dir_ / ("root" + std::to_string(machine)); }
    fs::path Data(int machine = 0) const { return Root(machine) / "C" / "ProgramData" / "Locator Test"; }
    std::string Log() const { return ReadFile(log_); }

    // The actions put into the script, in order.
    std::vector<std::string> Scheduled() const {
        std::vector<std::string> actions;
        std::ifstream in(log_, std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            const auto at = line.find(" action ");
            if (line.find("Scheduling ") == std::string::npos || at == std::string::npos) continue;
            actions.push_back(line.substr(at + 8, line.find(' ', at + 8) - at - 8));
        }
        return actions;
    }

    fs::path dir_;
    fs::path log_;
};

TEST_F(LocatorPackageTest, ValuesFoundBuildTheNewFilesAndEachSetOfRowsAppliesOnce) {
    const std::string source = Expected("source.xml");
    ASSERT_FALSE(source.empty());
    WriteFile(Data() / "source.xml", source);
    ASSERT_EQ(Run("install"), 0);
    EXPECT_EQ(ReadFile(Data() / "found.xml"), Expected("found.xml"));
    EXPECT_EQ(ReadFile(Data() / "module.xml"), Expected("module.xml"));
    const std::string m = "." + kModuleId;
    EXPECT_EQ(Scheduled(), (std::vector<std::string>{"QM_XmlRollback" + m, "QM_XmlCommit" + m, "QM_XmlConfig" + m,
                                                     "QM_XmlRollback", "QM_XmlCommit", "QM_XmlConfig"}));
    EXPECT_EQ(ReadFile(Data() / "source.xml"), source);
    EXPECT_EQ(std::distance(fs::directory_iterator(Data()), fs::directory_iterator()), 3);

    ASSERT_EQ(Run("uninstall"), 0);
    EXPECT_EQ(Scheduled(), (std::vector<std::string>{"QM_XmlRemove" + m, "QM_XmlRemove"}));
    EXPECT_FALSE(fs::exists(Data() / "found.xml"));
    EXPECT_FALSE(fs::exists(Data() / "module.xml"));
    EXPECT_EQ(ReadFile(Data() / "source.xml"), source);
}

TEST_F(LocatorPackageTest, NothingFoundLeavesThePropertiesUnsetAndTheInstallSucceeds) {
    const char* sources[] = {
        nullptr,
        "<settings><databases port=\"1\"><name>x</name></databases><cache/></settings>",
        "<settings><Database port=\"1\"><name>x</name></settings>",
    };
    for (int machine = 0; machine < 3; ++machine) {
        if (sources[machine] != nullptr) WriteFile(Data(machine) / "source.xml", sources[machine]);
        ASSERT_EQ(Run("install", machine), 0) << machine;
        EXPECT_EQ(ReadFile(Data(machine) / "found.xml"),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n"
                  "<found>\r\n"
                  "  <database element=\"\" port=\"\"/>\r\n"
                  "</found>\r\n")
            << machine;
        const std::string log = Log();
        for (const char* property : {"DB_PORT", "DB_ELEMENT", "DB_NAME", "CACHE_SIZE"})
            EXPECT_EQ(log.find(std::string("Property(S): ") + property + " ="), std::string::npos) << property;
        EXPECT_EQ(log.find("Return value 3"), std::string::npos) << machine;
    }
}

}  // namespace
