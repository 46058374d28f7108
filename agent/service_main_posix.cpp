// The agent under systemd. systemd starts the agent with NOTIFY_SOCKET set
// (the unit is of the notify type); that is how the process knows it runs as
// a service. Without it the dispatcher reports that no service manager started
// the process, and the agent runs in the foreground.
//
// The main thread plays the dispatcher and the service main in one: it starts
// the worker, tells systemd READY=1 once the worker signals "UPS Found", and
// turns the signals that stand for the service controls into the same handler
// calls the Win32 dispatcher makes:
//   SIGTERM, SIGINT  stop      (systemd sends SIGTERM for stop and at shutdown)
//   SIGHUP           stop      (the agent cannot reload; a hang-up must not end
//                               it without the stop's clean-up)
//   SIGUSR1          pause
//   SIGUSR2          continue
// The signal handler only writes the control code into a pipe, which is safe
// in a handler; everything else runs on the main thread.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "agent/agent_service.h"
#include "agent/qln_exception.h"
#include "agent/service_control.h"
#include "agent/service_host.h"
#include "platform/errors.h"
#include "platform/event.h"
#include "platform/scoped_handle.h"
#include "platform/systemd.h"

namespace {

const int kControlSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2};

volatile sig_atomic_t g_controlWriteFd = -1;
std::string g_notifySocket;
std::unique_ptr<std::thread> g_pWorkerThread;
int g_workerResult = 0;

// The worker's last status line ("" before its first), and the lock that
// keeps each datagram's text the latest: whoever sends last sends the line
// the file says, so no state the host reports can stand over it.
std::mutex g_lineLock;
std::string g_statusLine;

// Tells systemd `head` (READY=1, STOPPING=1, or nothing) with the worker's
// line; the host's own word for the state only while the worker has none.
void NotifyState(const char* head, const char* fallback) {
    std::lock_guard<std::mutex> hold(g_lineLock);
    std::string message = head;
    if (!message.empty()) message += "\n";
    message += "STATUS=" + (g_statusLine.empty() ? std::string(fallback) : g_statusLine);
    plat::SendServiceNotify(g_notifySocket, message);
}

void OnControlSignal(int signal) {
    int saved = errno;
    unsigned char code = signal == SIGUSR1   ? plat::kControlPause
                         : signal == SIGUSR2 ? plat::kControlContinue
                                             : plat::kControlStop;
    int fd = g_controlWriteFd;
    if (fd >= 0) {
        ssize_t ignored = ::write(fd, &code, 1);
        (void)ignored;
    }
    errno = saved;
}

// Installs the control signals' handler for the life of the host and puts
// back what was there before.
class ControlSignals {
public:
    explicit ControlSignals(int writeFd) {
        g_controlWriteFd = writeFd;
        struct sigaction action {};
        action.sa_handler = OnControlSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (size_t i = 0; i < kCount; ++i) ::sigaction(kControlSignals[i], &action, &m_Saved[i]);
    }
    ~ControlSignals() {
        for (size_t i = 0; i < kCount; ++i) ::sigaction(kControlSignals[i], &m_Saved[i], nullptr);
        g_controlWriteFd = -1;
    }

private:
    static constexpr size_t kCount = sizeof kControlSignals / sizeof kControlSignals[0];
    struct sigaction m_Saved[kCount];
};

// Creates the three events and starts the worker thread, which sets `ended`
// when the worker routine returns. Returns 0 or the error that stopped it.
uint32_t CreateEventsAndWorker(const std::shared_ptr<plat::Event>& ended) {
    AgentService& service = g_AgentService;
    uint32_t error = CreateControlEvents();
    if (error != 0) return error;
    try {
        WorkerRoutine worker = service.m_pWorker;
        AgentService* handed = &service;
        // The thread shares `ended`: a worker let go at the end still has it.
        g_pWorkerThread.reset(new std::thread([worker, handed, ended] {
            g_workerResult = worker(handed);
            ended->Set();
        }));
    } catch (const std::system_error& e) {
        return static_cast<uint32_t>(e.code().value());
    }
    service.m_hWorkerThread = g_pWorkerThread.get();
    return 0;
}

// Lets go of a worker that is still running when the host returns: it ends
// with the process, as it does under the Win32 dispatcher.
void ReleaseWorkerThread() {
    if (g_pWorkerThread && g_pWorkerThread->joinable()) g_pWorkerThread->detach();
    g_pWorkerThread.reset();
    g_AgentService.m_hWorkerThread = nullptr;
}

// Reads the control codes that the signal handler queued; true once a stop
// has been handled (the worker has ended then).
bool HandleQueuedControls(int readFd) {
    unsigned char codes[64];
    ssize_t n;
    while ((n = ::read(readFd, codes, sizeof codes)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            HandleServiceControl(codes[i]);
            if (codes[i] == plat::kControlStop) return true;
        }
    }
    return false;
}

uint32_t RunUnderSystemd() {
    AgentService& service = g_AgentService;
    g_bEventLogReporting = true;
    service.m_Status.dwWin32ExitCode = 0;
    service.m_Status.dwServiceSpecificExitCode = 0;
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        FailStart(plat::LastError());
        return 0;
    }
    plat::ScopedFd controlRead(ends[0]);
    plat::ScopedFd controlWrite(ends[1]);
    ControlSignals signals(controlWrite.Get());
    // Both named events are held before the worker runs, so that its signal
    // reaches this wait. Without them the start could never complete: it
    // fails at once, with the reason in the log.
    std::unique_ptr<plat::Event> found(new plat::Event(AgentEventName(kUpsFoundEvent)));
    std::unique_ptr<plat::Event> findFailed(new plat::Event(AgentEventName(kUpsFindFailedEvent)));
    if (FailStartWithoutNamedEvents(*found, *findFailed)) return 0;
    // systemd knows no start parameters: the start always completes once the
    // UPS is found, which is what READY=1 tells it.
    SetServiceState(plat::kServiceStartPending);

    std::shared_ptr<plat::Event> ended(new plat::Event());
    uint32_t error = CreateEventsAndWorker(ended);
    if (error != 0) {
        FailStart(error);
        ReleaseWorkerThread();
        return 0;
    }

    auto fdOf = [](const plat::Event& e) {
        return static_cast<int>(reinterpret_cast<intptr_t>(e.NativeHandle()));
    };
    bool workerEnded = false;
    for (;;) {
        std::vector<pollfd> fds{{controlRead.Get(), POLLIN, 0}};
        if (found) {
            fds.push_back({fdOf(*found), POLLIN, 0});
            fds.push_back({fdOf(*findFailed), POLLIN, 0});
        }
        if (!workerEnded) fds.push_back({fdOf(*ended), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;

        if (HandleQueuedControls(controlRead.Get())) break;
        if (found && found->TryConsume()) {
            service.m_Status.dwCurrentState = plat::kServiceRunning;
            NotifyState("READY=1", "Running");
            // The start is over: the named events are let go, as the Win32
            // service main does when it returns.
            found.reset();
            findFailed.reset();
        } else if (found && findFailed->TryConsume()) {
            // Unlike the Win32 host, the worker is asked to stop: a detached
            // worker must not outlive the objects it uses at process end.
            if (service.m_pStopEvent) service.m_pStopEvent->Set();
            workerEnded = ended->Wait(kFindFailedWorkerWaitMs);
            StopWithError(plat::kErrServiceSpecific, 0xFFFFFFFFu);
            break;
        }
        if (!workerEnded && ended->TryConsume()) {
            workerEnded = true;
            // A worker that ends before the UPS was found leaves nothing
            // running: the start has failed. After it, the service stays in
            // its state until it is stopped, as under Win32.
            if (found) {
                StopWithError(plat::kErrServiceSpecific, static_cast<uint32_t>(g_workerResult));
                break;
            }
        }
    }
    if (workerEnded && g_pWorkerThread && g_pWorkerThread->joinable()) g_pWorkerThread->join();
    ReleaseWorkerThread();
    return 0;
}

}  // namespace

void SignalStopAndWaitForWorker() {
    AgentService& service = g_AgentService;
    if (!service.m_pStopEvent || !g_pWorkerThread) return;
    service.m_pStopEvent->Set();
    if (g_pWorkerThread->joinable()) g_pWorkerThread->join();
}

void SetServiceState(uint32_t state) {
    g_AgentService.m_Status.dwCurrentState = state;
    // READY=1 goes once the UPS is found, from the host's loop.
    switch (state) {
        case plat::kServiceStartPending:
            NotifyState("", "Looking for the UPS");
            break;
        case plat::kServiceRunning:
            NotifyState("", "Running");
            break;
        case plat::kServicePaused:
            NotifyState("", "Paused");
            break;
        case plat::kServiceStopped:
            NotifyState("STOPPING=1", "Stopped");
            break;
        default:
            break;
    }
}

// g_notifySocket is set before the worker starts and never changes after.
// The host's next notification carries the line even when this one was
// not taken; the worker tries it again at its next update.
bool TellServiceManager(const std::string& statusLine) {
    if (g_notifySocket.empty()) return true;
    std::lock_guard<std::mutex> hold(g_lineLock);
    g_statusLine = statusLine;
    return plat::SendServiceNotify(g_notifySocket, "STATUS=" + statusLine);
}

int ServiceProcessExitStatus() { return g_AgentService.m_Status.dwWin32ExitCode != 0 ? 1 : 0; }

uint32_t RunServiceDispatcher() {
    g_notifySocket = plat::TakeNotifySocket();
    if (g_notifySocket.empty()) return plat::kErrServiceNotConnected;
    {
        std::lock_guard<std::mutex> hold(g_lineLock);
        g_statusLine.clear();
    }
    return RunUnderSystemd();
}
