// The locators test package under trellis-host with this build's library,
// where nothing is found: the properties stay unset and the files are built
// all the same. (Values found, and the rows of a package and its merged
// module each applied once, are the end-to-end case "locator".)
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

    fs::path dir_;
    fs::path log_;
};

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
