// The example package installed by trellis-host with this build's library:
// the immediate action hands one text to the three actions it schedules.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class ExamplePackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string base = "/tmp/trellis-example-XXXXXX";
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        dir_ = base;
    }
    void TearDown() override {
        if (HasFailure()) std::cerr << std::ifstream(dir_ / "out.txt").rdbuf();
        fs::remove_all(dir_);
    }

    // Runs an installation and returns trellis-host's exit status.
    int Install(const std::string& extra = "") {
        const std::string command = std::string(TRELLIS_HOST_PROGRAM) + " install '" + TRELLIS_EXAMPLE_PACKAGE +
                                    "' --root '" + (dir_ / "root").string() + "' --log '" + Log().string() +
                                    "' --library '" + TRELLIS_LIBRARY + "' " + extra + " >'" + (dir_ / "out.txt").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    fs::path Log() const { return dir_ / "install.log"; }

    // "Scheduling <kind> action <name> with CustomActionData <data>" lines, in order.
    std::vector<std::pair<std::string, std::string>> Scheduled() const {
        std::ifstream in(Log(), std::ios::binary);
        std::vector<std::pair<std::string, std::string>> actions;
        const std::string with = " with CustomActionData ";
        for (std::string line; std::getline(in, line);) {
            const auto at = line.find("Scheduling ");
            const auto data = line.find(with);
            if (at == std::string::npos || data == std::string::npos) continue;
            std::istringstream words(line.substr(at, data - at));
            std::string scheduling, kind, action, name;
            words >> scheduling >> kind >> action >> name;
            actions.emplace_back(name, line.substr(data + with.size()));
        }
        return actions;
    }

    fs::path dir_;
};

TEST_F(ExamplePackageTest, InstallSchedulesRollbackCommitAndConfigWithOneText) {
    Install();
    const auto actions = Scheduled();
    ASSERT_EQ(actions.size(), 3u);
    EXPECT_EQ(actions[0].first, "QM_XmlRollback");
    EXPECT_EQ(actions[1].first, "QM_XmlCommit");
    EXPECT_EQ(actions[2].first, "QM_XmlConfig");
    EXPECT_NE(actions[0].second.find("webConfig"), std::string::npos);
    EXPECT_EQ(actions[1].second, actions[0].second);
    EXPECT_EQ(actions[2].second, actions[0].second);
}

TEST_F(ExamplePackageTest, FailingToScheduleTheRollbackActionSchedulesNothing) {
    EXPECT_EQ(Install("--fail-at QM_XmlRollback"), 1);
    EXPECT_TRUE(Scheduled().empty());
    std::ifstream in(Log(), std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("Trellis: OnXmlInstall start."), std::string::npos);
    EXPECT_EQ(log.find("Trellis: OnXmlInstall end."), std::string::npos);
}

}  // namespace
