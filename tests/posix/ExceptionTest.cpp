// How failures reach the log, the user and the installer, in the immediate
// and the deferred phase (the stand-in session can be put in either), and
// that no exception ever leaves an exported entry point.
#include <gtest/gtest.h>

#include <limits>
#include <new>
#include <stdexcept>

#include "installer/EntryPoints.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/Msi.h"
#include "platform/os/FileSystem.h"
#include "platform/posix/MessageBoxHook.h"
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

class ExceptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.OpenDatabase(test::FixturePath("frame")));
        platform::posix::SetMessageBoxHook(
            [this](const std::u16string& text, const std::u16string& caption, std::uint32_t type) {
                boxes.push_back(text);
                EXPECT_EQ(caption, u"");
                EXPECT_EQ(type, 0x10u);
                return 1;
            });
    }
    void TearDown() override { platform::posix::SetMessageBoxHook(nullptr); }

    std::vector<platform::posix::RecordedMessage> Sent(std::uint32_t type) const {
        std::vector<platform::posix::RecordedMessage> out;
        for (const auto& m : session.Messages())
            if ((m.type & 0xFF000000u) == type) out.push_back(m);
        return out;
    }
    std::vector<std::u16string> LogLines() const {
        std::vector<std::u16string> lines;
        for (const auto& m : Sent(platform::kInstallMessageInfo))
            lines.push_back(session.MessageText(m.type, m.fields));
        return lines;
    }
    void Deferred() { session.SetMode(platform::kMsiRunModeScheduled, true); }

    platform::posix::InstallerSession session;
    std::vector<std::u16string> boxes;
};

// Immediately a text error opens a message box; deferred, it is a warning
// to the installer, and a numbered error sends its number and arguments.
TEST_F(ExceptionTest, ShowReachesTheUserOrTheInstaller) {
    Exception(TRELLIS_HERE, u"Cannot write C:\\x.xml").Show(session.Handle());
    EXPECT_EQ(boxes, std::vector<std::u16string>{u"Cannot write C:\\x.xml"});
    EXPECT_TRUE(Sent(platform::kInstallMessageWarning).empty());

    boxes.clear();
    Deferred();
    Exception(TRELLIS_HERE, u"Cannot write C:\\x.xml").Show(session.Handle());
    Exception(TRELLIS_HERE, 4113, {u"C:\\web.config", u"12", u"4"}).Show(session.Handle());
    EXPECT_TRUE(boxes.empty());
    const auto warnings = Sent(platform::kInstallMessageWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].type, 0x02000030u);
    EXPECT_EQ(warnings[0].fields, (std::vector<std::u16string>{u"[1]", u"Cannot write C:\\x.xml", u""}));
    const auto errors = Sent(platform::kInstallMessageError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].type, 0x01000010u);
    EXPECT_EQ(errors[0].fields, (std::vector<std::u16string>{u"", u"4113", u"C:\\web.config", u"12", u"4"}));
}

// The installer formats an error's texts once more: a row text such as
// "[PORT]" reaches the user as it is, and a hidden value not at all.
TEST_F(ExceptionTest, ErrorTextsArriveLiterallyAndWithoutHiddenValues) {
    session.SetProperty(u"PORT", u"8080");
    session.SetProperty(u"MsiHiddenProperties", u"PASSWORD");
    session.SetProperty(u"PASSWORD", u"hunter2");
    LogSession on(session.Handle(), u"");
    const Exception numbered(TRELLIS_HERE, 4113, {u"C:\\[PORT]\\{{x}}.config", u"pw=hunter2", u"4"});
    const Exception text(TRELLIS_HERE, u"Cannot write [PORT] with hunter2");
    numbered.Show(session.Handle());
    text.Show(session.Handle());
    Deferred();
    numbered.Show(session.Handle());
    text.Show(session.Handle());

    const std::u16string numberedText =
        u"The file C:\\[PORT]\\{{x}}.config is not well-formed: line pw=**********, column 4.";
    const std::u16string textText = u"Cannot write [PORT] with **********";
    EXPECT_EQ(boxes, (std::vector<std::u16string>{numberedText, textText}));
    const auto error = Sent(platform::kInstallMessageError).at(0);
    const auto warning = Sent(platform::kInstallMessageWarning).at(0);
    EXPECT_EQ(session.MessageText(error.type, error.fields), numberedText);
    EXPECT_EQ(session.MessageText(warning.type, warning.fields), textText);
}

TEST_F(ExceptionTest, NumberedErrorImmediateIsFormattedFromTheErrorTable) {
    LogSession on(session.Handle(), u"");
    Exception(TRELLIS_HERE, 4113, {u"C:\\web.config", u"12", u"4"}).Show(session.Handle());
    EXPECT_EQ(boxes, std::vector<std::u16string>{u"The file C:\\web.config is not well-formed: line 12, column 4."});
    const auto lines = LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        u"Error template [4113]: The file [2] is not well-formed: line [3], column [4]."),
              lines.end());
}

TEST_F(ExceptionTest, CatchOrderOfTheCatchSites) {
    LogSession on(session.Handle(), u"");
    Deferred();
    auto report = [&](auto&& thrower) {
        session.ClearMessages();
        try {
            thrower();
        } catch (...) {
            ReportCurrentException(session.Handle());
        }
    };

    report([] { throw std::runtime_error("bad allocation somewhere"); });
    EXPECT_EQ(LogLines(), std::vector<std::u16string>{u"bad allocation somewhere"});
    EXPECT_TRUE(Sent(platform::kInstallMessageWarning).empty());

    report([] { throw Exception("custact/XML/src/util/ByteStreamUpdater.cpp", 31, 4116, {u"C:\\a.xml"}); });
    EXPECT_EQ(LogLines(), std::vector<std::u16string>{u"custact/XML/src/util/ByteStreamUpdater:31 -> ERROR: 4116"});
    EXPECT_EQ(Sent(platform::kInstallMessageError).size(), 1u);

    report([] { throw 42; });
    EXPECT_EQ(LogLines(), std::vector<std::u16string>{u"Unknown exception !"});
    EXPECT_TRUE(boxes.empty());
}

// Nothing crosses the C boundary: every exported entry point, run with an
// installer whose messages throw from the k-th on (std::bad_alloc, or
// something no catch block knows), for every k up to the number of messages
// a normal run sends, returns the result its failures give.
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
