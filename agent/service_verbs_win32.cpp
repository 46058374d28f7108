// The service verbs of the command line: install, remove, and the controls.
// Each ends the process; a failure prints the system's text for the last
// error and exits with -1, with every handle opened so far closed.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "agent/qln_exception.h"
#include "agent/service_host.h"
#include "agent/service_verb.h"
#include "platform/product_names.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"

namespace {

const DWORD kManagerCreateService = 0x2;    // SC_MANAGER_CREATE_SERVICE
const DWORD kManagerControls = 0xF0000;     // STANDARD_RIGHTS_REQUIRED
const DWORD kServiceDelete = 0x10000;       // DELETE
const DWORD kServiceStartStopPause = 0x70;  // SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE
const DWORD kImagePathMax = 259;

// The last error becomes the failure; it is read before any handle closes.
void Check(bool ok) {
    if (!ok) throw new CQLNException();
}

// The executable's full path in double quotes. A path the buffer cannot hold
// is refused rather than installed cut short.
std::string QuotedImagePath() {
    char path[kImagePathMax + 1] = {0};
    DWORD n = ::GetModuleFileNameA(nullptr, path, kImagePathMax);
    if (n == 0) throw new CQLNException();
    if (n >= kImagePathMax) throw new CQLNException(ERROR_INSUFFICIENT_BUFFER);
    char full[MAX_PATH + 1] = {0};
    char* filePart = nullptr;
    DWORD m = ::GetFullPathNameA(path, kImagePathMax, full, &filePart);
    if (m == 0) throw new CQLNException();
    if (m >= kImagePathMax) throw new CQLNException(ERROR_INSUFFICIENT_BUFFER);
    return std::string("\"") + full + "\"";
}

// ANSI text (the process's code page) as UTF-16.
std::wstring Wide(const std::string& text) {
    int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

}  // namespace

void InstallService() {
    RunVerb(
        [] {
            plat::ScopedServiceHandle manager(
                ::OpenSCManagerA(nullptr, nullptr, kManagerCreateService));
            Check(static_cast<bool>(manager));
            std::string image = QuotedImagePath();
            // The wide call: Wine's ANSI one stores the dependency list with
            // whatever follows it in memory.
            const std::wstring name = Wide(plat::kAgentServiceName), wideImage = Wide(image);
            plat::ScopedServiceHandle service(::CreateServiceW(
                manager.Get(), name.c_str(), name.c_str(), 0xF0000, SERVICE_WIN32_OWN_PROCESS,
                SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, wideImage.c_str(), nullptr, nullptr,
                L"PlugPlay\0", nullptr, nullptr));
            Check(static_cast<bool>(service));
        },
        "Service installed.");
}

void RemoveService() {
    RunVerb(
        [] {
            plat::ScopedServiceHandle manager(
                ::OpenSCManagerA(nullptr, nullptr, kManagerCreateService));
            Check(static_cast<bool>(manager));
            plat::ScopedServiceHandle service(
                ::OpenServiceA(manager.Get(), plat::kAgentServiceName, kServiceDelete));
            Check(static_cast<bool>(service));
            Check(::DeleteService(service.Get()) != FALSE);
        },
        "Service removed.");
}

void ControlAgentService(ServiceControl control) {
    RunVerb(
        [control] {
            plat::ScopedServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, kManagerControls));
            Check(static_cast<bool>(manager));
            plat::ScopedServiceHandle service(
                ::OpenServiceA(manager.Get(), plat::kAgentServiceName, kServiceStartStopPause));
            Check(static_cast<bool>(service));
            SERVICE_STATUS status{};
            switch (control) {
                case ServiceControl::Start:
                    Check(::StartServiceA(service.Get(), 0, nullptr) != FALSE);
                    break;
                case ServiceControl::Stop:
                    Check(::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status) != FALSE);
                    break;
                case ServiceControl::Pause:
                    Check(::ControlService(service.Get(), SERVICE_CONTROL_PAUSE, &status) != FALSE);
                    break;
                case ServiceControl::Continue:
                    Check(::ControlService(service.Get(), SERVICE_CONTROL_CONTINUE, &status) !=
                          FALSE);
                    break;
            }
        },
        "Service control succeeded.");
}
