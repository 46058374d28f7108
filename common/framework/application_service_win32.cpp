// The service side of CApplication on Win32: the service control manager,
// the dispatcher, the connection of the control handler, the worker thread
// and the event-log source.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "common/config/profile.h"
#include "common/framework/application.h"
#include "platform/event.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"
// After <windows.h>, as the wrapper includes it.
// clang-format off
#include <winsock2.h>
// clang-format on

static_assert(sizeof(CServiceStatus) == sizeof(SERVICE_STATUS), "status record layout");

namespace {

[[noreturn]] void Succeed(const char* message) {
    std::printf("%s\n", message);
    std::fflush(stdout);
    std::exit(0);
}

}  // namespace

void CApplication::ServiceInstall(bool bInstall) {
    plat::ScopedServiceHandle manager(
        ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) throw new CAppException();
    if (bInstall) {
        char path[MAX_PATH];
        char exe[MAX_PATH];
        DWORD n = ::GetModuleFileNameA(nullptr, exe, sizeof exe);
        // The quoted path must fit the buffer whole: a cut path would
        // register a program that does not exist.
        if (n == 0 || n >= sizeof exe || n + 3 > sizeof path) {
            ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
            throw new CAppException();
        }
        std::snprintf(path, sizeof path, "\"%s\"", exe);
        plat::ScopedServiceHandle service(::CreateServiceA(
            manager.Get(), m_AppName.c_str(), m_AppName.c_str(), STANDARD_RIGHTS_REQUIRED,
            SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
            m_bAutoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path,
            nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!service) throw new CAppException();
        service.Reset();
        manager.Reset();
        Succeed("Service installed.");
    }
    plat::ScopedServiceHandle service(::OpenServiceA(manager.Get(), m_AppName.c_str(), DELETE));
    if (!service) throw new CAppException();
    if (!::DeleteService(service.Get())) throw new CAppException();
    service.Reset();
    manager.Reset();
    Succeed("Service removed.");
}

void CApplication::ServiceControl(int code) {
    plat::ScopedServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, STANDARD_RIGHTS_REQUIRED));
    if (!manager) throw new CAppException();
    plat::ScopedServiceHandle service(::OpenServiceA(
        manager.Get(), m_AppName.c_str(), SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE));
    if (!service) throw new CAppException();
    BOOL ok;
    if (code >= 1 && code <= 3) {
        static const DWORD kControls[] = {0, SERVICE_CONTROL_STOP, SERVICE_CONTROL_PAUSE,
                                          SERVICE_CONTROL_CONTINUE};
        SERVICE_STATUS status{};
        ok = ::ControlService(service.Get(), kControls[code], &status);
    } else {
        ok = ::StartServiceA(service.Get(), 0, nullptr);
        if (!ok) ok = ::StartServiceA(service.Get(), 0, nullptr);
    }
    // The exception takes the failed call's error before the handles go.
    if (!ok) throw new CAppException();
    service.Reset();
    manager.Reset();
    Succeed("Service control succeeded.");
}

bool CApplication::RunUnderServiceManager() {
    SERVICE_TABLE_ENTRYA table[] = {
        {const_cast<char*>(m_AppName.c_str()), &CApplication::ServiceMain}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherA(table)) return true;
    DWORD error = ::GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        m_bRunAsService = false;
        return false;
    }
    throw new CAppException(static_cast<unsigned long>(error));
}

bool CApplication::ConnectControlHandler() {
    m_ServiceStatusHandle = reinterpret_cast<void*>(
        ::RegisterServiceCtrlHandlerA(m_AppName.c_str(), &CApplication::ExternalServiceControl));
    return m_ServiceStatusHandle != nullptr;
}

uint32_t CApplication::StartWorkerThread() {
    m_WorkerThread = ::CreateThread(nullptr, 0, &CApplication::ThreadMain, nullptr, 0, nullptr);
    return m_WorkerThread ? 0 : ::GetLastError();
}

// One step, so that the worker cannot end between the two.
void CApplication::SignalStopAndWaitForWorker() {
    ::SignalObjectAndWait(m_StopEvent->NativeHandle(), m_WorkerThread, INFINITE, FALSE);
}

void CApplication::SetServiceStatus(uint32_t state) {
    m_ServiceStatus.dwCurrentState = state;
    ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(m_ServiceStatusHandle),
                       reinterpret_cast<SERVICE_STATUS*>(&m_ServiceStatus));
}

void CApplication::AddEventSource() {
    CApplication* app = m_pApp;
    if (!app) return;
    std::string key =
        "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + app->m_AppName;
    // The key is owned before the profile read below, which allocates.
    plat::ScopedKey handle;
    if (::RegCreateKeyA(HKEY_LOCAL_MACHINE, key.c_str(), handle.Receive()) != ERROR_SUCCESS) return;
    std::string file = app->m_pAppProfile
                           ? app->m_pAppProfile->GetString("Dynamic", "ExePath", "", false)
                           : std::string();
    ::RegSetValueExA(handle.Get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                     reinterpret_cast<const BYTE*>(file.c_str()),
                     static_cast<DWORD>(file.size() + 1));
    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    ::RegSetValueExA(handle.Get(), "TypesSupported", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&types), sizeof types);
}

// The members keep the class's layout (void*); their owner closes them here.
void CApplication::CloseWorkerThread() {
    plat::ScopedKernelHandle worker(static_cast<HANDLE>(std::exchange(m_WorkerThread, nullptr)));
}

void CApplication::CloseSpareHandle() {
    plat::ScopedKernelHandle spare(static_cast<HANDLE>(std::exchange(m_SpareHandle, nullptr)));
}

bool CApplication::StartSockets() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void CApplication::EndSockets() { ::WSACleanup(); }
