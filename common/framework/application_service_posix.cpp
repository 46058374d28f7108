// The service side of CApplication on Linux, on systemd.
//
// A service is a unit of the notify type that runs the program with no
// arguments. systemd starts it with NOTIFY_SOCKET set; without that the
// process was not started by the service manager and runs in the foreground.
// The main thread plays the dispatcher: it runs ServiceMain, then turns the
// signals that stand for the controls into ExternalServiceControl calls:
//   SIGTERM, SIGINT  stop    (systemctl stop)
//   SIGUSR1          pause   (the verb "pause": systemctl kill --signal=SIGUSR1)
//   SIGUSR2          continue
// Status reports become notification messages (READY=1 when running).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/config/profile.h"
#include "common/framework/application.h"
#include "platform/errors.h"
#include "platform/event.h"
#include "platform/module.h"

extern char** environ;

namespace {

const char* const kUnitDir = "/etc/systemd/system";

// Service states and control codes, as the Win32 service manager numbers them.
constexpr uint32_t kStopped = 1, kStartPending = 2, kStopPending = 3, kRunning = 4, kPaused = 7;
constexpr unsigned long kControlStop = 1, kControlPause = 2, kControlContinue = 3;

std::string g_NotifySocket;

// Unit names take no blanks.
std::string UnitName(const std::string& appName) {
    std::string name;
    for (char c : appName) name += (c == ' ' || c == '/' || c == '\\') ? '-' : c;
    return name + ".service";
}

std::string UnitDir() {
    const char* dir = std::getenv("QLN_SYSTEMD_UNIT_DIR");
    return (dir && *dir) ? dir : kUnitDir;
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

bool SystemdIsRunning() {
    if (std::getenv("QLN_SYSTEMD_UNIT_DIR")) return true;  // a test's own unit folder
    struct stat st {};
    return ::stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs systemctl with `args` and waits for it. Its exit status, -1 when it
// could not be run.
int Systemctl(std::vector<std::string> args) {
    args.insert(args.begin(), "systemctl");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void MustSystemctl(const std::vector<std::string>& args) {
    int status = Systemctl(args);
    if (status == -1) Fail(plat::LastError() ? plat::LastError() : plat::kErrServiceNotConnected);
    if (status != 0) Fail(plat::kErrServiceSpecific);
}

std::string UnitText(const std::string& appName, const std::string& exe) {
    return "[Unit]\nDescription=" + appName +
           "\n\n[Service]\nType=notify\nNotifyAccess=main\nExecStart=" + exe +
           "\n\n[Install]\nWantedBy=multi-user.target\n";
}

void Notify(const std::string& message) {
    if (g_NotifySocket.empty()) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (g_NotifySocket.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, g_NotifySocket.data(), g_NotifySocket.size());
    if (address.sun_path[0] == '@') address.sun_path[0] = '\0';  // abstract name
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + g_NotifySocket.size());
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    ssize_t ignored = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                               reinterpret_cast<sockaddr*>(&address), length);
    (void)ignored;
    ::close(fd);
}

std::thread* WorkerOf(CApplication* app) { return static_cast<std::thread*>(app->m_WorkerThread); }

}  // namespace

void CApplication::ServiceInstall(bool bInstall) {
    if (!SystemdIsRunning()) Fail(plat::kErrServiceNotConnected);
    std::string unit = UnitName(m_AppName);
    std::string path = UnitDir() + "/" + unit;
    if (bInstall) {
        std::string exe = plat::ModuleFileName();
        if (exe.empty() || exe.find('\n') != std::string::npos) Fail(plat::kErrInvalidParameter);
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) Fail(EEXIST);
        std::string text = UnitText(m_AppName, exe);
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "w"), &std::fclose);
        if (!file) throw new CAppException();
        if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) {
            CAppException* failure = new CAppException();
            ::unlink(path.c_str());
            throw failure;
        }
        file.reset();
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
        case 1: MustSystemctl({"stop", unit}); break;
        case 2: MustSystemctl({"kill", "--kill-who=main", "--signal=SIGUSR1", unit}); break;
        case 3: MustSystemctl({"kill", "--kill-who=main", "--signal=SIGUSR2", unit}); break;
        default:
            if (Systemctl({"start", unit}) != 0) MustSystemctl({"start", unit});
            break;
    }
    Succeed("Service control succeeded.");
}

bool CApplication::RunUnderServiceManager() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (!socket || !*socket) {
        m_bRunAsService = false;
        return false;
    }
    g_NotifySocket = socket;
    ::unsetenv("NOTIFY_SOCKET");  // not for the children
    // The controls arrive as signals; the worker inherits the mask, so only
    // this thread takes them, in sigwait.
    sigset_t controls;
    sigemptyset(&controls);
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) sigaddset(&controls, s);
    sigset_t saved;
    ::pthread_sigmask(SIG_BLOCK, &controls, &saved);
    ServiceMain(0, nullptr);
    while (m_ServiceStatus.dwCurrentState != kStopped) {
        int signal = 0;
        if (::sigwait(&controls, &signal) != 0) continue;
        ExternalServiceControl(signal == SIGUSR1   ? kControlPause
                               : signal == SIGUSR2 ? kControlContinue
                                                   : kControlStop);
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return true;
}

void PELLUX_SYSTEM_CALL CApplication::ServiceMain(unsigned long /*argc*/, char** /*argv*/) {
    CAppException::SetLog(true);
    CApplication* app = m_pApp;
    if (!app) return;
    try {
        app->SetServiceStatus(kStartPending);
        auto makeEvent = []() -> plat::Event* {
            std::unique_ptr<plat::Event> event(new plat::Event());
            return event->IsValid() ? event.release() : nullptr;
        };
        app->m_PauseEvent = makeEvent();
        app->m_ContinueEvent = makeEvent();
        app->m_StopEvent = makeEvent();
        uint32_t error = plat::LastError();
        if (app->m_PauseEvent && app->m_ContinueEvent && app->m_StopEvent) {
            try {
                app->m_WorkerThread = new std::thread([] { ThreadMain(nullptr); });
            } catch (const std::system_error& e) {
                error = static_cast<uint32_t>(e.code().value());
            }
        }
        if (app->m_WorkerThread) {
            AddEventSource();
            app->SetServiceStatus(kRunning);
            return;
        }
        app->m_ServiceStatus.dwWin32ExitCode = error;
        app->m_ServiceStatus.dwServiceSpecificExitCode = 0xFFFFFFFF;
        app->SetServiceStatus(kStopped);
        throw new CAppException(static_cast<unsigned long>(error));
    } catch (CAppException* e) {
        std::unique_ptr<CAppException> owned(e);
        std::string baseDir = app->m_pAppProfile
                                  ? app->m_pAppProfile->GetString("Dynamic", "BaseDir", "", false)
                                  : std::string();
        owned->ReportToLog(baseDir.c_str());
    }
}

void CApplication::SetServiceStatus(uint32_t state) {
    m_ServiceStatus.dwCurrentState = state;
    switch (state) {
        case kRunning: Notify("READY=1\nSTATUS=Running"); break;
        case kPaused: Notify("STATUS=Paused"); break;
        case kStopPending: Notify("STOPPING=1"); break;
        case kStopped:
            Notify("STATUS=Stopped\nERRNO=" + std::to_string(m_ServiceStatus.dwWin32ExitCode));
            break;
        default: break;
    }
}

void PELLUX_SYSTEM_CALL CApplication::ExternalServiceControl(unsigned long code) {
    CApplication* app = m_pApp;
    if (!app) return;
    switch (code) {
        case kControlStop:
            if (app->m_StopEvent && WorkerOf(app)) {
                app->SetServiceStatus(kStopPending);
                app->CleanupSystem();
                // The event stays set until the worker takes it: nothing is
                // lost between the signal and the wait.
                app->m_StopEvent->Set();
                if (WorkerOf(app)->joinable()) WorkerOf(app)->join();
            }
            app->SetServiceStatus(kStopped);
            break;
        case kControlPause:
            if (app->m_PauseEvent) app->m_PauseEvent->Set();
            app->SetServiceStatus(kPaused);
            break;
        case kControlContinue:
            if (app->m_ContinueEvent) app->m_ContinueEvent->Set();
            app->SetServiceStatus(kRunning);
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
