// The agent's settings from end to end on Linux: what the real qln says and
// does at start about a number that does not fit, a configuration file it
// cannot read, a serial port it cannot open and a stored password that is
// not scrambled text.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <string>
#include <vector>

#include "agent/qln_exception.h"
#include "common/resources/message_ids.h"
#include "platform/errors.h"
#include "relay_agent.h"
#include "ups_line_posix.h"

namespace {

constexpr uint32_t kStartMs = 60000;      // start-up: enumeration, identification
constexpr uint32_t kAnswerMs = 20000;     // one forwarded request, generously
constexpr uint32_t kDetectionMs = 45000;  // ten passes without a UPS, and then some

std::string Text(uint32_t id, std::initializer_list<const char*> inserts = {}) {
    std::string text;
    CQLNException(id, inserts).GetText(text);
    return text;
}

bool MessageTableLoaded() {
    return Text(MSG_UPS_COMMUNICATIONS_LOST).find("UPS communications lost.") != std::string::npos;
}

TEST(RelaySettingsAtStart, NumbersThatDoNotFitEndTheAgentNamingKeyValueAndRange) {
    if (!MessageTableLoaded()) GTEST_SKIP() << "the message table is not in this build";
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    // 4294967297 wraps to 1 through "%u"; "7010x" and "abc" read as 7010.
    for (const char* value : {"4294967297", "7010x", "abc", "-1", "0", "65536"}) {
        RelayAgent agent(ups.SlavePath(), {{"NetXCP", {{"AgentPort", value}}}});
        ChildProcess& qln = agent.Process();
        ASSERT_TRUE(qln.WaitForExit(kStartMs)) << value << ": " << qln.Err();
        EXPECT_EQ(qln.ExitCode(), -1) << value;
        std::string expected =
            Text(MSG_SETTING_NOT_VALID,
                 {"AgentPort", "NetXCP", agent.IniPath().c_str(), value, "1-65535"});
        EXPECT_EQ(CountOf(qln.Err(), expected), 1) << value << ": " << qln.Err();
    }
    // The same for a baud rate: a rate of 4294967295 would be tried as one.
    RelayAgent agent(ups.SlavePath(), {{"Communications", {{"CommunicationsBaudRate", "-1"}}}});
    ASSERT_TRUE(agent.Process().WaitForExit(kStartMs)) << agent.Process().Err();
    EXPECT_EQ(agent.Process().ExitCode(), -1);
    EXPECT_NE(agent.Process().Err().find(
                  Text(MSG_SETTING_NOT_VALID, {"CommunicationsBaudRate", "Communications",
                                               agent.IniPath().c_str(), "-1", "0-4294967295"})),
              std::string::npos)
        << agent.Process().Err();
}

// A missing or unreadable INI file leaves the agent on its built-in settings
// (COM1:, port 7010): it says so once, naming the file. It is stopped once
// it has said what it says at start.
TEST(RelaySettingsAtStart, AConfigurationFileThatCannotBeReadIsNamedOnce) {
    if (!MessageTableLoaded()) GTEST_SKIP() << "the message table is not in this build";
    ScratchDir dir("e2e");
    const std::string missing = dir.Path() + "/missing.ini";
    const std::string folder = dir.Path() + "/folder.ini";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    for (const auto& [path, code] :
         std::vector<std::pair<std::string, int>>{{missing, ENOENT}, {folder, EISDIR}}) {
        ChildProcess qln;
        ASSERT_TRUE(qln.Start(BinPath("qln"), {"daemon", "-c", path}));
        std::string cannotRead =
            Text(MSG_CONFIG_UNREADABLE,
                 {path.c_str(), plat::SystemReason(static_cast<uint32_t>(code)).c_str()});
        // The default password is in use too, and called out after the file.
        std::string defaultPassword = Text(MSG_DEFAULT_PASSWORD_IN_USE, {path.c_str()});
        ASSERT_TRUE(qln.WaitForText(true, defaultPassword, 1, kStartMs))
            << path << ": " << qln.Err();
        EXPECT_EQ(CountOf(qln.Err(), cannotRead), 1) << path << ": " << qln.Err();
        EXPECT_LT(qln.Err().find(cannotRead), qln.Err().find(defaultPassword)) << qln.Err();
        qln.Stop();
    }
}

TEST(RelaySettingsAtStart, AnUnopenablePortIsNamedWithItsReasonAfterTheFirstLossOnly) {
    if (!MessageTableLoaded()) GTEST_SKIP() << "the message table is not in this build";
    ScratchDir dir("e2e");
    const std::string port = dir.Path() + "/no-such-tty";
    RelayAgent agent(port);
    ChildProcess& qln = agent.Process();
    const std::string lost = Text(MSG_UPS_COMMUNICATIONS_LOST);
    const std::string cannotOpen =
        Text(MSG_SERIAL_PORT_UNOPENABLE, {port.c_str(), plat::SystemReason(ENOENT).c_str()});
    ASSERT_TRUE(qln.WaitForText(true, cannotOpen, 1, kDetectionMs)) << qln.Err();
    // The loss text stays as it was, and the port line follows it directly.
    EXPECT_EQ(qln.Err().find(lost + cannotOpen), qln.Err().find(lost)) << qln.Err();
    // The next look, ten passes later, reports the loss again but not the port.
    ASSERT_TRUE(qln.WaitForText(true, lost, 2, kDetectionMs)) << qln.Err();
    EXPECT_EQ(CountOf(qln.Err(), cannotOpen), 1) << qln.Err();
    EXPECT_TRUE(qln.Running());
}

// A run of losses lasts from losing the UPS to finding it again; each run
// names a port it cannot open once, at its first loss report that finds the
// port unopenable.
TEST(RelaySettingsAtStart, AnUnopenablePortIsNamedOncePerRunOfLosses) {
    if (!MessageTableLoaded()) GTEST_SKIP() << "the message table is not in this build";
    ScratchDir dir("e2e");
    const std::string port = dir.Path() + "/ups";
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    RelayAgent agent(port);
    ChildProcess& qln = agent.Process();
    const std::string lost = Text(MSG_UPS_COMMUNICATIONS_LOST);
    const std::string cannotOpen =
        Text(MSG_SERIAL_PORT_UNOPENABLE, {port.c_str(), plat::SystemReason(ENOENT).c_str()});
    ASSERT_TRUE(qln.WaitForText(true, cannotOpen, 1, kDetectionMs)) << qln.Err();

    // The port appears: the UPS behind it is found at the next look.
    ASSERT_EQ(::symlink(ups.SlavePath().c_str(), port.c_str()), 0);
    ASSERT_TRUE(agent.WaitUntilRelaying(kDetectionMs)) << qln.Err();
    const int lostBefore = CountOf(qln.Err(), lost);

    // And goes: the loss comes from the failed polls (the port was open),
    // the port is named at the first look that cannot open it.
    ASSERT_EQ(::unlink(port.c_str()), 0);
    ASSERT_TRUE(ups.Control("unplug"));
    ASSERT_TRUE(qln.WaitForText(true, cannotOpen, 2, 2 * kDetectionMs)) << qln.Err();
    const std::string err = qln.Err();
    EXPECT_GE(CountOf(err, lost), lostBefore + 2) << err;
    EXPECT_NE(err.find(lost + cannotOpen, err.find(cannotOpen) + 1), std::string::npos) << err;
    EXPECT_TRUE(qln.Running());
}

// A Passwd of more than 48 characters unscrambles to the empty text, which
// compares as six zero bytes.
TEST(RelaySettingsAtStart, AnOverLongStoredPasswordAdmitsNothingAndIsReportedOnce) {
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    std::string longPassword;
    for (int i = 0; i < 17; ++i) longPassword += "123";  // 51 characters
    RelayAgent agent(ups.SlavePath(), {{"Network", {{"Passwd", longPassword}}}});
    ChildProcess& qln = agent.Process();
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << qln.Err();

    ByteString answer;
    EXPECT_TRUE(agent.Unanswered(Cat({PasswordFrame(""), XcpFrame(0x8A)}), answer))
        << HexText(answer);
    EXPECT_TRUE(agent.Unanswered(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A)}), answer))
        << HexText(answer);
    EXPECT_EQ(ups.Count(0x8A), 0u);
    // Open commands still pass.
    EXPECT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), kAnswerMs)));
    if (MessageTableLoaded()) {
        EXPECT_EQ(CountOf(qln.Err(), Text(MSG_PASSWORD_NOT_SCRAMBLED, {agent.IniPath().c_str()})),
                  1)
            << qln.Err();
    }
}

}  // namespace
