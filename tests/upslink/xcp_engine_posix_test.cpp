// The engine against the simulated UPS over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <ctime>

#include "common/resources/message_ids.h"
#include "platform/clock.h"
#include "sim_fixture_posix.h"
#include "upslink/xcp_engine.h"

namespace {

std::string HexOf(size_t count, uint8_t first = 0) {
    std::string hex;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", static_cast<uint8_t>(first + i));
        hex += two;
    }
    return hex;
}

bool SumsToZero(const uint8_t* bytes, uint32_t count) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum == 0;
}

class XcpEngineSim : public SimTest {
protected:
    void SetUp() override {
        StartSim({"pnp none"});
        m_pXcp.reset(new XcpEngine(*m_pLink));
    }
    std::unique_ptr<XcpEngine> m_pXcp;
};

const uint8_t kRequest50[4] = {0xAB, 0x01, 0x50, 0x04};

}  // namespace

TEST_F(XcpEngineSim, AnswersOfSeveralBlocksAreGatheredAndRelayedInBlocksOf121) {
    Sim("block-size 100");
    Sim("answer 50 20 " + HexOf(122));
    EXPECT_EQ(m_pXcp->SendCommand(0x50, nullptr, 0, 1500), 0);
    ASSERT_EQ(m_pXcp->AnswerLength(), 122u);
    for (uint32_t i = 0; i < 122; ++i) ASSERT_EQ(m_pXcp->Answer()[i], i) << i;

    std::vector<uint8_t> relayed = m_pXcp->RelayRequest(kRequest50);
    ASSERT_EQ(relayed.size(), 132u);
    const uint8_t* first = relayed.data();
    const uint8_t* second = relayed.data() + 126;
    EXPECT_EQ(first[0], 0xAB);
    EXPECT_EQ(first[1], 0x20);
    EXPECT_EQ(first[2], 121);
    EXPECT_EQ(first[3], 0x01);
    EXPECT_TRUE(SumsToZero(first, 126));
    EXPECT_EQ(second[1], 0x20);
    EXPECT_EQ(second[2], 1);
    EXPECT_EQ(second[3], 0x82);
    EXPECT_EQ(second[4], 121);
    EXPECT_TRUE(SumsToZero(second, 6));

    Sim("answer 50 20 " + HexOf(121));
    relayed = m_pXcp->RelayRequest(kRequest50);
    EXPECT_EQ(relayed.size(), 126u);
    EXPECT_EQ(relayed[3], 0x81);
}

TEST_F(XcpEngineSim, RelayedAnswersAtAndBeyondTheLengthLimit) {
    // 1122 data bytes re-frame into exactly 1172 bytes; one more is too long.
    Sim("answer 50 20 " + HexOf(1122));
    std::vector<uint8_t> relayed = m_pXcp->RelayRequest(kRequest50);
    EXPECT_EQ(relayed.size(), 1172u);
    Sim("answer 50 20 " + HexOf(1123));
    EXPECT_EQ(ThrownId([&] { relayed = m_pXcp->RelayRequest(kRequest50); }),
              MSG_UPS_INVALID_RESPONSE);
    // An empty answer gives nothing to send; an acknowledge travels in the
    // block-number byte.
    Sim("answer 50 20 -");
    relayed = m_pXcp->RelayRequest(kRequest50);
    EXPECT_TRUE(relayed.empty());
    Sim("ack 50 35");
    relayed = m_pXcp->RelayRequest(kRequest50);
    ASSERT_EQ(relayed.size(), 6u);
    EXPECT_EQ(relayed[1], 0x35);
    EXPECT_EQ(relayed[3], 0x81);
    EXPECT_EQ(relayed[4], 0x35);
}

TEST_F(XcpEngineSim, AcknowledgesBusyRetriesAndStrayFinalBlocks) {
    Sim("ack 51 37");
    EXPECT_EQ(m_pXcp->SendShortCommand(0x51, 750), 0x31);

    Sim("busy 2");
    EXPECT_EQ(m_pXcp->SendShortCommand(0x31, 750), 0);
    EXPECT_EQ(m_Sim.Count(0x31), 3u);
    Sim("busy 3");
    EXPECT_EQ(m_pXcp->SendShortCommand(0x31, 750), 0x33);
    EXPECT_EQ(m_Sim.Count(0x31), 6u);

    // The final block of another answer is dropped and the wait starts over.
    Sim("stray 2");
    EXPECT_EQ(m_pXcp->SendShortCommand(0x31, 750), 0);
    EXPECT_GT(m_pXcp->AnswerLength(), 3u);
    // A UPS that keeps sending them is given up on.
    Sim("stray 50");
    EXPECT_EQ(ThrownId([&] { m_pXcp->SendShortCommand(0x31, 750); }), MSG_UPS_INVALID_RESPONSE);
    EXPECT_EQ(m_Sim.Count(0x31), 8u);
}

TEST_F(XcpEngineSim, BadBlocksAreInvalidResponses) {
    Sim("badsum 1");
    EXPECT_EQ(ThrownId([&] { m_pXcp->SendShortCommand(0x31, 750); }), MSG_UPS_INVALID_RESPONSE);
    m_pLink->Drain(100);
    Sim("badstart 1");
    EXPECT_EQ(ThrownId([&] { m_pXcp->SendShortCommand(0x31, 750); }), MSG_UPS_INVALID_RESPONSE);
    m_pLink->Drain(100);
    // The line recovers once the rest of the bad answer is drained.
    EXPECT_EQ(m_pXcp->SendShortCommand(0x31, 750), 0);
}

TEST_F(XcpEngineSim, TheRestOfABadAnswerDoesNotSpoilTheNextRequest) {
    for (const char* fault : {"badstart 1", "badsum 1"}) {
        Sim(fault);
        EXPECT_EQ(ThrownId([&] { m_pXcp->SendShortCommand(0x31, 750); }), MSG_UPS_INVALID_RESPONSE)
            << fault;
        // No drain in between: what was left of the bad answer goes before the
        // next request is written.
        EXPECT_EQ(m_pXcp->SendShortCommand(0x31, 750), 0) << fault;
        EXPECT_GT(m_pXcp->AnswerLength(), 0u) << fault;
    }
}

TEST_F(XcpEngineSim, SilenceTimesOutWithoutSpinning) {
    Sim("silence on");
    std::clock_t cpu = std::clock();
    uint32_t before = plat::TickCount();
    EXPECT_EQ(ThrownId([&] { m_pXcp->SendShortCommand(0x33, 750); }), MSG_UPS_TIMEOUT);
    uint32_t spent = plat::TickCount() - before;
    double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    // Data-less commands wait 1500 ms whatever the caller asks.
    EXPECT_GE(spent, 1500u);
    EXPECT_LT(spent, 4000u);
    // A reader that spins would burn about as much processor time as it waits.
    EXPECT_LT(cpuMs, spent * 0.5) << "the wait looks busy";
}

TEST_F(XcpEngineSim, SlowBytesArriveWithinTheTime) {
    Sim("trickle 5");
    EXPECT_EQ(m_pXcp->SendShortCommand(0x31, 750), 0);
    EXPECT_GT(m_pXcp->AnswerLength(), 10u);
}

TEST_F(XcpEngineSim, AuthorizationGoesFirstUntilTheUpsAcceptsIt) {
    EXPECT_EQ(m_pXcp->SendShortCommand(0x81, 750), 0x36);  // the simulator's "unknown"
    EXPECT_EQ(m_Sim.Count(0xCF), 1u);
    EXPECT_FALSE(m_pXcp->AuthorizationNeeded());
    EXPECT_EQ(m_pXcp->SendShortCommand(0x81, 750), 0x36);
    EXPECT_EQ(m_Sim.Count(0xCF), 1u);
}

TEST_F(XcpEngineSim, AnAuthorizationThatIsNotAcceptedIsSentEachTime) {
    Sim("auth-ack 31");
    Sim("silence 1");  // the first authorization goes unanswered
    EXPECT_EQ(m_pXcp->SendCommand(0x82, nullptr, 0, 1500), 0x36);
    EXPECT_EQ(m_pXcp->SendCommand(0x82, nullptr, 0, 1500), 0x36);
    EXPECT_EQ(m_Sim.Count(0xCF), 2u);
    EXPECT_EQ(m_Sim.Count(0x82), 2u);
    EXPECT_TRUE(m_pXcp->AuthorizationNeeded());
    EXPECT_EQ(m_Sim.Control("last"), "ok AB0182D2");
}

TEST_F(XcpEngineSim, AnUnpluggedLineFailsInsteadOfHanging) {
    Sim("unplug");
    uint32_t before = plat::TickCount();
    EXPECT_NE(ThrownId([&] { m_pXcp->SendShortCommand(0x31, 750); }), 0u);
    EXPECT_LT(plat::TickCount() - before, 10000u);
}
