// The locators test package under trellis-host with this build's library,
// where nothing is found: the properties stay unset and the files are built
// all the same. (Values found, and the rows of a package and its merged
// module each applied once, are the end-to-end case "locator".)
#include <gtest/gtest.h>

#include <string>

#include "posix/PosixTestSupport.h"

namespace {

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
