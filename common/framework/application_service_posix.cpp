// The service side of CApplication on Linux, on systemd.
//
// A service is a unit of the notify type that runs the program with no
// arguments. systemd starts it with NOTIFY_SOCKET set; without that the
// process was not started by the service manager and runs in the foreground.
// The main thread plays the dispatcher: it runs ServiceMain, then turns the
// signals that stand for the controls into ExternalServiceControl calls
// (both in application_service.cpp):
//   SIGTERM, SIGINT  stop    (systemctl stop)
//   SIGUSR1          pause   (the verb "pause": systemctl kill --signal=SIGUSR1)
//   SIGUSR2          continue
// Status reports become notification messages (READY=1 when running).
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/framework/application.h"
#include "platform/errors.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/systemd.h"

namespace {

std::string g_NotifySocket;

// Unit names take no blanks.
std::string UnitName(const std::string& appName) {
    std::string name;
    for (char c : appName) name += (c == ' ' || c == '/' || c == '\\') ? '-' : c;
    return name + ".service";
}

std::string UnitDir() {
    const char* dir = std::getenv("QLN_SYSTEMD_UNIT_DIR");
    return (dir && *dir) ? dir : plat::kSystemUnitDir;
}

// A failure with an error code of its own, as the default exception takes it.
[[noreturn]] void Fail(uint32_t code) {
    plat::SetLastError(code);
    throw new CAppException();
}

[[noreturn]] void Succeed(const char* message) {
    std::printf("%s\n", message);
    std::fflush(stdout);
    std::exit(0);
}

// A test's own unit folder stands for a running systemd.
bool SystemdIsRunning() {
    return std::getenv("QLN_SYSTEMD_UNIT_DIR") != nullptr || plat::SystemdIsRunning();
}

int Systemctl(std::vector<std::string> args) { return plat::Systemctl(std::move(args)); }

void MustSystemctl(const std::vector<std::string>& args) {
    int status = Systemctl(args);
    if (status == -1) Fail(plat::LastError() ? plat::LastError() : plat::kErrServiceNotConnected);
    if (status != 0) Fail(plat::kErrServiceSpecific);
}

// Empty when the program's path cannot stand in a unit.
std::string UnitText(const std::string& appName, const std::string& exe) {
    std::string execStart = plat::UnitExecStart(exe);
    if (execStart.empty()) return std::string();
    std::string description;
    for (char c : appName) description += (c == '\r' || c == '\n') ? ' ' : c;
    return "[Unit]\nDescription=" + description +
           "\n\n[Service]\nType=notify\nNotifyAccess=main\n" + execStart +
           "\n\n[Install]\nWantedBy=multi-user.target\n";
}

void Notify(const std::string& message) {
    if (!g_NotifySocket.empty()) plat::SendServiceNotify(g_NotifySocket, message);
}

std::thread* WorkerOf(CApplication* app) { return static_cast<std::thread*>(app->m_WorkerThread); }

}  // namespace

void CApplication::ServiceInstall(bool bInstall) {
    if (!SystemdIsRunning()) Fail(plat::kErrServiceNotConnected);
    std::string unit = UnitName(m_AppName);
    std::string path = UnitDir() + "/" + unit;
    if (bInstall) {
        std::string text = UnitText(m_AppName, plat::ModuleFileName());
        if (text.empty()) Fail(plat::kErrInvalidParameter);
        if (!plat::WriteNewUnitFile(path, text)) throw new CAppException();
        MustSystemctl({"daemon-reload"});
        if (m_bAutoStart) MustSystemctl({"enable", unit});
        Succeed("Service installed.");
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw new CAppException();
    if (m_bAutoStart) MustSystemctl({"disable", unit});
    if (::unlink(path.c_str()) != 0) throw new CAppException();
    MustSystemctl({"daemon-reload"});
    Succeed("Service removed.");
}

void CApplication::ServiceControl(int code) {
    if (!SystemdIsRunning()) Fail(plat::kErrServiceNotConnected);
    std::string unit = UnitName(m_AppName);
    switch (code) {
        case 1:
            MustSystemctl({"stop", unit});
            break;
        case 2:
            MustSystemctl({"kill", "--kill-who=main", "--signal=SIGUSR1", unit});
            break;
        case 3:
            MustSystemctl({"kill", "--kill-who=main", "--signal=SIGUSR2", unit});
            break;
        default:
            if (Systemctl({"start", unit}) != 0) MustSystemctl({"start", unit});
            break;
    }
    Succeed("Service control succeeded.");
}

bool CApplication::RunUnderServiceManager() {
    g_NotifySocket = plat::TakeNotifySocket();
    if (g_NotifySocket.empty()) {
        m_bRunAsService = false;
        return false;
    }
    // The controls arrive as signals; the worker inherits the mask, so only
    // this thread takes them, in sigwait.
    sigset_t controls;
    sigemptyset(&controls);
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) sigaddset(&controls, s);
    sigset_t saved;
    ::pthread_sigmask(SIG_BLOCK, &controls, &saved);
    ServiceMain(0, nullptr);
    while (m_ServiceStatus.dwCurrentState != plat::kServiceStopped) {
        int signal = 0;
        if (::sigwait(&controls, &signal) != 0) continue;
        ExternalServiceControl(signal == SIGUSR1   ? plat::kControlPause
                               : signal == SIGUSR2 ? plat::kControlContinue
                                                   : plat::kControlStop);
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return true;
}

bool CApplication::ConnectControlHandler() { return true; }

uint32_t CApplication::StartWorkerThread() {
    try {
        m_WorkerThread = new std::thread([] { ThreadMain(nullptr); });
    } catch (const std::system_error& e) {
        return static_cast<uint32_t>(e.code().value());
    }
    return 0;
}

// The event stays set until the worker takes it: nothing is lost between the
// signal and the wait.
void CApplication::SignalStopAndWaitForWorker() {
    m_StopEvent->Set();
    if (WorkerOf(this)->joinable()) WorkerOf(this)->join();
}

void CApplication::SetServiceStatus(uint32_t state) {
    m_ServiceStatus.dwCurrentState = state;
    switch (state) {
        case plat::kServiceRunning:
            Notify("READY=1\nSTATUS=Running");
            break;
        case plat::kServicePaused:
            Notify("STATUS=Paused");
            break;
        case plat::kServiceStopPending:
            Notify("STOPPING=1");
            break;
        case plat::kServiceStopped:
            Notify("STATUS=Stopped\nERRNO=" + std::to_string(m_ServiceStatus.dwWin32ExitCode));
            break;
        default:
            break;
    }
}

// The journal needs no registered source: entries carry their own name.
void CApplication::AddEventSource() {}

void CApplication::CloseWorkerThread() {
    std::thread* worker = static_cast<std::thread*>(m_WorkerThread);
    if (worker && worker->joinable()) worker->detach();
    delete worker;
    m_WorkerThread = nullptr;
}

void CApplication::CloseSpareHandle() { m_SpareHandle = nullptr; }

bool CApplication::StartSockets() { return true; }

void CApplication::EndSockets() {}
