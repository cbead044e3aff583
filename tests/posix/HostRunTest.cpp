// trellis-host itself, run as a program over the hostpackage fixture with the
// test custom-action library of tests/hostactions: what its log shows, what
// it leaves in the root, what it prints and how it exits; and its unified
// diffs (--diff) and command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Arguments.h"
#include "TreeDiff.h"
#include "platform/Strings.h"
#include "posix/PosixTestSupport.h"

namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const char kProductCode[] = "{3E5A7C91-2B4D-4F68-9A0C-1D3F5B7E9A24}";
const char kInstallDir[] = "C:\\Program Files (x86)\\Trellis Test\\App\\";
// The same folders below the root.
const char kAppFolder[] = "C/Program Files (x86)/Trellis Test/App";
const char kDataFolder[] = "C/ProgramData/Trellis Test Data";

struct Result : test::HostResult {
    std::string log;
};

// A fresh root for each test, removed afterwards.
class HostRunTest : public ::testing::Test {
protected:
    // Runs trellis-host with the given arguments; "{root}", "{package}",
    // "{library}" and "{log}" stand for this test's paths.
    Result Run(std::vector<std::string> args) {
        for (std::string& arg : args) {
            if (arg == "{root}") arg = root_.string();
            if (arg == "{package}") arg = std::string(TRELLIS_FIXTURE_DIR) + "/hostpackage.msi";
            if (arg == "{library}") arg = TRELLIS_HOST_TEST_ACTIONS;
            if (arg == "{log}") arg = (dir_ / "install.log").string();
        }
        Result result;
        static_cast<test::HostResult&>(result) = test::RunHost(args, dir_.Path());
        result.log = ReadFile(dir_ / "install.log");
        return result;
    }

    Result Install(std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"install", "{package}", "--root", "{root}", "--library", "{library}",
                                         "--log", "{log}"};
        args.insert(args.end(), more.begin(), more.end());
        return Run(args);
    }

    Result Uninstall() {
        return Run({"uninstall", "{package}", "--root", "{root}", "--library", "{library}", "--log", "{log}"});
    }

    bool Registered() const { return fs::exists(root_ / "products" / (std::string(kProductCode) + ".txt")); }

    test::TempDir dir_;
    const fs::path root_ = dir_ / "root";
};

// Each text must occur in the log after the one before it.
void ExpectInOrder(const std::string& log, const std::vector<std::string>& texts) {
    std::size_t at = 0;
    for (const std::string& text : texts) {
        const std::size_t found = log.find(text, at);
        EXPECT_NE(found, std::string::npos) << "missing, or out of order: " << text;
        if (found != std::string::npos) at = found + text.size();
    }
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

std::string LogData(const std::string& data, const char* modes) {
    return std::string("LogData: data=") + data + " " + modes + " ProductCode=" + kProductCode +
           " UserSID=set INSTALLDIR= MsiDoActionW=1609";
}

TEST_F(HostRunTest, InstallRunsTheSequenceTheScriptAndTheCommitActions) {
    const Result run = Install();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string& log = run.log;

    // The sequence in order, with the skipped rows.
    ExpectInOrder(log, {"=== Verbose logging started: ", ": INSTALL.", ": FindRelatedProducts.", ": CostInitialize.",
                        ": FileCost.", ": CostFinalize.", ": HostReportState.", ": HostStatesInstall.",
                        "Skipping action: HostStatesRemove (condition is false)",
                        "Skipping action: HostResult (condition is false)", ": InstallValidate.",
                        ": InstallInitialize.", "Skipping action: HostUninstallState (condition is false)",
                        ": InstallFiles.", ": HostScheduleScripts.", ": InstallFinalize.",
                        ": HostAfterFinalize.", "Action ended", ": INSTALL. Return value 1."});
    // [#File] and [$Component] after CostFinalize.
    EXPECT_NE(log.find(" paths=" + std::string(kInstallDir) + "settings.ini C:\\ProgramData\\Trellis Test Data\\ "),
              std::string::npos);
    EXPECT_EQ(Count(log, "Return value 3."), 0u);

    // The immediate action schedules into each script; MsiDoActionW of an
    // unknown action is refused.
    ExpectInOrder(log, {"ScheduleScripts: MsiDoActionW(HostRollback1) = 0",
                        "ScheduleScripts: MsiDoActionW(HostCommit1) = 0",
                        "ScheduleScripts: MsiDoActionW(NoSuchAction) = 1626"});
    // The script holds them in order, each with its CustomActionData.
    const std::string dir = kInstallDir;
    ExpectInOrder(log, {
        "Executing op: CustomActionSchedule(Action=HostRollback1,ActionType=1281,Source=HostActions,"
        "Target=LogData,CustomActionData=rollback-1 " + dir + ")",
        "Executing op: CustomActionSchedule(Action=HostDeferred1,ActionType=1025,Source=HostActions,"
        "Target=LogData,CustomActionData=deferred-1 " + dir + ")",
        LogData("deferred-1 " + dir, "scheduled=1 rollback=0 commit=0"),
        "Executing op: CustomActionSchedule(Action=HostRollback2,ActionType=3329,Source=HostActions,"
        "Target=LogData,CustomActionData=rollback-2; \xC3\xA9t\xC3\xA9 \xE2\x82\xAC)",
        "Executing op: CustomActionSchedule(Action=HostDeferred2,ActionType=3073,Source=HostActions,"
        "Target=LogData,CustomActionData=deferred-2)",
        LogData("deferred-2", "scheduled=1 rollback=0 commit=0"),
        "Executing op: CustomActionSchedule(Action=HostCommit1,ActionType=1537,Source=HostActions,"
        "Target=LogData,CustomActionData=commit-1)",
        LogData("last", "scheduled=1 rollback=0 commit=0"),
        // The commit actions after the script, and only then.
        "Executing op: CustomActionCommit(Action=HostCommit1,ActionType=1537,Source=HostActions,"
        "Target=LogData,CustomActionData=commit-1)",
        LogData("commit-1", "scheduled=0 rollback=0 commit=1"),
        ": InstallFinalize. Return value 1.",
        "Product: Trellis Host Test -- Installation completed successfully.",
        "Installation success or error status: 0.",
        "MainEngineThread is returning 0",
        "=== Verbose logging stopped: ",
    });
    EXPECT_EQ(Count(log, "rollback=1"), 0u);
    EXPECT_EQ(Count(log, "Rollback: "), 0u);
    EXPECT_TRUE(Registered());
}

TEST_F(HostRunTest, FailAtDeferredActionRollsBackWhatTheScriptReachedNewestFirst) {
    WriteFile(root_ / kAppFolder / "settings.ini", "key=value\r\n");
    const Result run = Install({"--diff", "--fail-at", "HostLast"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Count(run.err, "\n"), 1u) << run.err;
    EXPECT_NE(run.err.find("1603"), std::string::npos) << run.err;

    ExpectInOrder(run.log, {
        LogData("deferred-1 " + std::string(kInstallDir), "scheduled=1 rollback=0 commit=0"),
        LogData("deferred-2", "scheduled=1 rollback=0 commit=0"),
        "Action HostLast fails: --fail-at names it",
        "Rollback: HostRollback2",
        LogData("rollback-2; \xC3\xA9t\xC3\xA9 \xE2\x82\xAC", "scheduled=0 rollback=1 commit=0"),
        "Rollback: HostRollback1",
        LogData("rollback-1 " + std::string(kInstallDir), "scheduled=0 rollback=1 commit=0"),
        "Rollback: HostRollbackCreate",
        ": INSTALL. Return value 3.",
        "Product: Trellis Host Test -- Installation failed.",
        "MainEngineThread is returning 1603",
    });
    EXPECT_EQ(Count(run.log, "commit=1"), 0u);
    EXPECT_EQ(Count(run.log, "data=last"), 0u);
    EXPECT_FALSE(Registered());
    // The diff leaves out what the rollback undid.
    EXPECT_NE(run.out.find("+added by Trellis Host Test"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("created.txt"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("products/"), std::string::npos) << run.out;
}

TEST_F(HostRunTest, FailAtActionThatMsiDoActionSchedulesFailsTheCall) {
    const Result run = Install({"--fail-at", "HostDeferred2"});
    EXPECT_EQ(run.status, 1);
    ExpectInOrder(run.log, {"ScheduleScripts: MsiDoActionW(HostDeferred1) = 0",
                            "ScheduleScripts: MsiDoActionW(HostDeferred2) = 1603",
                            ": HostScheduleScripts. Return value 3.", ": INSTALL. Return value 3."});
    // The script never ran, so there was nothing to roll back either.
    EXPECT_EQ(Count(run.log, "LogData:"), 0u);
    EXPECT_EQ(Count(run.log, "Rollback: "), 0u);
}

TEST_F(HostRunTest, DiffShowsTheFilesCreatedChangedAndDeleted) {
    WriteFile(root_ / kAppFolder / "settings.ini", "key=value\r\n");
    WriteFile(root_ / kAppFolder / "obsolete.txt", "old\n");
    WriteFile(root_ / "C/untouched.txt", "same\n");
    const Result run = Install({"--diff"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string app = kAppFolder, data = kDataFolder;
    ExpectInOrder(run.out, {
        "--- a/" + app + "/obsolete.txt\n+++ /dev/null\n@@ -1 +0,0 @@\n-old\n",
        "--- a/" + app + "/settings.ini\n+++ b/" + app +
            "/settings.ini\n@@ -1 +1,2 @@\n key=value\r\n+added by Trellis Host Test\r\n",
        "--- /dev/null\n+++ b/" + data + "/created.txt\n@@ -0,0 +1 @@\n+created by Trellis Host Test\r\n",
        "--- /dev/null\n+++ b/products/" + std::string(kProductCode) + ".txt\n",
    });
    EXPECT_EQ(run.out.find("untouched"), std::string::npos);
    EXPECT_EQ(run.out.find("install.log"), std::string::npos);
}

TEST_F(HostRunTest, FindRelatedProductsFindsTheRootsProductsAndRemovingNeedsTheirPackages) {
    const auto seed = [&](const std::string& code, const std::string& version) {
        WriteFile(root_ / "products" / (code + ".txt"),
                  "ProductCode=" + code + "\nUpgradeCode={8C1E3A5B-7D9F-4B26-A48C-6E0A2C4E6F81}\nProductVersion=" +
                      version + "\nFeature=Main\n");
    };
    const std::string older = "{AAAAAAAA-0000-0000-0000-000000000001}";
    const std::string newer = "{AAAAAAAA-0000-0000-0000-000000000002}";
    seed(older, "1.0.5");
    seed(newer, "1.3.0");
    const Result run = Install();
    EXPECT_NE(run.log.find(" OLDPRODUCTS=" + older + " "), std::string::npos);
    EXPECT_NE(run.log.find("Property(S): NEWERPRODUCTS = " + newer), std::string::npos);
    // The older one is to be removed, but without a copy of its package its
    // uninstall sequence cannot run: the upgrade fails and changes nothing.
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.log.find("Error 1612. RemoveExistingProducts cannot remove product " + older), std::string::npos);
    EXPECT_TRUE(fs::exists(root_ / "products" / (older + ".txt")));
    EXPECT_TRUE(fs::exists(root_ / "products" / (newer + ".txt")));
    EXPECT_FALSE(Registered());
}

// The product is remembered until it is uninstalled; a second uninstall
// finds no product. (The maintenance states are the end-to-end cases'.)
TEST_F(HostRunTest, InstalledProductIsRememberedUntilUninstalled) {
    ASSERT_EQ(Install().status, 0);
    EXPECT_TRUE(Registered());
    const Result removal = Uninstall();
    ASSERT_EQ(removal.status, 0) << removal.err;
    EXPECT_FALSE(Registered());
    const Result twice = Uninstall();
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.err.find("1605"), std::string::npos) << twice.err;
}

// A custom action's result decides how the installation goes on.
TEST_F(HostRunTest, CustomActionResultsEndOrContinueTheInstallation) {
    struct Case {
        const char* result;
        int status;
        const char* logged;  // the action's logged return value
        const char* error;   // what stderr names, if anything
        bool scheduled;      // whether the actions after it ran
    };
    const Case cases[] = {
        {"0", 0, "Return value 1.", nullptr, true},
        {"1626", 0, "Return value 0.", nullptr, true},
        {"259", 0, "Return value 5.", nullptr, false},
        {"1602", 1, "Return value 2.", "1602", false},
        {"1603", 1, "Return value 3.", "1603", false},
        {"42", 1, "Return value 3.", "1603", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        fs::remove_all(root_);
        const Result run = Install({"--prop", std::string("HOST_RESULT=") + c.result});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.log.find(std::string(": HostResult. ") + c.logged), std::string::npos);
        if (c.error != nullptr) {
            EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        }
        EXPECT_EQ(run.log.find(": HostScheduleScripts.") != std::string::npos, c.scheduled);
    }
}

TEST_F(HostRunTest, EntryPointMissingFromTheLibraryFailsTheAction) {
    // Without --library the host loads the libtrellis.so built beside it,
    // which has none of the test package's entry points.
    const Result run = Run({"install", "{package}", "--root", "{root}", "--log", "{log}"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.log.find("libtrellis.so"), std::string::npos);
    ExpectInOrder(run.log, {"Error 1723. The library has no such entry point. (action HostReportState, entry point "
                            "ReportState",
                            ": HostReportState. Return value 3."});
}

TEST_F(HostRunTest, BadUsageExitsWithTwoAndOneLine) {
    WriteFile(dir_ / "not-a-package.msi", "plain text\n");
    const std::string notPackage = (dir_ / "not-a-package.msi").string();
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"repair", "{package}", "--root", "{root}"}, "unknown command"},
        {{"install", "--root", "{root}"}, "no package"},
        {{"install", "{package}"}, "--root"},
        {{"install", "{package}", "--root"}, "--root needs"},
        {{"install", "{package}", "--root", "{root}", "--verbose"}, "unknown option --verbose"},
        {{"install", "{package}", "{package}", "--root", "{root}"}, "more than one package"},
        {{"install", "{package}", "--root", "{root}", "--prop", "=x"}, "--prop needs NAME=VALUE"},
        {{"install", "{package}", "--root", "{root}", "--prop", "NAME"}, "--prop needs NAME=VALUE"},
        {{"install", "/nonexistent/p.msi", "--root", "{root}"}, "cannot read the package"},
        {{"install", notPackage, "--root", "{root}"}, "cannot read the package"},
        {{"install", "{package}", "--root", "{root}", "--library", "/nonexistent.so"}, "cannot read the library"},
        {{"install", "{package}", "--root", "{root}", "--library", "HostActions=/nonexistent.so"},
         "cannot read the library /nonexistent.so"},
        {{"install", "{package}", "--root", "{root}", "--fail-at", "NoSuchAction"}, "--fail-at names NoSuchAction"},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& arg : c.args) joined += arg + " ";
        SCOPED_TRACE(joined);
        const Result run = Run(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(Count(run.err, "\n"), 1u) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

// trellis-host's unified diffs (--diff) and its command line.
std::string Numbered(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += std::to_string(i) + "\n";
    return text;
}

TEST(HostDiff, UnifiedDiffsOfTwoTexts) {
    struct Case {
        const char* name;
        std::string before;
        std::string after;
        std::string expected;  // after the --- and +++ lines
    };
    const Case cases[] = {
        {"equal", "a\nb\n", "a\nb\n", ""},
        {"one line changed, three lines of context", Numbered(1, 9),
         "1\n2\n3\n4\nfive\n6\n7\n8\n9\n", "@@ -2,7 +2,7 @@\n 2\n 3\n 4\n-5\n+five\n 6\n 7\n 8\n"},
        {"insertion at the start", "b\nc\n", "a\nb\nc\n", "@@ -1,2 +1,3 @@\n+a\n b\n c\n"},
        {"deletion at the end", "a\nb\nc\n", "a\nb\n", "@@ -1,3 +1,2 @@\n a\n b\n-c\n"},
        {"created", "", "x\ny\n", "@@ -0,0 +1,2 @@\n+x\n+y\n"},
        {"emptied", "x\n", "", "@@ -1 +0,0 @@\n-x\n"},
        {"a missing final line break is a change",
         "a\nb", "a\nb\n", "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
        {"changes far apart make two hunks", Numbered(1, 20),
         "1\nTWO\n" + Numbered(3, 18) + "NINETEEN\n20\n",
         "@@ -1,5 +1,5 @@\n 1\n-2\n+TWO\n 3\n 4\n 5\n@@ -16,5 +16,5 @@\n 16\n 17\n 18\n-19\n+NINETEEN\n 20\n"},
        {"changes six lines apart share one hunk", Numbered(1, 9), "ONE\n" + Numbered(2, 7) + "EIGHT\n9\n",
         "@@ -1,9 +1,9 @@\n-1\n+ONE\n 2\n 3\n 4\n 5\n 6\n 7\n-8\n+EIGHT\n 9\n"},
        {"carriage returns stay part of the line", "k=v\r\n", "k=v\r\nadded\r\n", "@@ -1 +1,2 @@\n k=v\r\n+added\r\n"},
        {"a moved line", "a\nb\nc\nd\n", "b\nc\na\nd\n", "@@ -1,4 +1,4 @@\n-a\n b\n c\n+a\n d\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string diff = host::UnifiedDiff(c.before, c.after, "a/f", "b/f");
        if (c.expected.empty()) {
            EXPECT_EQ(diff, "");
        } else {
            EXPECT_EQ(diff, "--- a/f\n+++ b/f\n" + c.expected);
        }
    }
}

TEST(HostDiff, BinaryFilesAreNamedNotShown) {
    EXPECT_EQ(host::UnifiedDiff(std::string("a\0b", 3), "ab", "a/x", "b/x"), "Binary files a/x and b/x differ\n");
}

// A large file rewritten throughout still gives a correct, if not minimal, diff.
TEST(HostDiff, LargeRewritesStayCorrect) {
    std::string before, after;
    for (int i = 0; i < 6000; ++i) {
        before += "old " + std::to_string(i) + "\n";
        after += "new " + std::to_string(i) + "\n";
    }
    const std::string diff = host::UnifiedDiff(before, after, "a/big", "b/big");
    EXPECT_EQ(diff.rfind("--- a/big\n+++ b/big\n@@ -1,6000 +1,6000 @@\n-old 0\n", 0), 0u);
    std::size_t removed = 0, added = 0;
    for (std::size_t at = diff.find('\n'); at != std::string::npos && at + 1 < diff.size(); at = diff.find('\n', at + 1)) {
        if (diff.compare(at + 1, 4, "-old") == 0) ++removed;
        if (diff.compare(at + 1, 4, "+new") == 0) ++added;
    }
    EXPECT_EQ(removed, 6000u);
    EXPECT_EQ(added, 6000u);
}

TEST(HostDiff, TreesInPathOrderWithCreatedAndDeletedFiles) {
    const host::TreeSnapshot before = {{"C/a.txt", "1\n"}, {"C/gone.txt", "bye\n"}, {"C/same.txt", "s\n"},
                                       {"C/empty-gone", ""}};
    const host::TreeSnapshot after = {{"C/a.txt", "2\n"}, {"C/new.txt", "hi\n"}, {"C/same.txt", "s\n"},
                                      {"C/empty-new", ""}};
    EXPECT_EQ(host::DiffTrees(before, after),
              "--- a/C/a.txt\n+++ b/C/a.txt\n@@ -1 +1 @@\n-1\n+2\n"
              "--- a/C/empty-gone\n+++ /dev/null\n"
              "--- /dev/null\n+++ b/C/empty-new\n"
              "--- a/C/gone.txt\n+++ /dev/null\n@@ -1 +0,0 @@\n-bye\n"
              "--- /dev/null\n+++ b/C/new.txt\n@@ -0,0 +1 @@\n+hi\n");
}

TEST(HostArguments, OptionsInAnyOrderAndInEitherForm) {
    host::Options options;
    std::string error;
    ASSERT_TRUE(host::ParseArguments({"uninstall", "--prop", "A=1", "p.msi", "--root=/r", "--prop=B=x=y", "--diff",
                                      "--log", "l.txt", "--fail-at=Act", "--fail-after", "Late", "--library", "lib.so", "--prop", "EMPTY="},
                                     &options, &error))
        << error;
    EXPECT_TRUE(options.uninstall);
    EXPECT_EQ(options.package, "p.msi");
    EXPECT_EQ(options.root, "/r");
    EXPECT_EQ(options.logFile, "l.txt");
    EXPECT_EQ(strings::ToUtf8(options.failAt), "Act");
    EXPECT_EQ(strings::ToUtf8(options.failAfter), "Late");
    EXPECT_EQ(options.library, "lib.so");
    EXPECT_TRUE(options.diff);
    ASSERT_EQ(options.properties.size(), 3u);
    EXPECT_EQ(strings::ToUtf8(options.properties[1].first), "B");
    EXPECT_EQ(strings::ToUtf8(options.properties[1].second), "x=y");
    EXPECT_EQ(strings::ToUtf8(options.properties[2].second), "");

    EXPECT_FALSE(host::ParseArguments({"install", "p.msi", "--root", "/r", "--help"}, &options, &error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(host::ParseArguments({"install", "p.msi", "--root", "/r", "--prop", "1X=2"}, &options, &error));
    EXPECT_NE(error.find("--prop"), std::string::npos);
}

}  // namespace
