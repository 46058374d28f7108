// The agent under the service control manager: the dispatcher connection, the
// service main, and the platform side of the control handler.
#include <memory>
#include <string>

#include "agent/agent_service.h"
#include "agent/instance_names.h"
#include "agent/qln_exception.h"
#include "agent/service_control.h"
#include "agent/service_host.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/product_names.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"

static_assert(sizeof(plat::ServiceStatus) == sizeof(SERVICE_STATUS),
              "the status record is submitted to the service manager as it stands");

namespace {

// Each service registers its own source, named as the service is, so that
// the entries of two instances are told apart. The event viewer forms an
// entry's text from this message file: the library beside the program. A
// service starts in the system folder, so a name
// resolved against the current directory would point where no library is,
// and every entry would lose its text (and an installed package's own value
// would be overwritten with that at each start).
void RegisterEventSourceKey() {
    plat::ScopedKey key;
    const std::string sourceKey = EventSourceKey(g_AgentService.m_ServiceName);
    if (::RegCreateKeyA(HKEY_LOCAL_MACHINE, sourceKey.c_str(), key.Receive()) != ERROR_SUCCESS)
        return;
    const std::string exe = plat::ModuleFileName();
    if (!exe.empty()) {
        const std::string path = plat::ReplaceFileName(exe, "Pellux_noDB.dll");
        ::RegSetValueExA(key.Get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                         reinterpret_cast<const BYTE*>(path.c_str()),
                         static_cast<DWORD>(path.size() + 1));
    }
    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    ::RegSetValueExA(key.Get(), "TypesSupported", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&types), sizeof types);
}

// Thread entries use the system's calling convention; the worker routine the
// entry recorded does not.
DWORD WINAPI WorkerThreadEntry(LPVOID argument) {
    return static_cast<DWORD>(g_AgentService.m_pWorker(argument));
}

VOID WINAPI ControlHandler(DWORD control) { HandleServiceControl(control); }

// The worker thread's handle, held for the life of the process
// (AgentService::m_hWorkerThread lends it).
plat::ScopedKernelHandle g_WorkerThread;

// Creates the three events and the suspended worker thread. Returns 0, or the
// error of the first creation that failed.
DWORD CreateEventsAndWorker() {
    AgentService& service = g_AgentService;
    uint32_t error = CreateControlEvents();
    if (error != 0) return error;
    DWORD id = 0;
    g_WorkerThread.Reset(
        ::CreateThread(nullptr, 0, WorkerThreadEntry, &service, CREATE_SUSPENDED, &id));
    if (!g_WorkerThread) return ::GetLastError();
    service.m_hWorkerThread = g_WorkerThread.Get();
    return 0;
}

VOID WINAPI AgentServiceMain(DWORD argc, LPSTR* /*argv*/) {
    AgentService& service = g_AgentService;
    RegisterEventSourceKey();
    g_bEventLogReporting = true;

    service.m_hStatus = reinterpret_cast<void*>(
        ::RegisterServiceCtrlHandlerA(service.m_ServiceName.c_str(), ControlHandler));
    if (service.m_hStatus == nullptr) {
        ReportAndDiscard(new CQLNException());
        return;
    }
    // Start parameters ask for a start that completes only once the UPS is found.
    SetServiceState(argc <= 1 ? plat::kServiceRunning : plat::kServiceStartPending);

    // Both named events are held before the worker runs, so that its signal
    // reaches this wait. Without them the wait below would fail at once and
    // leave the service pending for ever: the start fails, with the reason in
    // the log.
    plat::Event found(AgentEventName(kUpsFoundEvent));
    plat::Event findFailed(AgentEventName(kUpsFindFailedEvent));
    if (FailStartWithoutNamedEvents(found, findFailed)) return;

    DWORD error = CreateEventsAndWorker();
    if (error != 0) {
        FailStart(error);
        return;
    }
    HANDLE worker = reinterpret_cast<HANDLE>(service.m_hWorkerThread);
    ::ResumeThread(worker);
    // The worker thread is waited for as well: a worker that ends before its
    // first pass (its port cannot be bound, say) would otherwise leave a service
    // that reports itself started while nothing runs.
    HANDLE waits[] = {reinterpret_cast<HANDLE>(found.NativeHandle()),
                      reinterpret_cast<HANDLE>(findFailed.NativeHandle()), worker};
    DWORD which = ::WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0) {
        SetServiceState(plat::kServiceRunning);
    } else if (which == WAIT_OBJECT_0 + 1) {
        ::WaitForSingleObject(worker, kFindFailedWorkerWaitMs);
        StopWithError(ERROR_SERVICE_SPECIFIC_ERROR, 0xFFFFFFFFu);
    } else if (which == WAIT_OBJECT_0 + 2) {
        // A stop control ends the worker too; the handler reports that one.
        DWORD result = 0;
        ::GetExitCodeThread(worker, &result);
        if (service.m_Status.dwCurrentState != plat::kServiceStopped) {
            StopWithError(ERROR_SERVICE_SPECIFIC_ERROR, result);
        }
    }
}

}  // namespace

void SignalStopAndWaitForWorker() {
    AgentService& service = g_AgentService;
    if (!service.m_pStopEvent || service.m_hWorkerThread == nullptr) return;
    ::SignalObjectAndWait(reinterpret_cast<HANDLE>(service.m_pStopEvent->NativeHandle()),
                          reinterpret_cast<HANDLE>(service.m_hWorkerThread), INFINITE, FALSE);
}

void SetServiceState(uint32_t state) {
    AgentService& service = g_AgentService;
    service.m_Status.dwCurrentState = state;
    if (service.m_hStatus == nullptr) return;
    ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(service.m_hStatus),
                       reinterpret_cast<SERVICE_STATUS*>(&service.m_Status));
}

uint32_t RunServiceDispatcher() {
    // The dispatcher keeps the name while the service runs: the instance's
    // service name, held beyond this call.
    static std::string name;
    name = g_AgentService.m_ServiceName;
    SERVICE_TABLE_ENTRYA table[] = {{&name[0], AgentServiceMain}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherA(table)) return 0;
    return ::GetLastError();
}

int ServiceProcessExitStatus() { return 0; }

// The service control manager keeps no status line; the status file says it.
bool TellServiceManager(const std::string&) { return true; }
