// The real agent as a service, relaying for upssim: on Linux under a test
// that stands in for systemd (the notification socket, the control signals),
// and as a Windows service under Wine's service control manager.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "child_process.h"
#include "platform/clock.h"
#include "relay_agent.h"
#include "service_test_util.h"
#include "ups_line_posix.h"
#include "wine_prefix_posix.h"

namespace {

constexpr uint32_t kStartMs = 120000;  // enumeration and identification, under Wine too
constexpr uint32_t kAnswerMs = 1500;   // long enough for a pass to take the datagram

// One relay identification exchange on a fresh socket: true when answered.
bool Answered(uint16_t port, uint32_t ms = kAnswerMs) {
    NetXcpClient client("127.0.0.1", port);
    ByteString answer;
    client.Send(XcpFrame(0x00));
    return client.Receive(answer, ms) && answer == kQlnAnswer;
}

bool RelayingWithin(uint16_t port, uint32_t ms) {
    return WaitFor([port] { return Answered(port); }, ms);
}

// A pause takes hold at the worker's next pass: wait until a datagram goes
// unanswered, then make sure the next one does too.
bool HeldInPause(uint16_t port) {
    return WaitFor([port] { return !Answered(port); }, 30000) && !Answered(port, 3000);
}

// The agent's INI: the serial port and a free NetXCP port.
std::string AgentIni(const std::string& serialPort, uint16_t port) {
    return IniText({{"Communications", {{"CommunicationsPort", serialPort}}},
                    {"NetXCP", {{"AgentPort", std::to_string(port)}}}});
}

TEST(AgentUnderSystemd, ReadyOnceTheUpsIsFoundAndSignalsPauseContinueAndStop) {
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    ScratchDir dir("e2e");
    uint16_t port = FreeUdpPort();
    std::string ini = dir.Write("qln.ini", AgentIni(ups.SlavePath(), port));
    std::string events = dir.Path() + "/events";

    int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string socketPath = dir.Path() + "/notify";
    strcpy(a.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    std::string seen;
    auto expect = [&](const std::string& text, int ms) {
        for (;;) {
            pollfd p{notify, POLLIN, 0};
            if (poll(&p, 1, ms) != 1) return false;
            char buffer[512];
            ssize_t n = recv(notify, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            seen.append(buffer, static_cast<size_t>(n)).append("|");
            if (std::string(buffer, static_cast<size_t>(n)).find(text) != std::string::npos)
                return true;
        }
    };

    // No "daemon": started the way systemd starts the unit.
    ChildProcess agent;
    ASSERT_TRUE(agent.Start(BinPath("qln"), {"-c", ini},
                            {"NOTIFY_SOCKET=" + socketPath, "QLN_EVENT_DIR=" + events}));
    ASSERT_TRUE(expect("READY=1", kStartMs)) << seen << agent.Err();
    EXPECT_TRUE(RelayingWithin(port, 30000)) << agent.Err();

    EXPECT_TRUE(agent.Signal(SIGUSR1));
    ASSERT_TRUE(expect("STATUS=Paused", 10000)) << seen;
    EXPECT_TRUE(HeldInPause(port));
    EXPECT_TRUE(agent.Signal(SIGUSR2));
    // The line after a continue is the worker's (the UPS and the counts), as
    // the status file says; before, "Running" stood over it until a count
    // changed.
    ASSERT_TRUE(expect("STATUS=UPS ", 10000)) << seen;
    EXPECT_EQ(seen.find("STATUS=Running"), std::string::npos) << seen;
    EXPECT_TRUE(RelayingWithin(port, 30000)) << agent.Err();

    // Stop while paused: the worker ends from inside its pause.
    EXPECT_TRUE(agent.Signal(SIGUSR1));
    EXPECT_TRUE(HeldInPause(port));
    EXPECT_TRUE(agent.Signal(SIGTERM));
    EXPECT_TRUE(expect("STOPPING=1", 10000)) << seen;
    EXPECT_TRUE(agent.WaitForExit(20000));
    EXPECT_EQ(agent.ExitCode(), 0) << agent.Err();
    close(notify);
}

// Before: the agent took an event folder that others may enter as it was.
// Now a folder that is not the agent's account's alone fails the start at
// once: STOPPING=1 without READY=1, the process ends, nothing is relayed.
TEST(AgentUnderSystemd, AnEventFolderOpenToOthersFailsTheStartAtOnce) {
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    ScratchDir dir("e2e");
    uint16_t port = FreeUdpPort();
    std::string ini = dir.Write("qln.ini", AgentIni(ups.SlavePath(), port));
    std::string events = dir.Path() + "/events";
    ASSERT_EQ(mkdir(events.c_str(), 0700), 0);
    ASSERT_EQ(chmod(events.c_str(), 0755), 0);
    int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string socketPath = dir.Path() + "/notify";
    strcpy(a.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    ChildProcess agent;
    ASSERT_TRUE(agent.Start(BinPath("qln"), {"-c", ini},
                            {"NOTIFY_SOCKET=" + socketPath, "QLN_EVENT_DIR=" + events}));
    std::string seen;
    for (;;) {
        pollfd p{notify, POLLIN, 0};
        if (poll(&p, 1, 20000) != 1) break;
        char buffer[512];
        ssize_t n = recv(notify, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        seen.append(buffer, static_cast<size_t>(n)).append("|");
        if (seen.find("STOPPING=1") != std::string::npos) break;
    }
    EXPECT_NE(seen.find("STOPPING=1"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("READY=1"), std::string::npos) << seen;
    EXPECT_TRUE(agent.WaitForExit(10000)) << "the agent stays after a failed start";
    EXPECT_FALSE(Answered(port, 500));
    EXPECT_TRUE(std::filesystem::is_empty(events)) << "something was made in the refused folder";
    close(notify);
}

// Runs `wine <program> <args...>`: its exit code, and what it wrote to
// standard output and error in `out` when asked.
int WineRun(const std::string& program, const std::vector<std::string>& args,
            std::string* out = nullptr) {
    ChildProcess p;
    std::vector<std::string> line{"wine", program};
    line.insert(line.end(), args.begin(), args.end());
    if (!p.Start("/usr/bin/env", line)) return -2000;
    if (!p.WaitForExit(120000)) return -3000;
    if (out) *out = p.Out() + p.Err();
    return p.ExitCode();
}

// Runs `wine <program> <verb>` and returns its exit code.
int Wine(const std::string& program, const std::string& verb) { return WineRun(program, {verb}); }

// Starts a persistent Wine server for the prefix, ending whatever still runs
// there first. Wine's service dispatcher makes a service process one of the
// prefix's system processes, and a server that is not persistent shuts those
// down (services included) as soon as the last ordinary program ends: here
// that is `qln start`, which returns at once, so without this the agent would
// be ended a second or two after its start, in the middle of its first look
// for the UPS. A persistent server is what a prefix whose services are meant
// to stay up runs with.
bool HoldWinePrefix() {
    return WaitFor(
        [] {
            (void)!std::system("wineserver -k >/dev/null 2>&1");
            return std::system("wineserver -p >/dev/null 2>&1") == 0;
        },
        30000);
}

TEST(AgentUnderWineServiceManager, RelaysAsAServiceAndFollowsItsControls) {
    WinePrefix wine;  // ends the server and every Wine process of the prefix
    if (!wine.Missing().empty()) GTEST_SKIP() << wine.Missing();
    wine.Export();
    ASSERT_TRUE(HoldWinePrefix()) << "no persistent Wine server for " << wine.Path();

    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    WineComPort com(wine, ups.SlavePath());
    ASSERT_FALSE(com.Name().empty());
    const std::string bin = wine.Bin();

    // The service runs from a folder of its own with the INI beside it.
    ScratchDir dir("e2e");
    for (const char* file : {"qln.exe", "Pellux_noDB.dll"}) {
        std::filesystem::copy_file(bin + "/" + file, dir.Path() + "/" + file);
    }
    uint16_t port = FreeUdpPort();
    dir.Write("qln.ini", AgentIni(com.Name(), port));
    std::string qln = dir.Path() + "/qln.exe";

    (void)Wine(qln, "remove");  // one left installed by a run that was cut short
    ASSERT_EQ(Wine(qln, "install"), 0);
    struct Cleanup {
        std::string qln;
        ~Cleanup() {
            Wine(qln, "stop");
            Wine(qln, "remove");
        }
    } cleanup{qln};

    // "qln status" as an operator asks it beside the service, as a shell
    // sees its exit status: 0 relaying, 151 paused, 3 not running.
    auto status = [&] { return Wine(qln, "status") & 0xFF; };
    ASSERT_EQ(Wine(qln, "start"), 0);
    ASSERT_TRUE(RelayingWithin(port, kStartMs));
    EXPECT_TRUE(WaitFor([&] { return status() == 0; }, 30000));
    EXPECT_EQ(Wine(qln, "pause"), 0);
    EXPECT_TRUE(HeldInPause(port));
    EXPECT_EQ(status(), 151);
    EXPECT_EQ(Wine(qln, "resume"), 0);
    EXPECT_TRUE(RelayingWithin(port, 30000));
    EXPECT_EQ(Wine(qln, "pause"), 0);
    EXPECT_TRUE(HeldInPause(port));
    EXPECT_EQ(Wine(qln, "stop"), 0);
    EXPECT_TRUE(WaitFor([&] { return status() == 3; }, 30000));
    EXPECT_EQ(Wine(qln, "remove"), 0);
    EXPECT_EQ(Wine(qln, "stop"), -1) << "the service is gone";
}

// A further instance beside the default agent: each with its own UPS, INI
// file and port, installed, controlled and removed apart from the other.
TEST(AgentUnderWineServiceManager, AFurtherInstanceRelaysAndIsControlledApartFromTheDefault) {
    WinePrefix wine;  // ends the server and every Wine process of the prefix
    if (!wine.Missing().empty()) GTEST_SKIP() << wine.Missing();
    wine.Export();
    ASSERT_TRUE(HoldWinePrefix()) << "no persistent Wine server for " << wine.Path();

    SimulatedUps upsA, upsB;
    ASSERT_TRUE(upsA.Start());
    ASSERT_TRUE(upsB.Start());
    WineComPort comA(wine, upsA.SlavePath()), comB(wine, upsB.SlavePath());
    ASSERT_FALSE(comA.Name().empty());
    ASSERT_FALSE(comB.Name().empty());
    ScratchDir dir("e2e");
    for (const char* file : {"qln.exe", "Pellux_noDB.dll"}) {
        std::filesystem::copy_file(wine.Bin() + "/" + file, dir.Path() + "/" + file);
    }
    const uint16_t portA = FreeUdpPort();
    uint16_t portB = FreeUdpPort();
    ASSERT_TRUE(WaitFor([&] { return portB != portA || (portB = FreeUdpPort()) != portA; }, 5000));
    dir.Write("qln.ini", AgentIni(comA.Name(), portA));
    dir.Write("b.ini", AgentIni(comB.Name(), portB));
    const std::string qln = dir.Path() + "/qln.exe";
    const std::vector<std::string> b{"-n", "b"};
    auto onB = [&](const char* verb, std::string* out = nullptr) {
        std::vector<std::string> args(b);
        args.push_back(verb);
        return WineRun(qln, args, out);
    };
    // The default agent's status by its INI file: "status" alone lists
    // every agent of the host, the instance too.
    const std::string iniA = "Z:" + dir.Path() + "/qln.ini";
    auto status = [&] { return WineRun(qln, {"-c", iniA, "status"}) & 0xFF; };
    auto statusB = [&] { return onB("status") & 0xFF; };
    auto regQuery = [&](const std::string& key, std::string* out = nullptr) {
        return WineRun("reg", {"query", key}, out);
    };
    const std::string serviceKeyB = "HKLM\\System\\CurrentControlSet\\Services\\Ombrex Quillon b";
    const std::string sourceKeyB =
        "HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\Ombrex Quillon b";

    // Left installed by a run that was cut short.
    (void)onB("remove");
    (void)Wine(qln, "remove");
    struct Cleanup {
        std::function<void()> run;
        ~Cleanup() { run(); }
    } cleanup{[&] {
        onB("stop");
        onB("remove");
        Wine(qln, "stop");
        Wine(qln, "remove");
    }};

    // An instance without its INI file, and one installed twice, are refused
    // by name.
    std::string text;
    EXPECT_EQ(WineRun(qln, {"-n", "c", "install"}, &text), -1);
    EXPECT_NE(text.find("c.ini"), std::string::npos) << text;
    ASSERT_EQ(Wine(qln, "install"), 0);
    ASSERT_EQ(onB("install"), 0);
    EXPECT_EQ(onB("install", &text), -1);
    EXPECT_NE(text.find("Ombrex Quillon b"), std::string::npos) << text;
    // Its command line names it and its INI file by the absolute path.
    ASSERT_EQ(regQuery(serviceKeyB, &text), 0);
    EXPECT_NE(text.find("-n b -c \""), std::string::npos) << text;
    EXPECT_NE(text.find("\\b.ini\""), std::string::npos) << text;

    ASSERT_EQ(Wine(qln, "start"), 0);
    ASSERT_EQ(onB("start"), 0);
    ASSERT_TRUE(RelayingWithin(portA, kStartMs));
    ASSERT_TRUE(RelayingWithin(portB, kStartMs));
    EXPECT_TRUE(WaitFor([&] { return status() == 0 && statusB() == 0; }, 30000));
    // "status" alone: both, one line each.
    EXPECT_EQ(WineRun(qln, {"status"}, &text) & 0xFF, 0);
    EXPECT_NE(("\n" + text).find("\nb: "), std::string::npos) << text;
    EXPECT_NE(text.find("qln.ini: "), std::string::npos) << text;
    // Its own event source, registered at its start.
    EXPECT_EQ(regQuery(sourceKeyB), 0);

    // Each control reaches its own instance only.
    EXPECT_EQ(onB("pause"), 0);
    EXPECT_TRUE(HeldInPause(portB));
    EXPECT_TRUE(Answered(portA));
    EXPECT_EQ(onB("resume"), 0);
    EXPECT_TRUE(RelayingWithin(portB, 30000));
    EXPECT_EQ(Wine(qln, "stop"), 0);
    EXPECT_TRUE(WaitFor([&] { return status() == 3; }, 30000));
    EXPECT_TRUE(Answered(portB)) << "the instance stopped with the default";
    EXPECT_EQ(statusB(), 0);

    // Removing the default leaves the instance running, and the other way round.
    EXPECT_EQ(Wine(qln, "remove"), 0);
    EXPECT_EQ(Wine(qln, "stop"), -1) << "the default service is gone";
    EXPECT_TRUE(Answered(portB));
    EXPECT_EQ(onB("stop"), 0);
    EXPECT_TRUE(WaitFor([&] { return statusB() == 3; }, 30000));
    EXPECT_EQ(Wine(qln, "status") & 0xFF, 3) << "no agent runs on the host";
    EXPECT_EQ(onB("remove"), 0);
    EXPECT_EQ(onB("stop", &text), -1);
    EXPECT_NE(text.find("Ombrex Quillon b"), std::string::npos) << text;
    EXPECT_NE(regQuery(serviceKeyB), 0) << "the instance's service is left";
    EXPECT_NE(regQuery(sourceKeyB), 0) << "the instance's event source is left";
}

}  // namespace
