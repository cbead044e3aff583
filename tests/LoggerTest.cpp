// The log gate and the progress messages, on either backend.
#include <gtest/gtest.h>

#include "installer/Logger.h"
#include "platform/Msi.h"
#include "support/TestSession.h"

namespace {

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.IsOpen()); }
    test::TestSession session;
};

TEST_F(LoggerTest, StartsDisabledAndIsSwitchedOnPerSession) {
    Logger& log = Logger::Instance();
    EXPECT_FALSE(log.IsEnabled());
    {
        LogSession on(session.Handle());
        EXPECT_TRUE(log.IsEnabled());
        EXPECT_EQ(log.Handle(), session.Handle());
        log.Send(u"first line");
        log.Send(u"");
    }
    EXPECT_FALSE(log.IsEnabled());
    EXPECT_EQ(log.Handle(), 0u);
    log.Send(u"not sent after the session");

    const auto info = session.Messages(platform::kInstallMessageInfo);
    ASSERT_EQ(info.size(), 2u);
    ASSERT_EQ(info[0].fields.size(), 3u);  // a record of 2 fields, plus field 0
    EXPECT_EQ(info[0].fields[0], u"[1]");
    EXPECT_EQ(info[0].fields[1], u"Trellis: first line");
    EXPECT_EQ(info[1].fields[1], u"Trellis: ");
}

TEST_F(LoggerTest, PrefixIsOptional) {
    LogSession on(session.Handle(), u"");
    Logger::Instance().Send(u"bare");
    EXPECT_EQ(session.LogLines(), std::vector<std::u16string>{u"bare"});
}

TEST_F(LoggerTest, EmbeddedDirectCallConditionSilencesEveryLine) {
    LogSession on(session.Handle());
    struct Case {
        const char16_t* value;
        bool sent;
    };
    for (const Case& c : {Case{u"1", false}, Case{u"", true}, Case{u"yes", false}}) {
        session.SetProperty(u"QmEmbeddedDirectCall", c.value);
        session.ClearMessages();
        Logger::Instance().Send(u"gated");
        EXPECT_EQ(session.LogLines().size(), c.sent ? 1u : 0u) << "QmEmbeddedDirectCall=" << c.value[0];
    }
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
