// The fault sweep. Each step of a product's life (a merge install, a
// from-scratch install, a rollback after a later failure, a commit, an
// uninstall) runs once for every operation on the disk or the registry it
// makes, with exactly that operation failing (FaultInjection.h). Whatever
// fails, right after the step each file holds its bytes from before the step
// or all of its result, no temporary file is left, every backup on disk is
// recorded and every recorded backup is on disk; and the step that would
// follow (a rollback, an uninstall) then brings the original bytes back.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/XmlTransactions.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/os/FileSystem.h"
#include "platform/posix/FaultInjection.h"
#include "posix/PosixTestSupport.h"
#include "support/ManagerTestSupport.h"
#include "support/ScratchFolder.h"

namespace {

const std::u16string kProduct = u"{3B9F6A21-7C4D-4E85-9A13-5D2E8F0B6C47}";
const std::string kOriginal = "\xEF\xBB\xBF<config>\r\n  <other/>\r\n</config>\r\n";

enum class Step { Install, Rollback, Commit, Uninstall };

struct Row {
    const char* name;
    bool merge, built;           // which of the two file rows the package has
    std::vector<Step> before;    // fault-free, setting the stage
    Step faulty;
    Step after;                  // fault-free, what the installer would run next
    bool builtMayStay;           // an uninstall that cannot delete it leaves it, with a warning
};

// A file's bytes, or nothing for a missing file.
using Content = std::optional<std::string>;

// The sweep flushes files to the disk a few thousand times: it runs in a
// sandbox in memory where the system has one, so that it takes seconds.
class FaultSweep : public ::testing::Test {
protected:
    std::u16string Merge() const { return scratch / u"merge.xml"; }
    std::u16string Built() const { return scratch / u"built.xml"; }

    void Run(const Row& row, Step step, const std::u16string& run) const {
        std::vector<test::FileRow> files;
        // merge.xml gets an element added; built.xml, missing, is made.
        if (row.merge) files.push_back({u"merge", u"merge.xml", scratch.Path() + u"\\", u"cfg", 8 | 16});
        if (row.built) files.push_back({u"built", u"built.xml", scratch.Path() + u"\\", u"set", 8 | 16});
        const std::vector<test::ElementRow> elements = {
            {u"cfg", u"", u"config", 0, 0, u"", 0},
            {u"add", u"cfg", u"add", 1, 4 | 2, u"", 0},
            {u"set", u"", u"settings", 0, 0, u"", 0},
            {u"item", u"set", u"item", 1, 4, u"on", 0},
        };
        const std::vector<test::AttributeRow> attributes = {{u"add", u"key", 2 | 8 | 16, 0, u"shop"}};
        const bool removing = step == Step::Uninstall;
        auto manager = test::BuildManager({{u"ProductCode", kProduct}, {u"UpgradeCode", u"{UPGRADE}"},
                                           {u"REMOVE", removing ? u"ALL" : u""}, {u"QM_XML_RUN_ID", run}},
                                          files, elements, attributes);
        switch (step) {
        case Step::Install: ExecuteXmlUpdates(*manager, XML_UPDATE_INSTALL); break;
        case Step::Rollback: RollbackXmlUpdates(*manager); break;
        case Step::Commit: CommitXmlUpdates(*manager); break;
        case Step::Uninstall: ExecuteXmlUpdates(*manager, XML_UPDATE_UNINSTALL); break;
        }
    }
    static std::u16string RunOf(Step step) { return step == Step::Uninstall ? u"U1" : u"R1"; }

    void Stage(const Row& row) const {
        scratch.Clear();
        test::DeleteNorrvikTree();
        test::WriteBytes(Merge(), kOriginal);
        for (Step step : row.before) Run(row, step, RunOf(step));
    }
    std::map<std::u16string, Content> Snapshot() const {
        std::map<std::u16string, Content> files;
        for (const std::u16string& path : {Merge(), Built()}) {
            std::string bytes;
            files[path] = ReadWholeFile(path, &bytes) ? Content(bytes) : std::nullopt;
        }
        return files;
    }
    // Names in the folder other than the two targets.
    std::set<std::u16string> Others() const {
        std::set<std::u16string> names;
        platform::FileFinder finder;
        platform::FindData entry;
        for (bool found = finder.First(scratch / u"*", &entry); found; found = finder.Next(&entry)) {
            if (entry.name != u"." && entry.name != u".." && entry.name != u"merge.xml" && entry.name != u"built.xml")
                names.insert(scratch / entry.name);
        }
        return names;
    }
    // The backups the product's values name (run records left out).
    std::set<std::u16string> RecordedBackups() const {
        std::set<std::u16string> backups;
        platform::HKey key = 0;
        if (platform::RegOpenKeyExW(platform::kHKeyCurrentUser, ProductBackupKey(kProduct), platform::kKeyRead,
                                    &key) != platform::kRegSuccess)
            return backups;
        std::u16string name;
        for (std::uint32_t i = 0; platform::RegEnumValueW(key, i, &name) == platform::kRegSuccess; ++i) {
            if (name.find(u'|') != std::u16string::npos) continue;
            const std::u16string value = test::CurrentUserValue(ProductBackupKey(kProduct), name);
            for (const std::u16string& piece : SplitBackupValue(value))
                if (!piece.empty() && piece != kBuiltFromScratch) backups.insert(NormalizeBackslashes(piece));
        }
        platform::RegCloseKey(key);
        return backups;
    }

    test::SandboxRootScope memory{"/dev/shm"};
    test::ScratchFolder scratch;
};

TEST_F(FaultSweep, EverySingleFailureLeavesFilesWholeAndRecordsTrue) {
    const Row rows[] = {
        {"merge install", true, false, {}, Step::Install, Step::Rollback, false},
        {"from-scratch install", false, true, {}, Step::Install, Step::Rollback, false},
        {"rollback", true, true, {Step::Install}, Step::Rollback, Step::Rollback, false},
        {"commit", true, true, {Step::Install}, Step::Commit, Step::Uninstall, false},
        {"uninstall", true, true, {Step::Install, Step::Commit}, Step::Uninstall, Step::Uninstall, true},
    };
    for (const Row& row : rows) {
        Stage(row);
        const auto before = Snapshot();
        platform::posix::StartOperationCount(0);
        Run(row, row.faulty, RunOf(row.faulty));
        const std::uint64_t operations = platform::posix::StopOperationCount();
        const auto result = Snapshot();
        ASSERT_GT(operations, 0u) << row.name;
        std::printf("[ fault sweep ] %s: %llu runs\n", row.name, static_cast<unsigned long long>(operations));

        for (std::uint64_t k = 1; k <= operations; ++k) {
            SCOPED_TRACE(std::string(row.name) + ", operation " + std::to_string(k) + " of " +
                         std::to_string(operations) + " fails");
            Stage(row);
            platform::posix::StartOperationCount(k);
            Run(row, row.faulty, RunOf(row.faulty));
            platform::posix::StopOperationCount();

            for (const auto& [path, content] : Snapshot()) {
                EXPECT_TRUE(content == before.at(path) || content == result.at(path)) << Narrow(path);
            }
            // Every other file is a backup on record: no temporary file, no
            // backup unrecorded, no record without its backup.
            const std::set<std::u16string> others = Others();
            for (const std::u16string& name : others)
                EXPECT_EQ(name.find(u".trellis-"), std::u16string::npos) << Narrow(name);
            EXPECT_EQ(others, RecordedBackups());

            Run(row, row.after, row.after == Step::Uninstall ? u"U2" : u"R1");
            const auto final = Snapshot();
            EXPECT_EQ(final.at(Merge()), Content(kOriginal));
            if (!row.builtMayStay || final.at(Built()) != before.at(Built())) {
                EXPECT_EQ(final.at(Built()), std::nullopt);
            }
            EXPECT_TRUE(Others().empty());
            EXPECT_FALSE(test::CurrentUserKeyExists(u"Software\\Norrvik"));
        }
    }
}

}  // namespace
