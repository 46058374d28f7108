// The relay's request queue from end to end, in the default timing: a sender
// that floods the port does not keep another one waiting, a request that
// waited too long is dropped unanswered, and an over-long datagram costs only
// itself.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "relay_agent.h"
#include "tools/netxcp/netxcp_client.h"
#include "ups_line_posix.h"

namespace {

constexpr uint32_t kStartMs = 60000;    // start-up: enumeration, identification
constexpr uint32_t kAnswerMs = 20000;   // one forwarded request, generously

// qln relaying for upssim with the given [NetXCP] settings.
class QueuedRelay : public ::testing::Test {
protected:
    void Start(std::map<std::string, std::string> netXcp) {
        ASSERT_TRUE(m_Ups.Start()) << "upssim did not start";
        m_pAgent = std::make_unique<RelayAgent>(m_Ups.SlavePath(), IniSections{{"NetXCP", netXcp}});
        ASSERT_TRUE(m_pAgent->WaitUntilRelaying(kStartMs)) << m_pAgent->Process().Err();
    }
    std::unique_ptr<NetXcpClient> Client() {
        return std::make_unique<NetXcpClient>("127.0.0.1", m_pAgent->Port());
    }

    SimulatedUps m_Ups;
    std::unique_ptr<RelayAgent> m_pAgent;
};

// Before the queue, a second sender waited behind the whole backlog of the
// first (two datagrams a second) or was dropped by the kernel. With no age
// limit only the senders' turns can let it through early.
TEST_F(QueuedRelay, ASecondSenderIsAnsweredWhileTheFirstOneFloods) {
    Start({{"RequestMaxAge", "0"}});
    constexpr int kFlood = 200;  // well inside a default socket receive queue
    auto flooder = Client();
    auto other = Client();
    for (int i = 0; i < kFlood; ++i) ASSERT_GT(flooder->Send(XcpFrame(0x00)), 0);
    // Once the first answer is back, the relay has taken the flood off its socket.
    ByteString answer;
    ASSERT_TRUE(flooder->Receive(answer, kAnswerMs));
    int flooderAnswers = 1;
    ASSERT_GT(other->Send(XcpFrame(0x00)), 0);
    bool answered = false;
    for (int polls = 0; !answered && polls < 200; ++polls) {  // about 20 s
        answered = other->Receive(answer, 100) && answer == kQlnAnswer;
        while (flooder->Receive(answer, 0)) ++flooderAnswers;
    }
    ASSERT_TRUE(answered) << "the second sender was not answered";
    // Served in turn: most of the flood was still waiting.
    EXPECT_LT(flooderAnswers, kFlood / 2) << flooderAnswers;
}

// Four forwarded requests at once with a one-second age limit: the relay
// takes them together, and each forwarded one takes longer than a second, so
// those behind the first are too old by their turn, and their sender has
// asked again by then (one more may be served if the relay's pass happened
// to fall between the sends). The later request is served next.
TEST_F(QueuedRelay, StaleRequestsAreDroppedUnansweredAndTheNextOneIsServed) {
    Start({{"RequestMaxAge", "1"}});
    auto client = Client();
    const uint32_t before = m_Ups.Count(0x31);
    for (int i = 0; i < 4; ++i) ASSERT_GT(client->Send(XcpFrame(0x31)), 0);
    ByteString answer;
    ASSERT_TRUE(client->Receive(answer, kAnswerMs));
    EXPECT_TRUE(IsIdentification(answer)) << HexText(answer);
    ASSERT_GT(client->Send(XcpFrame(0x00)), 0);
    int identifications = 0;
    while (client->Receive(answer, kAnswerMs) && answer != kQlnAnswer) ++identifications;
    EXPECT_EQ(answer, kQlnAnswer) << "the later request was not answered";
    EXPECT_LE(identifications, 1);
    EXPECT_LE(m_Ups.Count(0x31) - before, 2u);  // the stale ones never reached the UPS
}

// Before, an over-long datagram made the relay throw away everything that
// waited behind it.
TEST_F(QueuedRelay, AnOverLongDatagramCostsOnlyItself) {
    Start({});
    auto sender = Client();
    auto other = Client();
    ASSERT_GT(sender->Send(ByteString(1173, 0xAB)), 0);
    ASSERT_GT(sender->Send(XcpFrame(0x00)), 0);
    ASSERT_GT(other->Send(XcpFrame(0x00)), 0);
    ByteString answer;
    ASSERT_TRUE(sender->Receive(answer, kAnswerMs));
    EXPECT_EQ(answer, kQlnAnswer);
    ASSERT_TRUE(other->Receive(answer, kAnswerMs));
    EXPECT_EQ(answer, kQlnAnswer);
}

}  // namespace
