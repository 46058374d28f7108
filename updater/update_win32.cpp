// The update under the service control manager. Stopping, copying and
// starting go through the command interpreter; the manager is asked only for
// states and for the agent's configured program path.
#include <cstdlib>
#include <cstring>

#include "platform/windows_wrapper.h"
#include "updater/update_steps.h"

namespace {

struct ScHandle {
    SC_HANDLE h = nullptr;
    ScHandle() = default;
    explicit ScHandle(SC_HANDLE handle) : h(handle) {}
    ~ScHandle() { Close(); }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    void Reset(SC_HANDLE handle) {
        Close();
        h = handle;
    }
    void Close() {
        if (h) ::CloseServiceHandle(h);
        h = nullptr;
    }
};

struct LocalBlock {
    HLOCAL p;
    ~LocalBlock() {
        if (p) ::LocalFree(p);
    }
};

bool Query(SC_HANDLE service, StopWaitStatus& status) {
    SERVICE_STATUS s{};
    if (!::QueryServiceStatus(service, &s)) return false;
    status = {s.dwCurrentState, s.dwCheckPoint, s.dwWaitHint};
    return true;
}

bool WaitForStop(SC_HANDLE service, StopWaitStatus& status) {
    return WaitUntilStopped(
        status, [service](StopWaitStatus& s) { return Query(service, s); },
        [](uint32_t ms) { ::Sleep(ms); });
}

// Copies the two program files; false when a path or a command would not
// fit its buffer (then nothing is copied).
bool CopyProgramFiles(const char* programPath) {
    char path[kPathBufferSize];
    char dir[kPathBufferSize];
    char cwd[kCurrentDirBufferSize];
    char copyProgram[kCommandBufferSize];
    char copyLibrary[kCommandBufferSize];
    if (std::strlen(programPath) >= sizeof path) return false;
    std::strcpy(path, programPath);
    if (!ProgramDirectory(path, '\\', dir, sizeof dir)) dir[0] = '\0';
    DWORD n = ::GetCurrentDirectoryA(sizeof cwd, cwd);
    if (n == 0 || n >= sizeof cwd) return false;
    if (!FormatCopyCommand(copyProgram, sizeof copyProgram, cwd, dir, "qln.exe") ||
        !FormatCopyCommand(copyLibrary, sizeof copyLibrary, cwd, dir, "Pellux_noDB.dll")) {
        return false;
    }
    std::system(copyProgram);
    std::system(copyLibrary);
    return true;
}

}  // namespace

int RunAgentUpdate() {
    std::system("net stop \"Ombrex Quillon\"");
    std::system("net stop \"Ombrex Velmar\"");

    ScHandle manager(::OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager.h) return -1;
    ScHandle relay(::OpenServiceA(manager.h, kRelayServiceName, SERVICE_QUERY_STATUS));
    if (!relay.h) return -1;
    StopWaitStatus status{};
    if (!Query(relay.h, status)) return -1;
    if (!WaitForStop(relay.h, status)) return -1;

    // The sibling is optional: any failure here only ends this step.
    ScHandle siblingManager(::OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    ScHandle sibling;
    if (siblingManager.h) {
        sibling.Reset(::OpenServiceA(siblingManager.h, kSiblingServiceName, SERVICE_QUERY_STATUS));
        StopWaitStatus siblingStatus{};
        if (sibling.h && Query(sibling.h, siblingStatus)) WaitForStop(sibling.h, siblingStatus);
    }
    bool siblingPresent = sibling.h != nullptr;

    ::Sleep(1000);
    relay.Close();

    relay.Reset(::OpenServiceA(manager.h, kRelayServiceName, SERVICE_QUERY_CONFIG));
    if (!relay.h) return -1;
    DWORD needed = 0;
    ::QueryServiceConfigA(relay.h, nullptr, 0, &needed);
    LocalBlock block{::LocalAlloc(LPTR, needed)};
    if (!block.p) return -1;
    bool fitted = true;
    auto* config = static_cast<QUERY_SERVICE_CONFIGA*>(block.p);
    if (::QueryServiceConfigA(relay.h, config, needed, &needed)) {
        fitted = CopyProgramFiles(config->lpBinaryPathName ? config->lpBinaryPathName : "");
    }
    relay.Close();
    manager.Close();
    sibling.Close();
    siblingManager.Close();

    // A path too long for the buffers copies nothing, but the services are
    // started again all the same: the update is refused, not the agent.
    std::system("net start \"Ombrex Quillon\"");
    if (siblingPresent) std::system("net start \"Ombrex Velmar\"");
    return fitted ? 0 : -1;
}
