#include "queue_checks_posix.h"

#include <gtest/gtest.h>

#include "loopback_udp.h"
#include "tools/netxcp/netxcp_client.h"

void CheckASecondSenderIsAnsweredWhileTheFirstFloods(RelayAgent& agent, uint32_t answerMs) {
    constexpr int kFlood = 200;  // well inside a default socket receive queue
    // Senders are client addresses: the second one speaks from another.
    NetXcpClient flooder("127.0.0.1", agent.Port());
    LoopbackUdp other(0x7F000002u);
    ASSERT_TRUE(other.Bound());
    for (int i = 0; i < kFlood; ++i) ASSERT_GT(flooder.Send(XcpFrame(0x00)), 0);
    // Once the first answer is back, the relay has taken the flood off its socket.
    ByteString answer;
    ASSERT_TRUE(flooder.Receive(answer, answerMs));
    int flooderAnswers = 1;
    ASSERT_TRUE(other.Send(XcpFrame(0x00), 0x7F000001u, agent.Port()));
    bool answered = false;
    const int polls = static_cast<int>(answerMs / 100);
    for (int i = 0; !answered && i < polls; ++i) {
        answered = other.Receive(100) == kQlnAnswer;
        while (flooder.Receive(answer, 0)) ++flooderAnswers;
    }
    ASSERT_TRUE(answered) << "the second sender was not answered";
    // Served in turn: most of the flood was still waiting.
    EXPECT_LT(flooderAnswers, kFlood / 2) << flooderAnswers;
}

// Four forwarded requests at once: the relay takes them together, and each
// forwarded one takes longer than a second, so those behind the first are
// too old by their turn, and their sender has asked again by then (one more
// may be served if the relay's pass happened to fall between the sends).
// The later request is served next.
void CheckStaleRequestsAreDroppedUnanswered(RelayAgent& agent, SimulatedUps& ups,
                                            uint32_t answerMs) {
    // One identification relayed first: the UPS has been identified and
    // answers forwarded requests (the relay answers 0x00 before that).
    ASSERT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), answerMs)))
        << agent.Process().Err();
    NetXcpClient client("127.0.0.1", agent.Port());
    const uint32_t before = ups.Count(0x31);
    for (int i = 0; i < 4; ++i) ASSERT_GT(client.Send(XcpFrame(0x31)), 0);
    ByteString answer;
    ASSERT_TRUE(client.Receive(answer, answerMs))
        << "the UPS heard " << ups.Count(0x31) - before << " of them; " << agent.Process().Err();
    EXPECT_TRUE(IsIdentification(answer)) << HexText(answer);
    ASSERT_GT(client.Send(XcpFrame(0x00)), 0);
    int identifications = 0;
    while (client.Receive(answer, answerMs) && answer != kQlnAnswer) ++identifications;
    EXPECT_EQ(answer, kQlnAnswer) << "the later request was not answered";
    EXPECT_LE(identifications, 1);
    EXPECT_LE(ups.Count(0x31) - before, 2u);  // the stale ones never reached the UPS
}

void CheckAnOverLongDatagramCostsOnlyItself(RelayAgent& agent, uint32_t answerMs) {
    NetXcpClient sender("127.0.0.1", agent.Port());
    NetXcpClient other("127.0.0.1", agent.Port());
    ASSERT_GT(sender.Send(ByteString(1173, 0xAB)), 0);
    ASSERT_GT(sender.Send(XcpFrame(0x00)), 0);
    ASSERT_GT(other.Send(XcpFrame(0x00)), 0);
    ByteString answer;
    ASSERT_TRUE(sender.Receive(answer, answerMs));
    EXPECT_EQ(answer, kQlnAnswer);
    ASSERT_TRUE(other.Receive(answer, answerMs));
    EXPECT_EQ(answer, kQlnAnswer);
}
