// How failures reach the log, the user and the installer, in the immediate
// and the deferred phase (the stand-in session can be put in either).
#include <gtest/gtest.h>

#include <stdexcept>

#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/Msi.h"
#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/MessageBoxHook.h"
#include "support/TestSession.h"

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
            ReportCurrentException(session.Handle(), "custact/XML/src/xml/XmlManager.cpp", 120);
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

}  // namespace
