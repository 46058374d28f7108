#include "access_checks_posix.h"

#include <gtest/gtest.h>

#include "loopback_udp.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t kLoopback1 = 0x7F000001u, kFriend = 0x7F000002u, kOther = 0x7F000003u,
                   kStranger = 0x7F000005u;
constexpr uint32_t kAnswerMs = 20000;

// Sends from `client` to the agent and waits for the answer; empty when
// none comes. A probe from 127.0.0.1 follows, and its answer is awaited, so
// that "no answer" means the agent had served the datagram.
ByteString Exchange(RelayAgent& agent, LoopbackUdp& client, const ByteString& datagram,
                    uint32_t to = kLoopback1) {
    EXPECT_TRUE(client.Send(datagram, to, agent.Port()));
    EXPECT_TRUE(IsProbeAnswer(agent.Exchange(kProbe, kAnswerMs)));
    return client.Receive(500);
}

}  // namespace

IniSections AccessIni() {
    return {{"NetXCP",
             {{"BindAddress", "127.0.0.1"},
              {"AllowClients", "127.0.0.1, 127.0.0.2/31"},
              {"PasswordTries", "2"},
              {"PasswordLockout", "2"}}}};
}

void CheckAccessRules(RelayAgent& agent, SimulatedUps& ups, bool bindHonoured) {
    LoopbackUdp stranger(kStranger), friendly(kFriend);
    ASSERT_TRUE(stranger.Bound() && friendly.Bound());

    // Not on the list: no answer, and the UPS hears nothing of it.
    const uint32_t identifications = ups.Count(0x31);
    EXPECT_EQ(Exchange(agent, stranger, Cat({XcpFrame(0x00), XcpFrame(0x31)})), ByteString{});
    EXPECT_EQ(ups.Count(0x31), identifications);
    EXPECT_EQ(Exchange(agent, friendly, XcpFrame(0x00)), kQlnAnswer);

    if (bindHonoured) {
        EXPECT_EQ(Exchange(agent, friendly, XcpFrame(0x00), kOther), ByteString{});
    }

    // Two wrong passwords lock the sender out: the right one behind them is
    // not heard, and the relay says so once, naming the sender.
    const ByteString guesses = Cat({PasswordFrame("guess1"), PasswordFrame("guess2"),
                                    PasswordFrame("Wopra3"), XcpFrame(0x8A)});
    EXPECT_EQ(Exchange(agent, friendly, guesses), ByteString{});
    EXPECT_EQ(ups.Count(0x8A), 0u);
    EXPECT_TRUE(
        agent.Process().WaitForText(true, "Wrong NetXCP passwords from 127.0.0.2", 1, kAnswerMs))
        << agent.Process().Err();

    // Another sender with the right password is served meanwhile.
    ByteString answer;
    EXPECT_FALSE(agent.Unanswered(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A)}), answer));
    EXPECT_EQ(ups.Count(0x8A), 1u);

    // Once the lockout is over, the guesser is heard again.
    const uint32_t start = plat::TickCount();
    answer.clear();
    while (answer.empty() && plat::TickCount() - start < 30000) {
        answer = Exchange(agent, friendly, Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A)}));
    }
    EXPECT_FALSE(answer.empty());
    EXPECT_EQ(ups.Count(0x8A), 2u);
    const std::string err = agent.Process().Err();
    const std::string said = "Wrong NetXCP passwords from 127.0.0.2";
    EXPECT_EQ(err.find(said), err.rfind(said)) << err;
}
