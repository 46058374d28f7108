// The service verbs of the command line: install, remove, and the controls.
// Each ends the process; a failure prints the system's text for the last
// error and exits with -1, with every handle opened so far closed.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "agent/instance_names.h"
#include "agent/qln_exception.h"
#include "agent/service_host.h"
#include "agent/service_verb.h"
#include "common/resources/message_ids.h"
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

// The service's command line: the program alone for the default agent, so
// that it reads the INI file beside it as it always has; for an instance the
// program with "-n NAME -c <INI>", the INI file's absolute path, which has to
// exist now.
std::string ImagePath(const std::string& instance, const std::string& configPath) {
    std::string image = QuotedImagePath();
    if (instance.empty()) return image;
    char full[MAX_PATH + 1] = {0};
    char* filePart = nullptr;
    DWORD m = ::GetFullPathNameA(configPath.c_str(), MAX_PATH, full, &filePart);
    if (m == 0) throw new CQLNException();
    if (m >= MAX_PATH) throw new CQLNException(ERROR_INSUFFICIENT_BUFFER);
    DWORD attributes = ::GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw new CQLNException(MSG_INSTANCE_INI_MISSING, {instance.c_str(), full});
    }
    return image + " -n " + instance + " -c \"" + full + "\"";
}

// The service of `instance`; an instance that is not installed says so by
// its name, the default agent's service by the system's text as before.
SC_HANDLE OpenAgentService(const plat::ScopedServiceHandle& manager, const std::string& instance,
                           DWORD access) {
    const std::string name = AgentServiceName(instance);
    SC_HANDLE service = ::OpenServiceA(manager.Get(), name.c_str(), access);
    if (service == nullptr && !instance.empty() &&
        ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        throw new CQLNException(MSG_INSTANCE_NOT_INSTALLED, {instance.c_str(), name.c_str()});
    }
    Check(service != nullptr);
    return service;
}

}  // namespace

void InstallService(const std::string& instance, const std::string& configPath) {
    RunVerb(
        [&] {
            plat::ScopedServiceHandle manager(
                ::OpenSCManagerA(nullptr, nullptr, kManagerCreateService));
            Check(static_cast<bool>(manager));
            std::string image = ImagePath(instance, configPath);
            // The wide call: Wine's ANSI one stores the dependency list with
            // whatever follows it in memory.
            const std::string serviceName = AgentServiceName(instance);
            const std::wstring name = Wide(serviceName), wideImage = Wide(image);
            plat::ScopedServiceHandle service(::CreateServiceW(
                manager.Get(), name.c_str(), name.c_str(), 0xF0000, SERVICE_WIN32_OWN_PROCESS,
                SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, wideImage.c_str(), nullptr, nullptr,
                L"PlugPlay\0", nullptr, nullptr));
            if (!service && !instance.empty() &&
                (::GetLastError() == ERROR_SERVICE_EXISTS ||
                 ::GetLastError() == ERROR_DUPLICATE_SERVICE_NAME)) {
                throw new CQLNException(MSG_INSTANCE_INSTALLED,
                                        {instance.c_str(), serviceName.c_str()});
            }
            Check(static_cast<bool>(service));
        },
        "Service installed.");
}

void RemoveService(const std::string& instance) {
    RunVerb(
        [&] {
            plat::ScopedServiceHandle manager(
                ::OpenSCManagerA(nullptr, nullptr, kManagerCreateService));
            Check(static_cast<bool>(manager));
            const std::string name = AgentServiceName(instance);
            plat::ScopedServiceHandle service(OpenAgentService(manager, instance, kServiceDelete));
            Check(::DeleteService(service.Get()) != FALSE);
            // An instance's event source goes with it; the default's stays
            // the package's to remove, as it always was.
            if (!instance.empty())
                ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, EventSourceKey(name).c_str());
        },
        "Service removed.");
}

void ControlAgentService(ServiceControl control, const std::string& instance) {
    RunVerb(
        [&] {
            plat::ScopedServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, kManagerControls));
            Check(static_cast<bool>(manager));
            plat::ScopedServiceHandle service(
                OpenAgentService(manager, instance, kServiceStartStopPause));
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
