// The status report of the agent. On Linux, run as systemd runs it: after a
// scripted session "qln status" and its JSON show exactly what happened, the
// service manager's status line follows, and a pause and a stop read as such.
// Under Wine, qln.exe in the foreground: the same session, the events of the
// UPS found and the relay started, and an ended agent read as not running.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "relay_agent.h"
#include "scratch_dir.h"
#include "status_session_posix.h"
#include "ups_line_posix.h"
#include "wait_for.h"
#include "wine_prefix_posix.h"

namespace {

constexpr uint32_t kStartMs = 60000;         // enumeration and identification
constexpr uint32_t kAnswerMs = 20000;        // one forwarded request, generously
constexpr uint32_t kRecoverMs = 90000;       // six failed polls and a detection pass
constexpr uint32_t kWineStartMs = 120000;    // Wine's start-up, enumeration, identification
constexpr uint32_t kWineRecoverMs = 120000;  // the same loss and detection under Wine

}  // namespace

TEST(StatusReport, TellsASessionAPauseAndAStopAsTheyHappened) {
    ScratchDir dir{"status"};
    NotifyListener notify(dir);
    const std::string events = dir.Path() + "/events";
    ASSERT_EQ(::mkdir(events.c_str(), 0700), 0);
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    const std::vector<std::string> env{"QLN_EVENT_DIR=" + events};
    const std::string prometheus = dir.File("qln.prom");
    RelayAgent agent(ups.LinkPath(), {{"Status", {{"PrometheusFile", prometheus}}}}, {},
                     {"NOTIFY_SOCKET=" + notify.Path(), env[0]}, false);
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
    StatusProbe status({}, agent.IniArgument(), env);

    std::string json = RunScriptedSession(agent, ups, status, kRecoverMs, kAnswerMs);
    // As a service a 0x00 frame writes no line (any sender could fill the
    // journal with them): it is counted instead.
    ByteString relayFrames;
    for (int i = 0; i < 40; ++i) relayFrames = Cat({relayFrames, XcpFrame(0x00)});
    EXPECT_FALSE(agent.Exchange(relayFrames, kAnswerMs).empty());
    const std::string told = std::to_string(JsonCount(json, "relay_requests") + 40);
    ProgramResult counted;
    EXPECT_TRUE(status.WaitFor("relay_requests", told, kAnswerMs, counted)) << counted.out;
    json = counted.out;
    EXPECT_EQ(agent.Process().Out().find("requested qln"), std::string::npos)
        << agent.Process().Out().substr(0, 200);
    const std::string answered = JsonField(json, "answered");
    EXPECT_TRUE(notify.WaitFor("STATUS=UPS Quillon 1500 RT (1.0 2.5) at 19200 baud; " + answered +
                                   " answered, 1 refused, 0 timed out",
                               kAnswerMs));
    const std::string label = "{port=\"" + std::to_string(agent.Port()) + "\"} ";
    std::string metrics;
    EXPECT_TRUE(WaitFor(
        [&] {
            metrics = ReadBytes(prometheus);
            return metrics.find("qln_answered_total" + label + answered + "\n") !=
                   std::string::npos;
        },
        kAnswerMs))
        << metrics;
    EXPECT_NE(metrics.find("qln_privileged_refused_total" + label + "1\n"), std::string::npos);
    EXPECT_NE(metrics.find("qln_losses_total" + label + "1\n"), std::string::npos);

    // Paused: the counts stay, the state and the exit status say so.
    ASSERT_TRUE(agent.Process().Signal(SIGUSR1));
    ProgramResult paused;
    EXPECT_TRUE(status.WaitFor("state", "paused", kAnswerMs, paused)) << paused.out;
    EXPECT_EQ(paused.exitCode, kStatusPaused);
    EXPECT_EQ(JsonField(paused.out, "answered"), answered);
    EXPECT_TRUE(notify.WaitFor("STATUS=Paused; UPS Quillon 1500 RT", kAnswerMs));
    ProgramResult text = status.Text();
    EXPECT_EQ(text.exitCode, kStatusPaused);
    EXPECT_NE(text.out.find(": paused (process"), std::string::npos) << text.out;
    ASSERT_TRUE(agent.Process().Signal(SIGUSR2));
    ProgramResult resumed;
    EXPECT_TRUE(status.WaitFor("state", "attached", kAnswerMs, resumed)) << resumed.out;
    EXPECT_EQ(resumed.exitCode, kStatusRelaying);

    // Stopped: not running, with the counts of the run it ended.
    agent.Process().Stop();
    ProgramResult stopped = status.Json();
    EXPECT_EQ(stopped.exitCode, kStatusNotRunning) << stopped.out;
    EXPECT_EQ(JsonField(stopped.out, "state"), "stopped");
    EXPECT_EQ(JsonField(stopped.out, "running"), "false");
    EXPECT_EQ(JsonField(stopped.out, "answered"), answered);
    EXPECT_EQ(JsonCount(stopped.out, "privileged_refused"), JsonCount(json, "privileged_refused"));
    text = status.Text();
    EXPECT_EQ(text.exitCode, kStatusNotRunning);
    EXPECT_NE(text.out.find(": not running (process"), std::string::npos) << text.out;
}

TEST(StatusReportUnderWine, TellsASessionAndAnEndedAgent) {
    WinePrefix wine;
    if (!wine.Missing().empty()) GTEST_SKIP() << wine.Missing();
    wine.Export();
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    WineComPort com(wine, ups.LinkPath());
    ASSERT_FALSE(com.Name().empty()) << "no free COM port in " << wine.Path();
    const std::vector<std::string> qlnExe{"wine", wine.Bin() + "/qln.exe"};
    RelayAgent agent(com.Name(), {}, qlnExe);
    ChildProcess& qln = agent.Process();
    ASSERT_TRUE(agent.WaitUntilRelaying(kWineStartMs)) << qln.Err();
    StatusProbe status(qlnExe, agent.IniArgument(), {});

    std::string json = RunScriptedSession(agent, ups, status, kWineRecoverMs, kAnswerMs);
    const std::string port = std::to_string(agent.Port());
    EXPECT_EQ(CountOf(qln.Err(), "The relay started on UDP port " + port + " for the UPS on " +
                                     com.Name() + " (timing: literal)."),
              1)
        << qln.Err();
    EXPECT_EQ(CountOf(qln.Err(), "UPS found: Quillon 1500 RT, versions 1.0 2.5, at 19200 baud."), 2)
        << qln.Err();

    // However the agent ended, its file no longer reads as running.
    qln.Stop();
    ProgramResult ended = status.Json();
    EXPECT_TRUE(ended.exitCode == kStatusNotRunning || ended.exitCode == kStatusDied) << ended.out;
    EXPECT_EQ(JsonField(ended.out, "state"), "stopped");
    EXPECT_EQ(JsonField(ended.out, "running"), "false");
    EXPECT_EQ(JsonField(ended.out, "answered"), JsonField(json, "answered"));
    ProgramResult text = status.Text();
    EXPECT_NE(text.out.find(": not running (process"), std::string::npos) << text.out;
}
