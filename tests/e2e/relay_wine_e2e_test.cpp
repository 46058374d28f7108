// The Win32 relay path: qln.exe in the foreground under Wine, its COM port a
// link in the Wine prefix to upssim's pseudo-terminal, NetXCP datagrams from
// the Linux side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "access_checks_posix.h"
#include "platform/clock.h"
#include "queue_checks_posix.h"
#include "relay_agent.h"
#include "scratch_dir.h"
#include "trace_file.h"
#include "ups_line_posix.h"
#include "ups_model.h"
#include "upslink/xcp_protocol.h"
#include "vanished_port_posix.h"
#include "wait_for.h"
#include "wine_prefix_posix.h"

namespace {

constexpr uint32_t kStartMs = 120000;    // Wine's start-up, enumeration, identification
constexpr uint32_t kAnswerMs = 20000;    // one forwarded request, generously
constexpr uint32_t kRecoverMs = 120000;  // six failed polls and a detection pass, under Wine

// qln.exe under Wine relaying for upssim behind a COM port of the prefix.
// Start() (where the prefix is not Missing()) says why it could not, or ""
// once the agent relays.
class WineRelay {
public:
    std::string Start(const IniSections& ini = {}) {
        m_Wine.Export();
        if (!m_Ups.Start()) return "upssim did not start";
        m_pCom = std::make_unique<WineComPort>(m_Wine, m_Ups.SlavePath());
        if (m_pCom->Name().empty()) return "no free COM port in " + m_Wine.Path();
        m_pAgent = std::make_unique<RelayAgent>(
            m_pCom->Name(), ini, std::vector<std::string>{"wine", m_Wine.Bin() + "/qln.exe"});
        if (!m_pAgent->WaitUntilRelaying(kStartMs))
            return "not relaying: " + m_pAgent->Process().Err();
        return "";
    }
    ~WineRelay() {
        if (m_pAgent) m_pAgent->Process().Stop();
    }
    const WinePrefix& Wine() const { return m_Wine; }
    RelayAgent& Agent() { return *m_pAgent; }
    SimulatedUps& Ups() { return m_Ups; }

private:
    WinePrefix m_Wine;
    SimulatedUps m_Ups;
    std::unique_ptr<WineComPort> m_pCom;
    std::unique_ptr<RelayAgent> m_pAgent;
};

// Turns XON/XOFF on both ways on the line behind `path`, as a host that used
// it before might have left it (a fresh pseudo-terminal has XON on already).
bool LeaveXonXoffOn(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    termios tio{};
    bool ok = ::tcgetattr(fd, &tio) == 0;
    tio.c_iflag |= IXON | IXOFF;
    ok = ok && ::tcsetattr(fd, TCSANOW, &tio) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

// The request queue over Winsock: the turns, and an over-long datagram
// (WSAEMSGSIZE) that costs only itself.
TEST(RelayUnderWine,
     ASecondSenderIsAnsweredWhileTheFirstFloodsAndAnOverLongDatagramCostsOnlyItself) {
    WineRelay relay;
    if (!relay.Wine().Missing().empty()) GTEST_SKIP() << relay.Wine().Missing();
    ASSERT_EQ(relay.Start({{"NetXCP", {{"RequestMaxAge", "0"}}}}), "");
    // The over-long datagram first: the flood leaves a backlog of its
    // address's requests, and turns go by address, so a sender on the
    // flooder's address would wait behind them.
    CheckAnOverLongDatagramCostsOnlyItself(relay.Agent(), kAnswerMs);
    CheckASecondSenderIsAnsweredWhileTheFirstFloods(relay.Agent(), kAnswerMs);
}

// A UPS whose identification carries both flow-control bytes (versions 17.19,
// and 19 bytes of data: a length byte of 0x13) on a line that starts with
// XON/XOFF on. The agent turns flow control off when it configures the port,
// so the UPS is identified and its answer relayed byte for byte.
TEST(RelayUnderWine, RelaysTheFlowControlBytesOfALineThatHadXonXoffOn) {
    WinePrefix wine;
    if (!wine.Missing().empty()) GTEST_SKIP() << wine.Missing();
    wine.Export();
    const char* versions = "versions 1.0,17.19";
    const char* model = "model Quillon 1500";

    UpsModel sent;
    ASSERT_EQ(sent.Control(versions), "ok");
    ASSERT_EQ(sent.Control(model), "ok");
    const ByteString request = XcpFrame(0x31);
    std::vector<uint8_t> expected;
    sent.Hear(request.data(), request.size(), sent.Speed(), expected);
    ASSERT_GE(expected.size(), 5u);
    ASSERT_EQ(expected[2], 0x13);

    SimulatedUps ups;
    ASSERT_TRUE(ups.Start({versions, model}));
    ASSERT_TRUE(LeaveXonXoffOn(ups.SlavePath()));
    WineComPort com(wine, ups.SlavePath());
    ASSERT_FALSE(com.Name().empty()) << "no free COM port in " << wine.Path();
    RelayAgent agent(com.Name(), {}, {"wine", wine.Bin() + "/qln.exe"});
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
    EXPECT_EQ(agent.Exchange(request, kAnswerMs), ByteString(expected.begin(), expected.end()));
    agent.Process().Stop();
}

TEST(RelayUnderWine, RelaysForALinuxClient) {
    WineRelay relay;
    if (!relay.Wine().Missing().empty()) GTEST_SKIP() << relay.Wine().Missing();
    std::string why = relay.Start();
    ASSERT_EQ(why, "");
    RelayAgent& agent = relay.Agent();
    SimulatedUps& ups = relay.Ups();

    ByteString reply = agent.Exchange(Cat({XcpFrame(0x00), XcpFrame(0x31)}), kAnswerMs);
    ASSERT_GE(reply.size(), 9u);
    EXPECT_EQ(ByteString(reply.begin(), reply.begin() + 4), kQlnAnswer);
    EXPECT_TRUE(IsIdentification(ByteString(reply.begin() + 4, reply.end())));

    ByteString answer;
    EXPECT_TRUE(agent.Unanswered(XcpFrame(0x8A), answer));
    answer = agent.Exchange(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A)}), kAnswerMs);
    EXPECT_FALSE(answer.empty());
    EXPECT_EQ(ups.Count(0x8A), 1u);
}

// Prompt timing under Wine: a forwarded request is answered before literal
// timing's lead would have ended, and the UPS still gets its quiet after
// each answer.
TEST(RelayUnderWine, PromptTimingAnswersBeforeTheLiteralLeadAndKeepsTheGuard) {
    WineRelay relay;
    if (!relay.Wine().Missing().empty()) GTEST_SKIP() << relay.Wine().Missing();
    std::string why = relay.Start({{"Communications", {{"Timing", "prompt"}}}});
    ASSERT_EQ(why, "");
    RelayAgent& agent = relay.Agent();
    SimulatedUps& ups = relay.Ups();

    ASSERT_TRUE(ups.Control("gap reset"));
    for (int i = 0; i < 3; ++i) {
        const uint32_t start = plat::TickCount();
        EXPECT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), kAnswerMs)));
        EXPECT_LT(plat::TickCount() - start, kXcpRelayLeadMs);
    }
    const std::string gap = ups.Ask("gap");
    ASSERT_EQ(gap.compare(0, 3, "ok "), 0) << gap;
    ASSERT_NE(gap, "ok none");
    EXPECT_GE(std::stoul(gap.substr(3)), kXcpRelayPauseMs) << gap;
}

// The adapter behind the COM port is pulled out and a new one appears under
// the same name: the agent's open handle stays dead, the name leads to the
// new line. The loss is reported once and the UPS found at a later look.
TEST(RelayUnderWine, AVanishedPortIsReportedOnceAndTheUpsFoundAgainBehindTheSameName) {
    WinePrefix wine;
    if (!wine.Missing().empty()) GTEST_SKIP() << wine.Missing();
    wine.Export();
    const std::string lost = "UPS communications lost.";

    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    WineComPort com(wine, ups.LinkPath());
    ASSERT_FALSE(com.Name().empty()) << "no free COM port in " << wine.Path();
    RelayAgent agent(com.Name(), {}, {"wine", wine.Bin() + "/qln.exe"});
    ChildProcess& qln = agent.Process();
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << qln.Err();
    ASSERT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), kAnswerMs)));
    // A first look may have failed and been reported already: a simulated
    // line holds no 7 data bits, and whether Wine can set the Plug and Play
    // format again at once on a re-opened line depends on the simulator.
    const int lostBefore = CountOf(qln.Err(), lost);

    ReplugAndExpectOneLossAndRecovery(ups, agent, lost, lostBefore, kRecoverMs, kAnswerMs);
    qln.Stop();
}

// The network face of qln.exe, for Linux clients of their own addresses.
// Wine binds a UDP socket given 127.0.0.1 to the whole loopback interface,
// so the bind address is not checked here.
TEST(RelayUnderWine, ServesTheAllowedClientsAndLocksOutGuessers) {
    WineRelay relay;
    if (!relay.Wine().Missing().empty()) GTEST_SKIP() << relay.Wine().Missing();
    std::string why = relay.Start(AccessIni());
    ASSERT_EQ(why, "");
    CheckAccessRules(relay.Agent(), relay.Ups(), false);
}

// qln.exe traces to a Windows path (drive letter, backslashes, a blank):
// the datagram, the frame to the UPS, the UPS's answer and the reply.
TEST(RelayUnderWine, TracesAnExchangeToAWindowsPath) {
    WineRelay relay;
    if (!relay.Wine().Missing().empty()) GTEST_SKIP() << relay.Wine().Missing();
    const std::string name = "qln trace " + std::to_string(::getpid()) + ".txt";
    const std::string hostPath = relay.Wine().Path() + "/drive_c/" + name;
    struct Remove {
        std::string path;
        ~Remove() { std::remove(path.c_str()); }
    } removeAfter{hostPath};
    std::string why = relay.Start({{"Trace", {{"TraceFile", "C:\\" + name}}}});
    ASSERT_EQ(why, "");
    ByteString reply = relay.Agent().Exchange(XcpFrame(0x31), kAnswerMs);
    ASSERT_TRUE(IsIdentification(reply));
    auto traced = [&] {
        std::vector<TraceLine> lines = ReadTrace(hostPath);
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].direction != "N<" || lines[i].bytes != XcpFrame(0x31)) continue;
            if (Joined(lines, i + 1, "S>", {"N>"}) == XcpFrame(0x31) &&
                Joined(lines, i + 1, "N>", {"N<"}) == reply) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(WaitFor(traced, kAnswerMs)) << ReadBytes(hostPath);
}
