// The log gate and the progress messages, on either backend.
#include <gtest/gtest.h>

#include <random>

#include "installer/Logger.h"
#include "platform/Msi.h"
#include "support/TestSession.h"

namespace {

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.IsOpen()); }
    test::TestSession session;
};

// The installer formats a message's field once more before it logs it:
// whatever a line holds (brackets, braces, escapes, references), the log
// must show it as it was sent. Under Wine this holds msi.dll to it.
TEST_F(LoggerTest, LinesComeOutOfTheInstallersFormattingAsTheyWereSent) {
    session.SetProperty(u"T", u"1");
    std::vector<std::u16string> lines = {
        u"Evaluate Condition: [NOT SKIPME] = FALSE. Skipping row...", u"[1]", u"[T] [[T]] [T", u"[\\[]", u"[\\]]",
        u"{[T]}", u"{[UNSET]}x", u"{{log only}}", u"{}", u"a]b[c}d{", u"[%PATH] [#File] [$C] [!F] [~]", u"\\",
    };
    std::mt19937 random(13);
    const std::u16string alphabet = u"[]{}\\~%#!$T1 ";
    for (int i = 0; i < 300; ++i) {
        std::u16string text;
        for (auto n = random() % 12; n > 0; --n) text += alphabet[random() % alphabet.size()];
        lines.push_back(text);
    }
    LogSession on(session.Handle(), u"");
    for (const std::u16string& line : lines) Logger::Instance().Send(line);
    EXPECT_EQ(session.LogLines(), lines);
}

// "QmEmbeddedDirectCall" is asked for every line, so a package can
// silence the library from any point on.
TEST_F(LoggerTest, TheSilencingConditionIsAskedForEveryLine) {
    LogSession on(session.Handle(), u"");
    session.SetProperty(u"QmEmbeddedDirectCall", u"1");
    Logger::Instance().Send(u"silenced");
    session.SetProperty(u"QmEmbeddedDirectCall", u"");
    Logger::Instance().Send(u"heard");
    EXPECT_EQ(session.LogLines(), std::vector<std::u16string>{u"heard"});
}

// Hidden values come from the properties MsiHiddenProperties names; a
// value that a locator finds joins them.
TEST_F(LoggerTest, HiddenValuesStayOutOfLinesAndProgress) {
    session.SetProperty(u"MsiHiddenProperties", u"PASSWORD; EMPTY;;NOT_SET");
    session.SetProperty(u"PASSWORD", u"s3cret");
    LogSession on(session.Handle(), u"");
    Logger::Instance().Hide(u"found-later");
    Logger::Instance().Send(u"value=\"s3cret\" and found-later");
    SendActionData(session.Handle(), {u"C:\\s3cret\\web.config"});
    EXPECT_EQ(session.LogLines(), std::vector<std::u16string>{u"value=\"**********\" and **********"});
    const auto progress = session.Messages(platform::kInstallMessageActionData);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].fields.at(1), u"C:\\**********\\web.config");
}

TEST_F(LoggerTest, ActionDataCarriesItsTextsAndTheUsersAnswer) {
    EXPECT_EQ(SendActionData(session.Handle(), {u"C:\\App\\web.config", u"second"}), 0u);
    const auto sent = session.Messages(platform::kInstallMessageActionData);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_GE(sent[0].fields.size(), 3u);
    EXPECT_EQ(sent[0].fields[1], u"C:\\App\\web.config");
    EXPECT_EQ(sent[0].fields[2], u"second");

    EXPECT_EQ(SendActionData(0, {u"x"}), 0u);
    EXPECT_EQ(SendActionData(session.Handle(), {}), 0u);
    EXPECT_EQ(session.Messages(platform::kInstallMessageActionData).size(), 1u);

    for (int reply : {platform::kIdCancel, platform::kIdAbort}) {
        session.SetReply(platform::kInstallMessageActionData, reply);
        EXPECT_EQ(SendActionData(session.Handle(), {u"x"}), platform::kErrorInstallUserExit) << reply;
    }
    session.SetReply(platform::kInstallMessageActionData, 1);
    EXPECT_EQ(SendActionData(session.Handle(), {u"x"}), 0u);
}

}  // namespace
