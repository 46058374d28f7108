// The service host under Wine's service control manager: verbs, the service
// main's start-up, the control handler, and the event source it registers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/agent_service.h"
#include "agent/service_control.h"
#include "child_process.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/windows_wrapper.h"
#include "scm_util_win32.h"
#include "service_test_util.h"

namespace {

std::string Bin(const char* name) { return plat::ReplaceFileName(BinPath("qln"), name); }

class ServiceHost : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveLeftovers();
        for (const char* f : {"testsvc.log", "testsvc.hold", "testsvc.fail"})
            DeleteFileA(Bin(f).c_str());
    }
    void TearDown() override { RemoveLeftovers(); }

    static std::string Log() { return ReadBytes(Bin("testsvc.log")); }
    static int Passes() { return CountLines(Log(), "pass"); }
    static bool LogHas(const char* word) {
        return WaitFor([word] { return CountLines(Log(), word) > 0; }, kServiceWaitMs);
    }
    // Waits until the worker makes no pass for 300 ms: it sits in its pause.
    static bool WorkerHalts() {
        int last = -1;
        return WaitFor(
            [&last] {
                int now = Passes();
                if (now != last) {
                    last = now;
                    plat::SleepMs(300);
                    return Passes() == now;
                }
                return false;
            },
            kServiceWaitMs);
    }
    static bool PassesReach(int n) {
        return WaitFor([n] { return Passes() >= n; }, kServiceWaitMs);
    }
    static void Verb(const char* program, const char* verb, const char* expectOut) {
        ProgramResult r = RunProgram(program, {verb});
        EXPECT_EQ(r.exitCode, 0) << verb << ": " << r.err;
        EXPECT_EQ(Lf(r.out), std::string(expectOut) + "\n") << verb;
    }
    static void InstallTestService() { Verb("qln_testsvc", "install", "Service installed."); }
};

TEST_F(ServiceHost, VerbsAgainstAMissingServiceFailWithTheSystemsText) {
    for (const char* verb : {"remove", "start", "stop", "pause", "resume"}) {
        ProgramResult r = RunProgram("qln", {verb});
        EXPECT_EQ(r.exitCode, -1) << verb;
        EXPECT_EQ(r.err, SystemText(ERROR_SERVICE_DOES_NOT_EXIST)) << verb;
        EXPECT_EQ(r.out, "") << verb;
    }
}

TEST_F(ServiceHost, InstallCreatesTheServiceOnceAndRemoveDeletesIt) {
    Verb("qln", "install", "Service installed.");
    ProgramResult again = RunProgram("qln", {"install"});
    EXPECT_EQ(again.exitCode, -1);
    EXPECT_EQ(again.err, SystemText(ERROR_SERVICE_EXISTS));
    EXPECT_EQ(again.out, "");

    {
        Sc m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        Sc svc(OpenServiceA(m.h, kName, SERVICE_QUERY_CONFIG));
        ASSERT_NE(svc.h, nullptr);
        DWORD need = 0;
        QueryServiceConfigA(svc.h, nullptr, 0, &need);
        std::vector<char> block(need);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(block.data());
        ASSERT_TRUE(QueryServiceConfigA(svc.h, config, need, &need));
        // The quoted image path, no arguments: the INI beside the program is used.
        EXPECT_EQ(std::string(config->lpBinaryPathName), "\"" + BinPath("qln") + "\"");
        EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
        EXPECT_EQ(std::string(config->lpDisplayName), kName);
    }

    // The dependency list as the manager stores it (its configuration query
    // under Wine leaves it out): "PlugPlay" first.
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Ombrex Quillon", 0,
                      KEY_READ, &key),
        ERROR_SUCCESS);
    char deps[64] = {0};
    DWORD type = 0, size = sizeof deps;
    EXPECT_EQ(RegQueryValueExA(key, "DependOnService", nullptr, &type,
                               reinterpret_cast<BYTE*>(deps), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(std::string(deps), "PlugPlay");

    Verb("qln", "remove", "Service removed.");
    EXPECT_FALSE(Installed());
    ProgramResult gone = RunProgram("qln", {"remove"});
    EXPECT_EQ(gone.exitCode, -1);
    EXPECT_EQ(gone.err, SystemText(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServiceHost, StartRunsTheWorkerAndRegistersTheEventSource) {
    InstallTestService();
    Verb("qln", "start", "Service control succeeded.");
    EXPECT_TRUE(WaitState(SERVICE_RUNNING));
    EXPECT_TRUE(PassesReach(2));

    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Ombrex Quillon",
                      0, KEY_READ, &key),
        ERROR_SUCCESS);
    char file[MAX_PATH + 1] = {0};
    DWORD type = 0, size = MAX_PATH;
    EXPECT_EQ(RegQueryValueExA(key, "EventMessageFile", nullptr, &type,
                               reinterpret_cast<BYTE*>(file), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(size, strlen(file) + 1) << "stored with its terminating zero";
    // The library beside the program, not in the service's current directory
    // (the system folder), where the event viewer would find no texts.
    EXPECT_STRCASEEQ(file, Bin("Pellux_noDB.dll").c_str());
    DWORD types = 0;
    size = sizeof types;
    EXPECT_EQ(RegQueryValueExA(key, "TypesSupported", nullptr, &type,
                               reinterpret_cast<BYTE*>(&types), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(types, 7u);
    RegCloseKey(key);

    Verb("qln", "stop", "Service control succeeded.");
    EXPECT_TRUE(WaitState(SERVICE_STOPPED));
    EXPECT_TRUE(LogHas("ended"));
    EXPECT_EQ(Status().dwWin32ExitCode, 0u);
}

TEST_F(ServiceHost, StartParametersKeepTheStartPendingUntilUpsFound) {
    InstallTestService();
    WriteBytes(Bin("testsvc.hold"), "");

    // Without parameters the service reports running at once, UPS or not.
    ASSERT_EQ(StartWithParameters({}), 0u);
    ASSERT_TRUE(LogHas("holding"));
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    plat::SignalNamedEvent("Qln Test Go");
    ASSERT_TRUE(LogHas("found"));
    Verb("qln", "stop", "Service control succeeded.");
    ASSERT_TRUE(WaitState(SERVICE_STOPPED));

    DeleteFileA(Bin("testsvc.log").c_str());
    ASSERT_EQ(StartWithParameters({"fast"}), 0u);
    ASSERT_TRUE(LogHas("holding"));
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    plat::SignalNamedEvent("Qln Test Go");
    EXPECT_TRUE(WaitState(SERVICE_RUNNING));
    EXPECT_TRUE(PassesReach(1));
}

TEST_F(ServiceHost, AWorkerThatEndsBeforeUpsFoundStopsTheService) {
    InstallTestService();
    WriteBytes(Bin("testsvc.fail"), "");
    ASSERT_EQ(StartWithParameters({"fast"}), 0u);
    ASSERT_TRUE(WaitState(SERVICE_STOPPED));
    SERVICE_STATUS s = Status();
    EXPECT_EQ(s.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(s.dwServiceSpecificExitCode, 0xFFFFFFFFu);
}

TEST_F(ServiceHost, PauseContinueAndStopReachTheWorkerAtItsNextPass) {
    InstallTestService();
    Verb("qln", "start", "Service control succeeded.");
    ASSERT_TRUE(PassesReach(1));

    // Pause twice, continue once: the second pause is still pending, so the
    // worker pauses again at its next pass while the service says running.
    Verb("qln", "pause", "Service control succeeded.");
    EXPECT_TRUE(WaitState(SERVICE_PAUSED));
    ASSERT_TRUE(WorkerHalts());
    Verb("qln", "pause", "Service control succeeded.");
    int halted = Passes();
    Verb("qln", "resume", "Service control succeeded.");
    EXPECT_TRUE(WaitState(SERVICE_RUNNING));
    ASSERT_TRUE(WorkerHalts());
    EXPECT_EQ(Passes(), halted + 1);
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    // Continue while running leaves the continue pending: the next pause
    // passes straight through, although the service reports paused.
    Verb("qln", "resume", "Service control succeeded.");
    ASSERT_TRUE(PassesReach(halted + 3));
    Verb("qln", "resume", "Service control succeeded.");
    Verb("qln", "pause", "Service control succeeded.");
    EXPECT_TRUE(WaitState(SERVICE_PAUSED));
    int paused = Passes();
    EXPECT_TRUE(PassesReach(paused + 5)) << "the pending continue ends the pause at once";

    // A pause that holds, then stop: the worker ends from inside its pause.
    Verb("qln", "pause", "Service control succeeded.");
    ASSERT_TRUE(WorkerHalts());
    Verb("qln", "stop", "Service control succeeded.");
    EXPECT_TRUE(WaitState(SERVICE_STOPPED));
    EXPECT_TRUE(LogHas("ended"));
    EXPECT_EQ(CountLines(Log(), "ended"), 1);
}

// The service manager sends shutdown only while the system goes down, so the
// handler is driven directly here, as the dispatcher would call it.
int LoopUntilStopped(void*) {
    while (g_AgentService.KeepRunning()) plat::SleepMs(5);
    return 7;
}

DWORD WINAPI LoopThread(LPVOID) { return static_cast<DWORD>(LoopUntilStopped(nullptr)); }

TEST(ServiceControlHandler, ShutdownActsAsStopAndWaitsForTheWorker) {
    for (uint32_t control : {plat::kControlShutdown, plat::kControlStop}) {
        AgentService& s = g_AgentService;
        s.m_bServiceMode = true;
        s.m_pPauseEvent.reset(new plat::Event());
        s.m_pContinueEvent.reset(new plat::Event());
        s.m_pStopEvent.reset(new plat::Event());
        HANDLE thread = CreateThread(nullptr, 0, LoopThread, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        s.m_hWorkerThread = thread;

        // Paused first: the stop must end the worker from inside its pause.
        HandleServiceControl(plat::kControlPause);
        EXPECT_EQ(s.m_Status.dwCurrentState, plat::kServicePaused);
        HandleServiceControl(plat::kControlInterrogate);
        EXPECT_EQ(s.m_Status.dwCurrentState, plat::kServicePaused);
        HandleServiceControl(control);
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0)
            << "returned before the worker ended";
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        EXPECT_EQ(code, 7u);
        EXPECT_EQ(s.m_Status.dwCurrentState, plat::kServiceStopped);
        CloseHandle(thread);
        s.m_hWorkerThread = nullptr;
    }
    // Without a worker (a control before the service main made one) the
    // handler still answers and does not block.
    HandleServiceControl(plat::kControlStop);
    EXPECT_EQ(g_AgentService.m_Status.dwCurrentState, plat::kServiceStopped);
}

}  // namespace
