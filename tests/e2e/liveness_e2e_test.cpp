// The relay reports a UPS as attached only while it answers. A UPS that
// falls silent with its line still open (a pulled cable, a hung UPS) is lost
// and found again when it answers, in both timings; in prompt timing a port
// that vanishes is reported within seconds, and one that comes back is
// searched at once. The bounds are generous against the goals (10 s prompt,
// 30 s literal for the silent UPS; 2 s for the port) and still far below
// what a relay without these looks takes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "agent/qln_exception.h"
#include "common/resources/message_ids.h"
#include "platform/clock.h"
#include "relay_agent.h"
#include "ups_line_posix.h"

namespace {

constexpr uint32_t kStartMs = 60000;   // enumeration and identification
constexpr uint32_t kAnswerMs = 20000;  // one forwarded request, generously
// A search every 10 s, each taking a few seconds against a silent line.
constexpr uint32_t kFoundAgainMs = 40000;
// Prompt timing looks at the port every second and a search takes about 3 s.
constexpr uint32_t kPortLostMs = 6000, kPortFoundMs = 9000;

std::string LostText() {
    std::string lost;
    CQLNException(MSG_UPS_COMMUNICATIONS_LOST).GetText(lost);
    return lost;
}

class SilentUps : public ::testing::TestWithParam<const char*> {};

TEST_P(SilentUps, IsLostWhileSilentAndFoundAgainWhenItAnswers) {
    const std::string lost = LostText();
    if (lost.find("UPS communications lost.") == std::string::npos)
        GTEST_SKIP() << "the message table is not in this build";
    const bool prompt = std::string(GetParam()) == "prompt";
    const uint32_t lostWithinMs = prompt ? 20000 : 60000;
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    RelayAgent agent(ups.LinkPath(), {{"Communications", {{"Timing", GetParam()}}}});
    ChildProcess& qln = agent.Process();
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << qln.Err();
    const int lostBefore = CountOf(qln.Err(), lost);

    ASSERT_TRUE(ups.Control("silence on"));
    const uint32_t silent = plat::TickCount();
    ASSERT_TRUE(qln.WaitForText(true, lost, lostBefore + 1, lostWithinMs))
        << "still attached " << lostWithinMs << " ms after the UPS fell silent; " << qln.Err();
    const uint32_t lostMs = plat::TickCount() - silent;
    // Lost means not relaying: the relay drops what it cannot forward.
    EXPECT_TRUE(agent.Exchange(XcpFrame(0x31), 3000).empty());

    ASSERT_TRUE(ups.Control("silence off"));
    ASSERT_TRUE(agent.WaitUntilRelaying(kFoundAgainMs)) << qln.Err();
    EXPECT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), kAnswerMs)));
    EXPECT_TRUE(qln.Running());
    RecordProperty("lost_ms", static_cast<int>(lostMs));
}

INSTANTIATE_TEST_SUITE_P(Both, SilentUps, ::testing::Values("literal", "prompt"));

TEST(PromptPortLooks, AVanishedPortIsReportedAndAReturningOneFoundWithinSeconds) {
    const std::string lost = LostText();
    if (lost.find("UPS communications lost.") == std::string::npos)
        GTEST_SKIP() << "the message table is not in this build";
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    RelayAgent agent(ups.LinkPath(), {{"Communications", {{"Timing", "prompt"}}}});
    ChildProcess& qln = agent.Process();
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << qln.Err();
    const int lostBefore = CountOf(qln.Err(), lost);

    ASSERT_TRUE(ups.Control("unplug"));
    EXPECT_TRUE(qln.WaitForText(true, lost, lostBefore + 1, kPortLostMs))
        << "still attached " << kPortLostMs << " ms after the port went; " << qln.Err();
    // The search that follows the loss finds no port and says so too: from
    // here on the agent knows the port as missing.
    ASSERT_TRUE(qln.WaitForText(true, lost, lostBefore + 2, kStartMs)) << qln.Err();

    ASSERT_TRUE(ups.Control("plug"));
    EXPECT_TRUE(agent.WaitUntilRelaying(kPortFoundMs))
        << "not relaying " << kPortFoundMs << " ms after the port came back; " << qln.Err();
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << qln.Err();
    EXPECT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), kAnswerMs)));
    EXPECT_TRUE(qln.Running());
}

}  // namespace
