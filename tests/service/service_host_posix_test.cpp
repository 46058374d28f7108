// The service host on systemd, in this process: the test plays systemd (it
// owns the notification socket and sends the control signals) and installs a
// worker of its own that it can hold before "UPS Found".
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "agent/agent_service.h"
#include "agent/qln_exception.h"
#include "agent/service_host.h"
#include "other_account_posix.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event.h"
#include "platform/systemd.h"
#include "service_test_util.h"

namespace {

std::atomic<int> g_passes{0};
std::atomic<bool> g_ended{false};
std::atomic<bool> g_failAtStart{false};
plat::Event* g_pGo = nullptr;
std::string g_workerLine;  // told to systemd before the worker is held, when set

int HeldWorker(void*) {
    if (g_failAtStart) return -1;
    if (!g_workerLine.empty()) TellServiceManager(g_workerLine);
    // Held like a worker that has not found its UPS yet; a stop still ends it.
    plat::Event* hold[] = {g_pGo, g_AgentService.m_pStopEvent.get()};
    if (plat::Event::WaitAny(hold, 2, plat::kInfinite) == 1) {
        g_ended = true;
        return 0;
    }
    plat::SignalNamedEvent(AgentEventName(kUpsFoundEvent));
    while (g_AgentService.KeepRunning()) {
        ++g_passes;
        plat::SleepMs(2);
    }
    g_ended = true;
    return 0;
}

// Plays systemd: a private event folder, the notification socket, and the
// host running on a thread of its own.
class SystemdHost : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/qln-svc-testXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_Dir = dir;
        setenv("QLN_EVENT_DIR", m_Dir.c_str(), 1);
        m_Socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::string path = m_Dir + "/notify";
        strcpy(a.sun_path, path.c_str());
        ASSERT_EQ(bind(m_Socket, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        setenv("NOTIFY_SOCKET", path.c_str(), 1);
        g_passes = 0;
        g_ended = false;
        g_failAtStart = false;
        g_workerLine.clear();
        g_AgentService.m_Instance.clear();
        m_Go.reset(new plat::Event());
        g_pGo = m_Go.get();
        g_AgentService.m_bServiceMode = true;
        g_AgentService.m_pWorker = HeldWorker;
    }
    void TearDown() override {
        if (m_Host.joinable()) {
            if (!m_Returned) kill(getpid(), SIGTERM);
            m_Host.join();
        }
        g_bEventLogReporting = false;
        g_AgentService.m_Instance.clear();
        close(m_Socket);
        std::string cleanup = "rm -rf '" + m_Dir + "'";
        EXPECT_EQ(system(cleanup.c_str()), 0);
    }

    void StartHost() {
        m_Host = std::thread([this] {
            m_Result = RunServiceDispatcher();
            m_Returned = true;
        });
        ASSERT_TRUE(Expect("STATUS=Looking for the UPS"));
    }
    // Next notification, or "" when none came within `ms`.
    std::string Next(int ms) {
        pollfd p{m_Socket, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return "";
        char buffer[512];
        ssize_t n = recv(m_Socket, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
    }
    // Reads notifications until one holds `text`; everything read is kept.
    bool Expect(const std::string& text) {
        for (;;) {
            std::string m = Next(20000);
            if (m.empty()) return false;
            m_Seen += m + "|";
            if (m.find(text) != std::string::npos) return true;
        }
    }
    static bool WorkerHalts() {
        int last = -1;
        return WaitFor(
            [&last] {
                int now = g_passes;
                if (now == last) return true;
                last = now;
                plat::SleepMs(100);
                return false;
            },
            kServiceWaitMs);
    }
    static bool PassesReach(int n) {
        return WaitFor([n] { return g_passes >= n; }, kServiceWaitMs);
    }

    std::string m_Dir;
    int m_Socket = -1;
    std::unique_ptr<plat::Event> m_Go;
    std::thread m_Host;
    std::atomic<bool> m_Returned{false};
    uint32_t m_Result = 99;
    std::string m_Seen;
};

TEST_F(SystemdHost, WithoutANotifySocketTheAgentRunsInTheForeground) {
    unsetenv("NOTIFY_SOCKET");
    EXPECT_EQ(RunServiceDispatcher(), plat::kErrServiceNotConnected);
    EXPECT_EQ(g_passes, 0);
}

TEST_F(SystemdHost, ReadyIsSentOnceUpsFoundAndStopEndsTheWorker) {
    StartHost();
    // Held before "UPS Found": whatever came so far says nothing of readiness.
    EXPECT_EQ(Next(0).find("READY=1"), std::string::npos);
    EXPECT_EQ(getenv("NOTIFY_SOCKET"), nullptr) << "no child inherits the socket";
    EXPECT_TRUE(FileExists(m_Dir + "/UPS_Found"));
    m_Go->Set();
    ASSERT_TRUE(Expect("READY=1"));
    EXPECT_EQ(g_AgentService.m_Status.dwCurrentState, plat::kServiceRunning);
    ASSERT_TRUE(PassesReach(3));
    // The start is over: its named events are gone from the folder.
    EXPECT_FALSE(FileExists(m_Dir + "/UPS_Found"));
    EXPECT_FALSE(FileExists(m_Dir + "/UPS_Find_Failed"));

    kill(getpid(), SIGTERM);
    ASSERT_TRUE(Expect("STOPPING=1"));
    m_Host.join();
    EXPECT_EQ(m_Result, 0u);
    EXPECT_TRUE(g_ended) << "the host returned before the worker ended";
    EXPECT_EQ(g_AgentService.m_Status.dwCurrentState, plat::kServiceStopped);
    EXPECT_EQ(m_Seen.find("READY=1"), m_Seen.rfind("READY=1")) << "ready once: " << m_Seen;
}

TEST_F(SystemdHost, PauseAndContinueSignalsFollowTheServiceRules) {
    StartHost();
    m_Go->Set();
    ASSERT_TRUE(Expect("READY=1"));
    ASSERT_TRUE(PassesReach(1));

    // Pause twice, continue once: the second pause is still pending, and the
    // worker pauses again after one pass.
    kill(getpid(), SIGUSR1);
    ASSERT_TRUE(Expect("STATUS=Paused"));
    ASSERT_TRUE(WorkerHalts());
    int halted = g_passes;
    kill(getpid(), SIGUSR1);
    ASSERT_TRUE(Expect("STATUS=Paused"));
    kill(getpid(), SIGUSR2);
    ASSERT_TRUE(Expect("STATUS=Running"));
    ASSERT_TRUE(WorkerHalts());
    EXPECT_EQ(g_passes, halted + 1);

    // Continue while running stays pending: the next pause passes through.
    kill(getpid(), SIGUSR2);
    ASSERT_TRUE(PassesReach(halted + 3));
    kill(getpid(), SIGUSR2);
    ASSERT_TRUE(Expect("STATUS=Running"));
    kill(getpid(), SIGUSR1);
    ASSERT_TRUE(Expect("STATUS=Paused"));
    int paused = g_passes;
    EXPECT_TRUE(PassesReach(paused + 20)) << "the pending continue ends the pause at once";

    // A pause that holds, then stop: the worker ends from inside its pause.
    kill(getpid(), SIGUSR1);
    ASSERT_TRUE(Expect("STATUS=Paused"));
    ASSERT_TRUE(WorkerHalts());
    EXPECT_FALSE(g_ended);
    kill(getpid(), SIGTERM);
    ASSERT_TRUE(Expect("STOPPING=1"));
    m_Host.join();
    EXPECT_TRUE(g_ended);
}

TEST_F(SystemdHost, AWorkerThatEndsBeforeUpsFoundFailsTheStart) {
    g_failAtStart = true;
    StartHost();
    ASSERT_TRUE(Expect("STOPPING=1"));
    m_Host.join();
    EXPECT_EQ(m_Seen.find("READY=1"), std::string::npos);
    EXPECT_EQ(g_AgentService.m_Status.dwWin32ExitCode, plat::kErrServiceSpecific);
    EXPECT_EQ(g_AgentService.m_Status.dwServiceSpecificExitCode, 0xFFFFFFFFu);
}

// Before: the host took a folder that another account made first, and a byte
// planted in its "UPS_Find_Failed" stopped the service. Named events that
// cannot be had now fail the start at once, before the worker runs, with the
// refusal as the exit code; the planted byte stays where it is.
TEST_F(SystemdHost, NamedEventsInAFolderOfAnotherAccountFailTheStart) {
    std::string missing = OtherAccountMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    ASSERT_EQ(chmod(m_Dir.c_str(), 0711), 0);
    std::string folder = MakeNobodysFolder(m_Dir + "/theirs");
    ASSERT_FALSE(folder.empty());
    std::string fifo = folder + "/UPS_Find_Failed";
    int fd = -1;
    NobodyBeside planter([&fifo, &fd] { return PlantSignalledFifo(fifo, fd); },
                         [&fd] { return PlantedByteIsThere(fd); });
    ASSERT_TRUE(planter.Ready());
    setenv("QLN_EVENT_DIR", folder.c_str(), 1);
    m_Host = std::thread([this] {
        m_Result = RunServiceDispatcher();
        m_Returned = true;
    });
    ASSERT_TRUE(Expect("STOPPING=1"));
    m_Host.join();
    EXPECT_EQ(m_Seen.find("READY=1"), std::string::npos);
    EXPECT_EQ(g_AgentService.m_Status.dwWin32ExitCode, plat::kErrAccessDenied);
    EXPECT_EQ(g_passes, 0);
    EXPECT_FALSE(g_ended) << "the worker never ran";
    EXPECT_EQ(planter.Finish(), 0) << "the planted byte was taken";
}

TEST_F(SystemdHost, UpsFindFailedStopsTheService) {
    StartHost();
    plat::SignalNamedEvent("UPS Find Failed");
    ASSERT_TRUE(Expect("STOPPING=1"));
    m_Host.join();
    EXPECT_TRUE(g_ended) << "the worker is asked to stop";
    EXPECT_EQ(m_Seen.find("READY=1"), std::string::npos);
    EXPECT_EQ(g_AgentService.m_Status.dwWin32ExitCode, plat::kErrServiceSpecific);
}

// Before: READY=1 and a continue came with "STATUS=Running", which stood
// over the worker's own line (the worker only sends it again when it
// changes). Every state the host reports now carries the worker's last line.
TEST_F(SystemdHost, TheWorkersLineStandsOverEveryStateTheHostReports) {
    g_workerLine = "Looking for the UPS on /dev/ttyUSB0; 0 answered, 0 refused, 0 timed out";
    StartHost();
    m_Go->Set();
    ASSERT_TRUE(Expect("READY=1\nSTATUS=" + g_workerLine));
    kill(getpid(), SIGUSR1);
    ASSERT_TRUE(WorkerHalts());
    kill(getpid(), SIGUSR2);
    ASSERT_TRUE(PassesReach(g_passes + 2));
    kill(getpid(), SIGTERM);
    ASSERT_TRUE(Expect("STOPPING=1\nSTATUS=" + g_workerLine));
    m_Host.join();
    for (const char* host : {"STATUS=Running", "STATUS=Paused", "STATUS=Stopped"}) {
        EXPECT_EQ(m_Seen.find(host), std::string::npos) << host << " in " << m_Seen;
    }
}

// Before: the notification was a blocking send, and with the manager's
// queue full (10 datagrams on this kernel) the sender waited until the
// manager read. Now a full queue returns at once with false.
TEST_F(SystemdHost, ANotificationNeverWaitsForTheManager) {
    std::string path = m_Dir + "/notify";
    std::atomic<int> refused{0};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        for (int i = 0; i < 100; ++i) {
            if (!plat::SendServiceNotify(path, "STATUS=" + std::to_string(i))) ++refused;
        }
        done = true;
    });
    bool returned = WaitFor([&] { return done.load(); }, 5000);
    // Unblocks a sender that waits, so that the test ends either way.
    while (!done) Next(50);
    sender.join();
    EXPECT_TRUE(returned) << "a send waited for the manager to read";
    EXPECT_GT(refused, 0) << "nothing was refused although nobody read";
}

// Two agents of one account, on different INI files, each have their own
// events: before, both used "UPS_Found" and "UPS_Find_Failed", and another
// agent's failed start ended this one's. The installed service (no INI file
// given) keeps the plain names.
TEST_F(SystemdHost, NamedEventsBelongToTheAgentsInstance) {
    EXPECT_EQ(AgentInstance("/etc/qln/qln.ini", false), "");
    const std::string a = AgentInstance("/etc/qln/a.ini", true);
    EXPECT_EQ(a.size(), 16u);
    EXPECT_NE(a, AgentInstance("/etc/qln/b.ini", true));
    EXPECT_EQ(a, AgentInstance("/etc/qln/a.ini", true)) << "stable";
    EXPECT_EQ(AgentInstance("/etc/qln/a.ini", true).find(' '), std::string::npos);

    g_AgentService.m_Instance = a;
    StartHost();
    EXPECT_TRUE(FileExists(m_Dir + "/UPS_Found_" + a));
    EXPECT_FALSE(FileExists(m_Dir + "/UPS_Found"));
    plat::SignalNamedEvent("UPS Find Failed");  // the plain agent's, not this one's
    m_Go->Set();
    ASSERT_TRUE(Expect("READY=1"));
    EXPECT_EQ(m_Seen.find("STOPPING=1"), std::string::npos) << m_Seen;
    kill(getpid(), SIGTERM);
    ASSERT_TRUE(Expect("STOPPING=1"));
    m_Host.join();
    EXPECT_EQ(g_AgentService.m_Status.dwWin32ExitCode, 0u);
}

}  // namespace
