// The two timing modes from end to end: qln against upssim, once with
// Timing=literal and once with Timing=prompt. The protocol's rules hold alike
// in both; prompt answers without the literal lead, still waits as long as
// literal would for a slow UPS, and keeps the UPS's breathing room.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/clock.h"
#include "relay_agent.h"
#include "ups_line_posix.h"
#include "upslink/xcp_protocol.h"

namespace {

constexpr uint32_t kStartMs = 60000;   // enumeration, identification
constexpr uint32_t kAnswerMs = 20000;  // one forwarded request, generously

class TimingModes : public ::testing::TestWithParam<const char*> {
protected:
    // `settings` are upssim's control lines before the line opens.
    void Start(std::initializer_list<const char*> settings = {}) {
        ASSERT_TRUE(m_Ups.Start(settings)) << "upssim did not start";
        m_pAgent = std::make_unique<RelayAgent>(
            m_Ups.SlavePath(), IniSections{{"Communications", {{"Timing", GetParam()}}}});
        ASSERT_TRUE(m_pAgent->WaitUntilRelaying(kStartMs)) << m_pAgent->Process().Err();
    }
    void TearDown() override {
        if (m_pAgent) {
            EXPECT_TRUE(m_pAgent->Process().Running())
                << "qln ended: " << m_pAgent->Process().Err();
        }
    }
    // The answer to `datagram`, and how long it took in `ms`.
    ByteString Timed(const ByteString& datagram, uint32_t& ms) {
        const uint32_t start = plat::TickCount();
        ByteString reply = m_pAgent->Exchange(datagram, kAnswerMs);
        ms = plat::TickCount() - start;
        return reply;
    }

    SimulatedUps m_Ups;
    std::unique_ptr<RelayAgent> m_pAgent;
};

// Password gating, acknowledges and the busy UPS's three tries, alike in
// both modes.
TEST_P(TimingModes, TheProtocolRulesHold) {
    // Two busy answers: the identification's first request is sent three times.
    Start({"busy 2"});
    EXPECT_EQ(m_Ups.Count(kXcpCmdCapabilities), 3u);

    // One privileged command per password frame, none without one.
    ByteString answer;
    EXPECT_TRUE(m_pAgent->Unanswered(XcpFrame(0x8A), answer)) << HexText(answer);
    EXPECT_EQ(m_Ups.Count(0x8A), 0u);
    ASSERT_TRUE(m_Ups.Control("ack 8A 37"));
    ASSERT_TRUE(m_Ups.Control("ack 8B 36"));
    answer = m_pAgent->Exchange(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A), XcpFrame(0x8B)}),
                                kAnswerMs);
    EXPECT_EQ(m_Ups.Count(0x8A), 1u);
    EXPECT_EQ(m_Ups.Count(0x8B), 0u);
    // "Done" is relayed as accepted, in a block numbered by the code.
    ASSERT_GE(answer.size(), 6u) << HexText(answer);
    EXPECT_EQ(answer[1], kXcpAckAccepted) << HexText(answer);
    answer = m_pAgent->Exchange(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8B)}), kAnswerMs);
    ASSERT_GE(answer.size(), 6u) << HexText(answer);
    EXPECT_EQ(answer[1], kXcpAckUnknownCommand) << HexText(answer);

    // A busy answer to a forwarded frame goes back as it came.
    ASSERT_TRUE(m_Ups.Control("busy 1"));
    answer = m_pAgent->Exchange(XcpFrame(0x31), kAnswerMs);
    ASSERT_GE(answer.size(), 6u) << HexText(answer);
    EXPECT_EQ(answer[1], kXcpAckBusy) << HexText(answer);
    EXPECT_TRUE(IsIdentification(m_pAgent->Exchange(XcpFrame(0x31), kAnswerMs)));
}

// A slow UPS is waited for as long as literal timing waits (its lead and its
// read deadline, 2.75 s); one slower than that is not.
TEST_P(TimingModes, ASlowUpsIsRelayedAndOneSlowerThanTheLiteralTotalIsNot) {
    Start();
    for (const char* delay : {"delay 1000", "delay 2000"}) {
        ASSERT_TRUE(m_Ups.Control(delay));
        uint32_t ms = 0;
        EXPECT_TRUE(IsIdentification(Timed(XcpFrame(0x31), ms))) << delay;
        EXPECT_GE(ms, 1000u) << delay;
    }
    // An answer of several blocks may take longer in all than that, as long
    // as each block follows the one before within the answer time: literal
    // timing takes it, and so must prompt timing.
    for (const char* line : {"delay 1500", "block-size 4", "trickle 40"}) {
        ASSERT_TRUE(m_Ups.Control(line)) << line;
    }
    uint32_t ms = 0;
    EXPECT_TRUE(IsIdentification(Timed(XcpFrame(0x31), ms)));
    EXPECT_GT(ms, kXcpRelayLeadMs + kXcpAnswerMs);
    for (const char* line : {"block-size 255", "trickle 0"}) ASSERT_TRUE(m_Ups.Control(line));

    ASSERT_TRUE(m_Ups.Control("delay 3500"));
    const uint32_t before = m_Ups.Count(kXcpCmdIdentification);
    ByteString answer;
    EXPECT_TRUE(m_pAgent->Unanswered(XcpFrame(0x31), answer)) << HexText(answer);
    EXPECT_EQ(m_Ups.Count(kXcpCmdIdentification), before + 1);
    // The late answer does not spoil the next one.
    ASSERT_TRUE(m_Ups.Control("delay 0"));
    EXPECT_TRUE(IsIdentification(m_pAgent->Exchange(XcpFrame(0x31), kAnswerMs)));
}

INSTANTIATE_TEST_SUITE_P(Both, TimingModes, ::testing::Values("literal", "prompt"));

class PromptTiming : public TimingModes {};

// Prompt timing answers before literal timing's lead would even have ended,
// and still never writes to the UPS sooner than the guard after an answer:
// not between the frames of one datagram, not between datagrams that follow
// each other at once, not before the authorisation.
TEST_P(PromptTiming, AnswersAtOnceAndKeepsTheGuard) {
    Start();
    uint32_t ms = 0;
    EXPECT_TRUE(IsIdentification(Timed(XcpFrame(0x31), ms)));
    EXPECT_LT(ms, kXcpRelayLeadMs);

    ASSERT_TRUE(m_Ups.Control("gap reset"));
    const ByteString three = Cat({XcpFrame(0x31), XcpFrame(0x31), XcpFrame(0x31)});
    EXPECT_TRUE(IsIdentification(m_pAgent->Exchange(three, kAnswerMs)));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(IsIdentification(m_pAgent->Exchange(XcpFrame(0x31), kAnswerMs)));
    }
    EXPECT_FALSE(
        m_pAgent->Exchange(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A)}), kAnswerMs).empty());
    const std::string gap = m_Ups.Ask("gap");
    ASSERT_EQ(gap.compare(0, 3, "ok "), 0) << gap;
    ASSERT_NE(gap, "ok none");
    EXPECT_GE(std::stoul(gap.substr(3)), kXcpRelayPauseMs) << gap;
}

INSTANTIATE_TEST_SUITE_P(Only, PromptTiming, ::testing::Values("prompt"));

}  // namespace
