// Faults injected around the running agent on Linux: the port vanishing and
// coming back under the same name, garbage on the line, a UPS that answers
// only every other time, stop and pause while a request is relayed, many
// clients at once, and an INI file full of junk.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/qln_exception.h"
#include "common/resources/message_ids.h"
#include "platform/clock.h"
#include "relay_agent.h"
#include "tools/netxcp/netxcp_client.h"
#include "ups_line_posix.h"
#include "vanished_port_posix.h"

namespace {

constexpr uint32_t kStartMs = 60000;    // enumeration and identification
constexpr uint32_t kAnswerMs = 20000;   // one forwarded request, generously
constexpr uint32_t kRecoverMs = 90000;  // six failed polls and a detection pass

std::string LostText() {
    std::string lost;
    CQLNException(MSG_UPS_COMMUNICATIONS_LOST).GetText(lost);
    return lost;
}

}  // namespace

TEST(RelayFaults, AVanishedPortIsReportedOnceAndTheUpsFoundAgainBehindTheSameName) {
    const std::string lost = LostText();
    if (lost.find("UPS communications lost.") == std::string::npos)
        GTEST_SKIP() << "the message table is not in this build";
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    RelayAgent agent(ups.LinkPath());
    ChildProcess& qln = agent.Process();
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << qln.Err();
    ReplugAndExpectOneLossAndRecovery(ups, agent, lost, CountOf(qln.Err(), lost), kRecoverMs,
                                      kAnswerMs);
}

TEST(RelayFaults, GarbageOnTheLineCostsOnlyThatAnswer) {
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    RelayAgent agent(ups.LinkPath());
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();

    for (const char* fault : {"badstart 1", "badsum 1"}) {
        ASSERT_TRUE(ups.Control(fault));
        // The garbled answer is dropped; the relay's own answer in the same
        // datagram still comes.
        ByteString reply = agent.Exchange(Cat({XcpFrame(0x31), XcpFrame(0x00)}), kAnswerMs);
        EXPECT_EQ(reply, kQlnAnswer) << fault << ": " << HexText(reply);
        // The next request is answered as if nothing had happened.
        EXPECT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), kAnswerMs))) << fault;
    }
    EXPECT_TRUE(agent.Process().Running());
}

TEST(RelayFaults, AUpsThatAnswersEveryOtherTimeIsRelayedWhenItAnswers) {
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    RelayAgent agent(ups.LinkPath());
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();

    int answered = 0;
    for (int i = 0; i < 6; ++i) {
        const bool silent = i % 2 == 1;
        if (silent) {
            ASSERT_TRUE(ups.Control("silence 1"));
        }
        ByteString reply = agent.Exchange(Cat({XcpFrame(0x31), XcpFrame(0x00)}), kAnswerMs);
        if (silent) {
            EXPECT_EQ(reply, kQlnAnswer) << i << ": " << HexText(reply);
        } else {
            ASSERT_GE(reply.size(), 9u) << i;
            EXPECT_TRUE(IsIdentification(reply)) << i << ": " << HexText(reply);
            ++answered;
        }
    }
    EXPECT_EQ(answered, 3);
    EXPECT_TRUE(agent.Process().Running());
}

TEST(RelayFaults, TwentyClientsAtOnceAreAllAnsweredAndTheAgentStaysResponsive) {
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    RelayAgent agent(ups.LinkPath());
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();

    // Every fourth client asks the UPS, the rest only the relay.
    std::vector<std::unique_ptr<NetXcpClient>> clients;
    for (int i = 0; i < 20; ++i) clients.emplace_back(new NetXcpClient("127.0.0.1", agent.Port()));
    for (int i = 0; i < 20; ++i) {
        ByteString request = i % 4 == 0 ? Cat({XcpFrame(0x00), XcpFrame(0x31)}) : XcpFrame(0x00);
        ASSERT_GT(clients[i]->Send(request), 0) << i;
    }
    for (int i = 0; i < 20; ++i) {
        ByteString reply;
        ASSERT_TRUE(clients[i]->Receive(reply, 60000)) << "client " << i << " got no answer";
        ASSERT_GE(reply.size(), 4u) << i;
        EXPECT_EQ(ByteString(reply.begin(), reply.begin() + 4), kQlnAnswer) << i;
        if (i % 4 == 0) {
            EXPECT_TRUE(IsIdentification(ByteString(reply.begin() + 4, reply.end())))
                << i << ": " << HexText(reply);
        } else {
            EXPECT_EQ(reply.size(), 4u) << i;
        }
    }
    // Each answer went to its own sender, once: nothing is left over.
    for (int i = 0; i < 20; ++i) {
        ByteString extra;
        EXPECT_FALSE(clients[i]->Receive(extra, 0)) << i;
    }
    EXPECT_EQ(agent.Exchange(XcpFrame(0x00), 5000), kQlnAnswer);
}

TEST(RelayFaults, AnIniFullOfJunkAroundTheEntriesStillGivesThem) {
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    // Junk before, between and inside sections: binary bytes, lines without
    // "=", an over-long line, a stray header, keys indented (never found).
    std::string junk = std::string("\x01\x02\xff garbage\n", 13) + std::string(600, 'x') + "\n" +
                       "[\n]\n==\n [Network]\n Passwd=ignored\n";
    IniSections ini{{"Junk", {{"\x7f\x01", "\x02"}, {"noise", junk}}},
                    {"Network", {{"Passwd", "Wopra3"}}}};
    RelayAgent agent(ups.LinkPath(), ini);
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
    EXPECT_EQ(agent.Exchange(XcpFrame(0x00), 5000), kQlnAnswer);
}

namespace {

// qln as systemd runs it: a notification socket of the test's own, control
// signals for stop (SIGTERM), pause (SIGUSR1) and continue (SIGUSR2).
class ServiceAgent {
public:
    // `timing`: the [Communications] Timing setting, none when empty.
    explicit ServiceAgent(const std::string& serialPort, const std::string& timing = "")
        : m_nPort(FreeUdpPort()) {
        m_nNotify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        const std::string path = m_Dir.Path() + "/notify";
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        m_bBound = ::bind(m_nNotify, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        const std::string events = m_Dir.Path() + "/events";
        ::mkdir(events.c_str(), 0700);
        IniSections sections{{"Communications", {{"CommunicationsPort", serialPort}}},
                             {"NetXCP", {{"AgentPort", std::to_string(m_nPort)}}}};
        if (!timing.empty()) sections["Communications"]["Timing"] = timing;
        const std::string ini = m_Dir.Write("qln.ini", IniText(sections));
        m_Process.Start(std::string(QLN_BIN_DIR) + "/qln", {"-c", ini},
                        {"NOTIFY_SOCKET=" + path, "QLN_EVENT_DIR=" + events});
    }
    ~ServiceAgent() {
        m_Process.Stop();
        if (m_nNotify >= 0) ::close(m_nNotify);
    }
    bool Bound() const { return m_bBound; }
    uint16_t Port() const { return m_nPort; }
    ChildProcess& Process() { return m_Process; }
    bool Signal(int signal) { return m_Process.Signal(signal); }
    // True once the agent told its service manager it runs.
    bool WaitReady(uint32_t ms) { return WaitNotified("READY=1", ms); }
    // True once a notification holding `what` came.
    bool WaitNotified(const std::string& what, uint32_t ms) {
        const uint32_t start = plat::TickCount();
        char text[256];
        while (plat::TickCount() - start < ms) {
            pollfd p{m_nNotify, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            ssize_t n = ::recv(m_nNotify, text, sizeof text - 1, 0);
            if (n > 0 && std::string(text, n).find(what) != std::string::npos) return true;
        }
        return false;
    }

private:
    ScratchDir m_Dir{"e2e"};
    uint16_t m_nPort;
    int m_nNotify = -1;
    bool m_bBound = false;
    ChildProcess m_Process;
};

// The UPS has heard `count` requests of `command`: the agent is inside the
// relay of the last one (it pauses before it reads the answer).
bool WaitHeard(UpsSim& sim, uint8_t command, uint32_t count) {
    const uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < kAnswerMs) {
        if (sim.Count(command) >= count) return true;
        ::usleep(2000);
    }
    return false;
}

// upssim, qln under a service manager relaying for it, and a client. Start
// returns true once the UPS has heard the client's identification request:
// the agent is then inside the relay of that request.
class RequestInHand {
public:
    bool Start(const std::string& timing = "") {
        if (!m_Ups.Start()) return Fail("upssim did not start");
        m_pAgent = std::make_unique<ServiceAgent>(m_Ups.LinkPath(), timing);
        if (!m_pAgent->Bound()) return Fail("no notification socket");
        if (!m_pAgent->WaitReady(kStartMs)) return Fail("not ready: " + m_pAgent->Process().Err());
        m_pClient = std::make_unique<NetXcpClient>("127.0.0.1", m_pAgent->Port());
        // One identification relayed first: once it is back, every request of
        // the agent's own start-up has reached the UPS, and the next one
        // counted is the client's.
        ByteString reply;
        if (m_pClient->Send(XcpFrame(0x31)) <= 0 || !m_pClient->Receive(reply, kAnswerMs) ||
            !IsIdentification(reply))
            return Fail("no identification relayed: " + m_pAgent->Process().Err());
        const uint32_t before = m_Ups.Sim().Count(0x31);
        if (m_pClient->Send(XcpFrame(0x31)) <= 0) return Fail("the request was not sent");
        if (!WaitHeard(m_Ups.Sim(), 0x31, before + 1)) return Fail("the UPS did not hear it");
        return true;
    }
    ServiceAgent& Agent() { return *m_pAgent; }
    NetXcpClient& Client() { return *m_pClient; }
    UpsSim& Sim() { return m_Ups.Sim(); }
    const std::string& Why() const { return m_Why; }

private:
    bool Fail(const std::string& why) {
        m_Why = why;
        return false;
    }
    LinkedUps m_Ups;
    std::unique_ptr<ServiceAgent> m_pAgent;
    std::unique_ptr<NetXcpClient> m_pClient;
    std::string m_Why;
};

}  // namespace

TEST(RelayFaults, AStopDuringARelayedRequestEndsTheServiceWithinSeconds) {
    RequestInHand relay;
    ASSERT_TRUE(relay.Start()) << relay.Why();
    ServiceAgent& agent = relay.Agent();
    NetXcpClient& client = relay.Client();
    const uint32_t stopAt = plat::TickCount();
    EXPECT_TRUE(agent.Signal(SIGTERM));
    ASSERT_TRUE(agent.Process().WaitForExit(10000)) << "the agent did not stop";
    EXPECT_LT(plat::TickCount() - stopAt, 5000u);
    EXPECT_EQ(agent.Process().ExitCode(), 0) << agent.Process().Err();
    // The request in hand was finished first.
    ByteString reply;
    EXPECT_TRUE(client.Receive(reply, 1000));
    EXPECT_TRUE(IsIdentification(reply)) << HexText(reply);
}

TEST(RelayFaults, APauseDuringARelayedRequestHoldsTheNextOnesAndAStopStillEndsIt) {
    RequestInHand relay;
    ASSERT_TRUE(relay.Start()) << relay.Why();
    ServiceAgent& agent = relay.Agent();
    NetXcpClient& client = relay.Client();
    EXPECT_TRUE(agent.Signal(SIGUSR1));
    ByteString reply;
    ASSERT_TRUE(client.Receive(reply, kAnswerMs)) << "the request in hand was dropped";
    EXPECT_TRUE(IsIdentification(reply)) << HexText(reply);

    // Paused: a request waits, unanswered, until the service continues.
    ASSERT_GT(client.Send(XcpFrame(0x00)), 0);
    EXPECT_FALSE(client.Receive(reply, 2000));
    EXPECT_TRUE(agent.Signal(SIGUSR2));
    ASSERT_TRUE(client.Receive(reply, kAnswerMs));
    EXPECT_EQ(reply, kQlnAnswer);

    // A stop while paused ends it too.
    EXPECT_TRUE(agent.Signal(SIGUSR1));
    ASSERT_GT(client.Send(XcpFrame(0x31)), 0);
    EXPECT_TRUE(agent.Signal(SIGTERM));
    const uint32_t stopAt = plat::TickCount();
    ASSERT_TRUE(agent.Process().WaitForExit(10000)) << "the paused agent did not stop";
    EXPECT_LT(plat::TickCount() - stopAt, 5000u);
    EXPECT_EQ(agent.Process().ExitCode(), 0) << agent.Process().Err();
}

// Prompt timing sleeps on the socket and the service's events together: a
// pause given while the worker waits holds the next request (were the pause
// not part of that wait, the request would be served at once), a continue
// lets it through, and a stop while paused ends the service.
TEST(RelayFaults, APauseWhilePromptTimingWaitsHoldsTheNextRequestAndAStopEndsIt) {
    RequestInHand relay;
    ASSERT_TRUE(relay.Start("prompt")) << relay.Why();
    ServiceAgent& agent = relay.Agent();
    NetXcpClient& client = relay.Client();
    ByteString reply;
    ASSERT_TRUE(client.Receive(reply, kAnswerMs)) << "the request in hand was dropped";
    EXPECT_TRUE(IsIdentification(reply)) << HexText(reply);

    // The pause is given while the worker waits for the next request.
    EXPECT_TRUE(agent.Signal(SIGUSR1));
    ASSERT_TRUE(agent.WaitNotified("STATUS=Paused", kAnswerMs));
    ASSERT_GT(client.Send(XcpFrame(0x00)), 0);
    EXPECT_FALSE(client.Receive(reply, 2000));
    EXPECT_TRUE(agent.Signal(SIGUSR2));
    ASSERT_TRUE(client.Receive(reply, kAnswerMs));
    EXPECT_EQ(reply, kQlnAnswer);

    EXPECT_TRUE(agent.Signal(SIGUSR1));
    EXPECT_TRUE(agent.Signal(SIGTERM));
    ASSERT_TRUE(agent.Process().WaitForExit(10000)) << "the paused agent did not stop";
    EXPECT_EQ(agent.Process().ExitCode(), 0) << agent.Process().Err();
}

// A flood of datagrams that each hold as many forwarded frames as fit (about
// eight minutes of UPS work apiece), of over-long datagrams and of a small
// trickle behind them: a stop still ends the service within seconds.
TEST(RelayFaults, AStopArrivesWithinSecondsWhateverTheNetworkSends) {
    RequestInHand relay;
    ASSERT_TRUE(relay.Start()) << relay.Why();
    ServiceAgent& agent = relay.Agent();
    ByteString many;
    for (int i = 0; i < 293; ++i) many = Cat({many, XcpFrame(0x31)});
    ASSERT_EQ(many.size(), 1172u);
    const ByteString overLong(1173, 0xAB), small(101, 0x00);
    std::atomic<bool> done{false};
    std::thread flood([&] {
        NetXcpClient client("127.0.0.1", agent.Port());
        const uint32_t start = plat::TickCount();
        for (int i = 0; !done && plat::TickCount() - start < 60000; ++i) {
            if (i % 10 == 0) client.Send(many);
            client.Send(overLong);
            client.Send(small);
            ::usleep(20000);
        }
    });
    // The agent is inside one of the long datagrams once the UPS has heard a
    // few of its frames.
    const uint32_t before = relay.Sim().Count(0x31);
    const bool walking = WaitHeard(relay.Sim(), 0x31, before + 3);
    const uint32_t stopAt = plat::TickCount();
    EXPECT_TRUE(agent.Signal(SIGTERM));
    const bool ended = agent.Process().WaitForExit(60000);
    const uint32_t took = plat::TickCount() - stopAt;
    done = true;
    flood.join();
    ASSERT_TRUE(walking) << "the long datagram was never relayed: " << agent.Process().Err();
    ASSERT_TRUE(ended) << "the agent did not stop";
    EXPECT_LT(took, 5000u);
    EXPECT_EQ(agent.Process().ExitCode(), 0) << agent.Process().Err();
}
