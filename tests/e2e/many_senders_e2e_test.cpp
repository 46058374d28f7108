// Many senders against one relay, as an attacker or a busy network would
// send: guesses from many loopback addresses, one datagram full of frames
// for the UPS, one host flooding from hundreds of ports. Each time the
// relay must go on serving everyone else. In prompt timing, so that the
// long walks take seconds, not minutes (bench/ gives both timings' figures).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "relay_agent.h"
#include "ups_line_posix.h"

namespace {

constexpr uint32_t kStartMs = 60000;   // enumeration, identification
constexpr uint32_t kAnswerMs = 20000;  // one forwarded request, generously
constexpr uint32_t kLoopback1 = 0x7F000001u;

// 127.1.x.y: one more address for each `n`.
uint32_t Address(uint32_t n) { return 0x7F010000u + n; }

class ManySenders : public ::testing::Test {
protected:
    void Start(std::map<std::string, std::string> netXcp = {}) {
        ASSERT_TRUE(m_Ups.Start()) << "upssim did not start";
        m_pAgent = std::make_unique<RelayAgent>(
            m_Ups.SlavePath(),
            IniSections{{"Communications", {{"Timing", "prompt"}}}, {"NetXCP", netXcp}});
        ASSERT_TRUE(m_pAgent->WaitUntilRelaying(kStartMs)) << m_pAgent->Process().Err();
    }
    // Sends from `client`, then waits until the relay has served everything
    // sent before (kProbe from 127.0.0.1); the answer, or empty.
    ByteString Exchange(LoopbackUdp& client, const ByteString& datagram) {
        EXPECT_TRUE(client.Send(datagram, kLoopback1, m_pAgent->Port()));
        EXPECT_TRUE(IsProbeAnswer(m_pAgent->Exchange(kProbe, kAnswerMs)));
        return client.Receive(500);
    }

    SimulatedUps m_Ups;
    std::unique_ptr<RelayAgent> m_pAgent;
};

// Rotating its address gains a guesser nothing: the whole relay compares
// only PasswordGuessesPerMinute wrong guesses a minute. A client that gave
// the right password before keeps its rights meanwhile; a new one is heard
// once the limit has room again.
TEST_F(ManySenders, GuessesFromManyAddressesShareOneLimit) {
    // Four a minute: room for one more guess comes every 15 s, never while
    // the guesses below are served, however slow the machine (at the default
    // of one a second, a loaded machine let the attacker's turn find room).
    Start({{"PasswordGuessesPerMinute", "4"}});
    LoopbackUdp honest(0x7F000002u), attacker(Address(1000));
    ASSERT_TRUE(honest.Bound() && attacker.Bound());
    EXPECT_EQ(Exchange(honest, Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A)})).empty(), false);
    // 40 addresses, 4 wrong guesses each: under every address's own limit.
    const ByteString guesses = Cat({PasswordFrame("guess1"), PasswordFrame("guess2"),
                                    PasswordFrame("guess3"), PasswordFrame("guess4")});
    for (uint32_t n = 0; n < 40; ++n) {
        LoopbackUdp guesser(Address(n));
        ASSERT_TRUE(guesser.Bound() && guesser.Send(guesses, kLoopback1, m_pAgent->Port()));
    }
    // Served after all of them: the right password is not even compared.
    EXPECT_EQ(Exchange(attacker, Cat({PasswordFrame("Wopra3"), XcpFrame(0x8B)})), ByteString{});
    EXPECT_EQ(m_Ups.Count(0x8B), 0u);
    EXPECT_TRUE(m_pAgent->Process().WaitForText(true, "wrong NetXCP passwords a minute is used up",
                                                1, kAnswerMs))
        << m_pAgent->Process().Err();
    EXPECT_EQ(Exchange(honest, Cat({PasswordFrame("Wopra3"), XcpFrame(0x8C)})).empty(), false);
    // The new client waits until the limit has room again (at most 15 s).
    ByteString answer;
    const uint32_t start = plat::TickCount();
    while (answer.empty() && plat::TickCount() - start < kAnswerMs) {
        answer = Exchange(attacker, Cat({PasswordFrame("Wopra3"), XcpFrame(0x8D)}));
    }
    EXPECT_FALSE(answer.empty());
}

// Lockouts of senders that rotate their addresses: the first few are
// reported one by one, the rest wait for the minute's summary.
TEST_F(ManySenders, LockoutReportsFromRotatingAddressesAreFew) {
    Start({{"PasswordTries", "1"}, {"PasswordGuessesPerMinute", "0"}});
    for (uint32_t n = 0; n < 30; ++n) {
        LoopbackUdp guesser(Address(n));
        ASSERT_TRUE(guesser.Bound() &&
                    guesser.Send(PasswordFrame("guess1"), kLoopback1, m_pAgent->Port()));
    }
    EXPECT_TRUE(IsProbeAnswer(m_pAgent->Exchange(kProbe, kAnswerMs)));
    m_pAgent->Process().Stop();  // everything it said is in
    const std::string err = m_pAgent->Process().Err();
    size_t reports = 0;
    for (size_t at = err.find("Wrong NetXCP passwords from"); at != std::string::npos;
         at = err.find("Wrong NetXCP passwords from", at + 1)) {
        ++reports;
    }
    EXPECT_EQ(reports, 5u) << err;
}

// One datagram full of frames for the UPS does not hold the relay: another
// sender is answered between its frames, and its own reply still comes
// whole, in one datagram, with every answer.
TEST_F(ManySenders, AnotherSenderIsAnsweredBetweenTheFramesOfALongDatagram) {
    Start();
    constexpr uint8_t kCommand = 0x30;
    constexpr int kFrames = 40;
    const ByteString one = m_pAgent->Exchange(XcpFrame(kCommand), kAnswerMs);
    ASSERT_FALSE(one.empty());
    ByteString frames, expected;
    for (int i = 0; i < kFrames; ++i) {
        frames = Cat({frames, XcpFrame(kCommand)});
        expected = Cat({expected, one});
    }
    ASSERT_LE(expected.size(), 1172u) << "the answers would not all fit";
    if (expected.size() % 2) expected.push_back(0);
    LoopbackUdp longSender(0x7F000003u), other(0x7F000002u);
    ASSERT_TRUE(longSender.Bound() && other.Bound());
    const uint32_t before = m_Ups.Count(kCommand);
    ASSERT_TRUE(longSender.Send(frames, kLoopback1, m_pAgent->Port()));
    const uint32_t start = plat::TickCount();
    while (m_Ups.Count(kCommand) - before < 2 && plat::TickCount() - start < kAnswerMs) {
        plat::SleepMs(10);  // polled: the walk has begun
    }
    ASSERT_TRUE(other.Send(XcpFrame(0x31), kLoopback1, m_pAgent->Port()));
    EXPECT_TRUE(IsIdentification(other.Receive(kAnswerMs)));
    // Answered while the long datagram was still being walked.
    EXPECT_LT(m_Ups.Count(kCommand) - before, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(longSender.Receive(0), ByteString{});
    EXPECT_EQ(HexText(longSender.Receive(kAnswerMs)), HexText(expected));
    EXPECT_EQ(m_Ups.Count(kCommand) - before, static_cast<uint32_t>(kFrames));
}

// One host that asks from 250 ports at once (each port's request its only
// one, as a client waiting for its answer has) is one sender: a client at
// another address is served in the next turns, and the relay's own
// identification at once, long before the flood is worked off.
TEST_F(ManySenders, OneHostAskingFromManyPortsDoesNotStarveAnotherHost) {
    Start();
    constexpr int kPorts = 250;  // within one default socket receive queue
    std::vector<std::unique_ptr<LoopbackUdp>> flood;
    for (int i = 0; i < kPorts; ++i) {
        flood.push_back(std::make_unique<LoopbackUdp>(0x7F000009u));
        ASSERT_TRUE(flood.back()->Bound());
    }
    LoopbackUdp client(0x7F000002u), identifier(0x7F000003u);
    ASSERT_TRUE(client.Bound() && identifier.Bound());
    for (auto& port : flood) ASSERT_TRUE(port->Send(XcpFrame(0x31), kLoopback1, m_pAgent->Port()));
    // Once the first answer is back, the relay has taken the flood off its socket.
    ByteString answer;
    const uint32_t start = plat::TickCount();
    int floodAnswers = 0;
    while (floodAnswers == 0 && plat::TickCount() - start < kAnswerMs) {
        for (auto& port : flood) floodAnswers += port->Receive(0).empty() ? 0 : 1;
    }
    ASSERT_TRUE(client.Send(XcpFrame(0x31), kLoopback1, m_pAgent->Port()));
    ASSERT_TRUE(identifier.Send(XcpFrame(0x00), kLoopback1, m_pAgent->Port()));
    bool answered = false, identified = false;
    while (!(answered && identified) && plat::TickCount() - start < kAnswerMs) {
        answered = answered || IsIdentification(client.Receive(20));
        identified = identified || identifier.Receive(0) == kQlnAnswer;
        for (auto& port : flood) floodAnswers += port->Receive(0).empty() ? 0 : 1;
    }
    EXPECT_TRUE(answered) << floodAnswers << " flood answers";
    EXPECT_TRUE(identified);
    EXPECT_LT(floodAnswers, 10);  // the flood's requests were still waiting
}

}  // namespace
