// The relay from end to end on Linux: the real qln process, upssim on a
// pseudo-terminal, NetXCP datagrams on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "access_checks_posix.h"
#include "agent/qln_exception.h"
#include "common/config/encryption.h"
#include "common/resources/message_ids.h"
#include "platform/clock.h"
#include "relay_agent.h"
#include "ups_line_posix.h"

namespace {

constexpr uint32_t kStartMs = 60000;      // start-up: enumeration, identification
constexpr uint32_t kAnswerMs = 20000;     // one forwarded request, generously
constexpr uint32_t kDetectionMs = 45000;  // ten passes without a UPS, and then some

// The answer blocks of one reply: (block number, data length) in order.
std::vector<std::pair<uint8_t, size_t>> Blocks(const ByteString& reply) {
    std::vector<std::pair<uint8_t, size_t>> blocks;
    size_t pos = 0;
    while (pos + 5 <= reply.size() && reply[pos] == 0xAB) {
        blocks.emplace_back(reply[pos + 1], reply[pos + 2]);
        pos += 5u + reply[pos + 2];
    }
    return blocks;
}

// One qln relaying for upssim, shared by the cases of a test.
class RelayWithUps : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_Ups.Start()) << "upssim did not start";
        m_pAgent = std::make_unique<RelayAgent>(m_Ups.SlavePath(), Ini());
        ASSERT_TRUE(m_pAgent->WaitUntilRelaying(kStartMs)) << m_pAgent->Process().Err();
    }
    virtual IniSections Ini() { return {}; }

    SimulatedUps m_Ups;
    std::unique_ptr<RelayAgent> m_pAgent;
};

TEST_F(RelayWithUps, RelaysAnswersAndTheRelayIdentification) {
    ByteString reply = m_pAgent->Exchange(Cat({XcpFrame(0x00), XcpFrame(0x31)}), kAnswerMs);
    ASSERT_GE(reply.size(), 9u);
    EXPECT_EQ(ByteString(reply.begin(), reply.begin() + 4), kQlnAnswer);
    auto blocks = Blocks(ByteString(reply.begin() + 4, reply.end()));
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks[0].first, 0x01);  // the identification block
    EXPECT_EQ(reply.size() % 2, 0u);
    EXPECT_TRUE(m_pAgent->Process().WaitForText(false, "requested qln", 1, 5000));
}

TEST_F(RelayWithUps, PasswordGatesPrivilegedCommands) {
    ByteString answer;
    // No password: the UPS hears nothing and no answer comes at all.
    EXPECT_TRUE(m_pAgent->Unanswered(XcpFrame(0x8A), answer)) << HexText(answer);
    EXPECT_EQ(m_Ups.Count(0x8A), 0u);

    // One privileged command per password frame.
    answer = m_pAgent->Exchange(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A), XcpFrame(0x8B)}),
                                kAnswerMs);
    EXPECT_EQ(Blocks(answer).size(), 1u) << HexText(answer);
    EXPECT_EQ(m_Ups.Count(0x8A), 1u);
    EXPECT_EQ(m_Ups.Count(0x8B), 0u);

    // 0xCE is forwarded and cancels the password; the command behind it is not.
    answer = m_pAgent->Exchange(Cat({PasswordFrame("Wopra3"), XcpFrame(0xCE), XcpFrame(0x8A)}),
                                kAnswerMs);
    EXPECT_EQ(Blocks(answer).size(), 1u) << HexText(answer);
    EXPECT_EQ(m_Ups.Count(0xCE), 1u);
    EXPECT_EQ(m_Ups.Count(0x8A), 1u);

    // A wrong password after a right one leaves it in force.
    answer = m_pAgent->Exchange(
        Cat({PasswordFrame("Wopra3"), PasswordFrame("guess!"), XcpFrame(0x8B)}), kAnswerMs);
    EXPECT_EQ(Blocks(answer).size(), 1u) << HexText(answer);
    EXPECT_EQ(m_Ups.Count(0x8B), 1u);

    // A password in one datagram does not authorise the next.
    EXPECT_TRUE(m_pAgent->Unanswered(PasswordFrame("Wopra3"), answer));
    EXPECT_TRUE(m_pAgent->Unanswered(XcpFrame(0x8C), answer)) << HexText(answer);
    EXPECT_EQ(m_Ups.Count(0x8C), 0u);
}

TEST_F(RelayWithUps, DatagramEdges) {
    ByteString answer;
    // Bytes after the last frame are ignored, and so is a short tail.
    answer = m_pAgent->Exchange(Cat({XcpFrame(0x00), ByteString{0x01, 0x02, 0x03, 0x04, 0x05}}),
                                kAnswerMs);
    EXPECT_EQ(answer, kQlnAnswer);
    answer = m_pAgent->Exchange(Cat({XcpFrame(0x00), ByteString{0xAB, 0x01, 0x00}}), kAnswerMs);
    EXPECT_EQ(answer, kQlnAnswer);

    // A whole 1172-byte datagram is served: 293 relay identifications.
    ByteString full;
    for (int i = 0; i < 293; ++i) full = Cat({full, XcpFrame(0x00)});
    answer = m_pAgent->Exchange(full, kAnswerMs);
    EXPECT_EQ(answer.size(), 1172u);

    // One byte more and it is dropped without an answer (with whatever
    // waited behind it: so no probe follows it here).
    EXPECT_EQ(m_pAgent->Exchange(Cat({full, ByteString{0x00}}), 4000), ByteString{});
    EXPECT_EQ(m_pAgent->Exchange(XcpFrame(0x00), kAnswerMs), kQlnAnswer);
}

TEST_F(RelayWithUps, OddRepliesArePadded) {
    // The relay's four bytes and an answer block of odd total length.
    ByteString reply = m_pAgent->Exchange(Cat({XcpFrame(0x00), XcpFrame(0x31)}), kAnswerMs);
    size_t blockBytes = 0;
    for (auto& b : Blocks(ByteString(reply.begin() + 4, reply.end()))) blockBytes += 5 + b.second;
    ASSERT_GT(blockBytes, 0u);
    EXPECT_EQ(reply.size(), 4 + blockBytes + (blockBytes % 2));
    if (blockBytes % 2) {
        EXPECT_EQ(reply.back(), 0x00);
    }
}

class RelayWithScrambledPassword : public RelayWithUps {
protected:
    IniSections Ini() override {
        char* scrambled = CEncryption::Encrypt("S3cret");
        IniSections ini{{"Network", {{"Passwd", scrambled ? scrambled : ""}}}};
        std::free(scrambled);
        return ini;
    }
};

TEST_F(RelayWithScrambledPassword, TheUnscrambledTextIsThePassword) {
    ByteString answer;
    EXPECT_TRUE(m_pAgent->Unanswered(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A)}), answer));
    answer = m_pAgent->Exchange(Cat({PasswordFrame("S3cret"), XcpFrame(0x8A)}), kAnswerMs);
    EXPECT_EQ(Blocks(answer).size(), 1u) << HexText(answer);
}

// No UPS on the line at start-up; then one is plugged in.
TEST(RelaySearching, LostReportsDropsDatagramsAndFindsALateUps) {
    std::string lost;
    CQLNException(MSG_UPS_COMMUNICATIONS_LOST).GetText(lost);
    if (lost.find("UPS communications lost.") == std::string::npos) {
        GTEST_SKIP() << "the message table is not in this build (the text is \"" << lost << "\")";
    }
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start({"silence on"}));
    RelayAgent agent(ups.SlavePath());
    ChildProcess& qln = agent.Process();

    // Pass 0 looks, finds nobody, and says so.
    ASSERT_TRUE(qln.WaitForText(true, lost, 1, kDetectionMs)) << qln.Err();
    uint32_t first = plat::TickCount();

    // While there is no UPS, datagrams are read and dropped unanswered.
    EXPECT_EQ(agent.Exchange(XcpFrame(0x00), 3000), ByteString{});

    // The next look is ten passes later, not at the next pass.
    ASSERT_TRUE(qln.WaitForText(true, lost, 2, kDetectionMs)) << qln.Err();
    EXPECT_GE(plat::TickCount() - first, 6000u);
    EXPECT_TRUE(qln.Running());

    // A UPS that starts answering after start-up is found at a later look.
    ASSERT_TRUE(ups.Control("silence off"));
    EXPECT_TRUE(agent.WaitUntilRelaying(2 * kDetectionMs)) << qln.Err();
    ByteString identification = agent.Exchange(XcpFrame(0x31), kAnswerMs);
    ASSERT_GE(identification.size(), 5u);
    EXPECT_EQ(identification[1], 0x01);
}

// Where the relay listens, whom it serves, and a guessing sender locked out.
TEST(RelayAccess, ListensWhereToldServesTheAllowedClientsAndLocksOutGuessers) {
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    RelayAgent agent(ups.SlavePath(), AccessIni());
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
    CheckAccessRules(agent, ups, true);
}

TEST(RelayStartUp, PortInUseIsReportedAndEndsWithMinusOne) {
    Socket holder(SocketAddress(0u, 0, kSocketDatagram));
    holder.Create();
    holder.Bind();
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    IniSections ini{{"NetXCP", {{"AgentPort", std::to_string(holder.LocalPort())}}}};
    RelayAgent agent(ups.SlavePath(), ini);
    ASSERT_TRUE(agent.Process().WaitForExit(kStartMs));
    EXPECT_EQ(agent.Process().ExitCode(), -1);
    EXPECT_NE(
        agent.Process().Err().find("cannot bind UDP port " + std::to_string(holder.LocalPort())),
        std::string::npos)
        << agent.Process().Err();
    holder.Close();
}

}  // namespace
