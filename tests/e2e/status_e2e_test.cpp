// The status report of the agent on Linux, run as systemd runs it: after a
// scripted session "qln status" and its JSON show exactly what happened, the
// service manager's status line follows, and a pause and a stop read as such.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "relay_agent.h"
#include "scratch_dir.h"
#include "status_session_posix.h"
#include "ups_line_posix.h"

namespace {

constexpr uint32_t kStartMs = 60000;    // enumeration and identification
constexpr uint32_t kAnswerMs = 20000;   // one forwarded request, generously
constexpr uint32_t kRecoverMs = 90000;  // six failed polls and a detection pass

}  // namespace

TEST(StatusReport, TellsASessionAPauseAndAStopAsTheyHappened) {
    ScratchDir dir{"status"};
    NotifyListener notify(dir);
    const std::string events = dir.Path() + "/events";
    ASSERT_EQ(::mkdir(events.c_str(), 0700), 0);
    LinkedUps ups;
    ASSERT_TRUE(ups.Start());
    const std::vector<std::string> env{"QLN_EVENT_DIR=" + events};
    RelayAgent agent(ups.LinkPath(), {}, {}, {"NOTIFY_SOCKET=" + notify.Path(), env[0]}, false);
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
    StatusProbe status({}, agent.IniArgument(), env);

    std::string json = RunScriptedSession(agent, ups, status, kRecoverMs, kAnswerMs);
    const std::string answered = JsonField(json, "answered");
    EXPECT_TRUE(notify.WaitFor("STATUS=UPS Quillon 1500 RT (1.0 2.5) at 19200 baud; " + answered +
                                   " answered, 1 refused, 0 timed out",
                               kAnswerMs));

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
