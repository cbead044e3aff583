// Nothing crosses the C boundary: every exported entry point, run with an
// installer whose messages throw from the k-th on (std::bad_alloc, or
// something no catch block knows), for every k up to the number of messages
// a normal run sends, returns the result its failures give.
#include <gtest/gtest.h>

#include <limits>
#include <new>

#include "installer/EntryPoints.h"
#include "platform/Msi.h"
#include "platform/os/FileSystem.h"
#include "platform/posix/msi/InstallerSession.h"
#include "support/BackupTestSupport.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

TRELLIS_ENTRY OnXmlInstall(std::uint32_t install);
TRELLIS_ENTRY OnXmlUninstall(std::uint32_t install);
TRELLIS_ENTRY TestXmlUpdateDataReader(std::uint32_t install);
TRELLIS_ENTRY OnXmlConfig(std::uint32_t install);
TRELLIS_ENTRY OnXmlRemove(std::uint32_t install);
TRELLIS_ENTRY OnXmlRollback(std::uint32_t install);
TRELLIS_ENTRY OnXmlCommit(std::uint32_t install);

namespace {

using platform::posix::InstallerSession;

constexpr int kAbsent = platform::posix::kInstallStateAbsent;
constexpr int kLocal = platform::posix::kInstallStateLocal;

struct EntryPoint {
    const char* name;
    std::uint32_t (*function)(std::uint32_t);
    int mode;                // 0 for the immediate phase, else the run mode the script gives
    bool removing;           // the component goes away
    std::uint32_t onFailure;
};

class EntryPointGuard : public ::testing::Test {
protected:
    void SetUp() override { test::DeleteNorrvikTree(); }
    void TearDown() override { Clean(); }

    void Prepare(InstallerSession& session, const EntryPoint& entry) const {
        ASSERT_TRUE(session.OpenDatabase(test::FixturePath("xmltables")));
        session.SetProperty(u"INSTALLDIR", scratch.Path() + u"\\");
        session.SetComponentState(u"WebComp", entry.removing ? ItemPair{kLocal, kAbsent} : ItemPair{kAbsent, kLocal});
        if (entry.mode != 0) {
            session.SetMode(entry.mode, true);
            session.SetProperty(u"CustomActionData", data);
        }
    }
    // One run; the messages throw from the throwFrom-th on. *sent counts them.
    std::uint32_t Run(const EntryPoint& entry, bool badAlloc, std::uint64_t throwFrom, std::uint64_t* sent) {
        InstallerSession session;
        Prepare(session, entry);
        *sent = 0;
        session.onMessage = [&](std::uint32_t) {
            if (++*sent < throwFrom) return;
            if (badAlloc) throw std::bad_alloc();
            throw 42;
        };
        const std::uint32_t result = entry.function(session.Handle());
        session.onMessage = nullptr;
        Clean();
        return result;
    }
    void Clean() {
        scratch.Clear();
        test::DeleteNorrvikTree();
    }

    using ItemPair = platform::posix::ItemState;
    test::ScratchFolder scratch;
    std::u16string data;  // what the immediate action hands to the others
};

TEST_F(EntryPointGuard, NoExceptionLeavesAnEntryPoint) {
    {
        InstallerSession session;
        Prepare(session, {"OnXmlInstall", OnXmlInstall, 0, false, 0});
        ASSERT_EQ(OnXmlInstall(session.Handle()), 0u);
        ASSERT_FALSE(session.Actions().empty());
        data = session.Actions().back().customActionData;
    }
    const EntryPoint entries[] = {
        {"OnXmlInstall", OnXmlInstall, 0, false, platform::kErrorInstallFailure},
        {"OnXmlUninstall", OnXmlUninstall, 0, true, platform::kErrorInstallFailure},
        {"TestXmlUpdateDataReader", TestXmlUpdateDataReader, 0, false, 0},
        {"OnXmlConfig", OnXmlConfig, platform::kMsiRunModeScheduled, false, platform::kErrorInstallFailure},
        {"OnXmlRemove", OnXmlRemove, platform::kMsiRunModeScheduled, true, 0},
        {"OnXmlRollback", OnXmlRollback, platform::kMsiRunModeRollback, false, 0},
        {"OnXmlCommit", OnXmlCommit, platform::kMsiRunModeCommit, false, 0},
    };
    constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
    for (const EntryPoint& entry : entries) {
        std::uint64_t messages = 0;
        const std::uint32_t normal = Run(entry, false, kNever, &messages);
        EXPECT_EQ(normal, 0u) << entry.name;
        EXPECT_GT(messages, 2u) << entry.name;
        for (const bool badAlloc : {true, false}) {
            for (std::uint64_t k = 1; k <= messages; ++k) {
                std::uint64_t sent = 0;
                EXPECT_EQ(Run(entry, badAlloc, k, &sent), entry.onFailure)
                    << entry.name << (badAlloc ? " std::bad_alloc" : " int") << " from message " << k;
            }
        }
    }
}

}  // namespace
