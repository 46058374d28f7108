// The tests' own view of the service control manager: status queries,
// starts with parameters, and the removal of what a test left behind.
#pragma once
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/windows_wrapper.h"
#include "service_test_util.h"

namespace {

const char* const kName = "Ombrex Quillon";

struct Sc {
    SC_HANDLE h;
    explicit Sc(SC_HANDLE handle) : h(handle) {}
    ~Sc() {
        if (h) CloseServiceHandle(h);
    }
};

inline std::string SystemText(uint32_t code) {
    std::string text;
    plat::SystemErrorText(code, text);
    return text;
}

// The service's status; dwCurrentState 0 when it cannot be queried.
inline SERVICE_STATUS Status() {
    SERVICE_STATUS s{};
    Sc m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    Sc svc(m.h ? OpenServiceA(m.h, kName, SERVICE_QUERY_STATUS) : nullptr);
    if (!svc.h || !QueryServiceStatus(svc.h, &s)) s.dwCurrentState = 0;
    return s;
}

inline bool WaitState(DWORD state) {
    return WaitFor([state] { return Status().dwCurrentState == state; }, kServiceWaitMs);
}

inline bool Installed() {
    Sc m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    Sc svc(OpenServiceA(m.h, kName, SERVICE_QUERY_STATUS));
    return svc.h != nullptr;
}

// Stops and deletes the service if a test left it, and waits until it is gone.
inline void RemoveLeftovers() {
    {
        Sc m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        Sc svc(OpenServiceA(m.h, kName, SERVICE_ALL_ACCESS));
        if (!svc.h) return;
        SERVICE_STATUS s{};
        ControlService(svc.h, SERVICE_CONTROL_STOP, &s);
        WaitFor(
            [] {
                DWORD st = Status().dwCurrentState;
                return st == SERVICE_STOPPED || st == 0;
            },
            kServiceWaitMs);
        DeleteService(svc.h);
    }
    WaitFor([] { return !Installed(); }, kServiceWaitMs);
}

// Starts the service through the manager, with `args` as start parameters.
inline DWORD StartWithParameters(const std::vector<const char*>& args) {
    Sc m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    Sc svc(OpenServiceA(m.h, kName, SERVICE_START));
    if (!svc.h) return GetLastError();
    std::vector<const char*> v(args);
    return StartServiceA(svc.h, static_cast<DWORD>(v.size()), v.empty() ? nullptr : v.data())
               ? 0
               : GetLastError();
}

}  // namespace
