// The update under the service control manager. Stopping and starting go
// through the command interpreter; the manager is asked only for states and
// for the agent's configured program path. The files are copied by the file
// replacement (platform/file_replace.h), as on Linux: each is written beside
// its target and renamed over it, and a failure says why in the system's
// words.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/file_replace.h"
#include "platform/product_names.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"
#include "updater/update_steps.h"
// After <windows.h>, which it needs: the Installer's component records.
// clang-format off
#include <msi.h>
// clang-format on

namespace {

// The Windows Installer packages' components of qln.exe
// (packaging/win32/qln.wxs): the x86 package's and the x64 package's. Either
// program may look for either package (a 32-bit agentupdate beside a 64-bit
// package), and the Installer's records are the same for both.
const char* const kAgentComponents[] = {"{3B0E6C1F-8D2A-4F57-A1C9-5E4D2B7A9C01}",
                                        "{FE6FB0E1-EB46-478E-90EF-F6F35DBD7FFD}"};

// "net stop" or "net start" of one service, through the command interpreter.
void NetCommand(const char* verb, const char* service) {
    std::system((std::string("net ") + verb + " \"" + service + "\"").c_str());
}

std::string Unquoted(const std::string& path) {
    if (path.size() >= 2 && path.front() == '"') return path.substr(1, path.find('"', 1) - 1);
    return path;
}

// The relay service's configured program path, or "".
std::string ConfiguredProgram(SC_HANDLE manager) {
    plat::ScopedServiceHandle relay(
        ::OpenServiceA(manager, plat::kAgentServiceName, SERVICE_QUERY_CONFIG));
    if (!relay) return "";
    DWORD needed = 0;
    ::QueryServiceConfigA(relay.Get(), nullptr, 0, &needed);
    plat::ScopedLocal block(::LocalAlloc(LPTR, needed));
    if (!block) return "";
    auto* config = static_cast<QUERY_SERVICE_CONFIGA*>(block.Get());
    if (!::QueryServiceConfigA(relay.Get(), config, needed, &needed) || !config->lpBinaryPathName)
        return "";
    return config->lpBinaryPathName;
}

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

// Copies the two program files from the current directory; a file that
// cannot be copied is reported and the other one is still tried. False when
// a path would not fit its buffer (then nothing is copied).
bool CopyProgramFiles(const std::string& programPath) {
    char dir[kPathBufferSize];
    char cwd[kCurrentDirBufferSize];
    const std::string program = Unquoted(programPath);
    if (program.size() >= sizeof dir) return false;
    if (!ProgramDirectory(program.c_str(), '\\', dir, sizeof dir)) return true;
    DWORD n = ::GetCurrentDirectoryA(sizeof cwd, cwd);
    if (n == 0 || n >= sizeof cwd) return false;
    for (const char* file : {"qln.exe", "Pellux_noDB.dll"}) {
        std::string error;
        if (!plat::CopyFileOver(std::string(cwd) + "\\" + file, std::string(dir) + file, error)) {
            std::fprintf(stderr, "agentupdate: %s\n", error.c_str());
        }
    }
    return true;
}

}  // namespace

// The installer keeps the path of every component it installed; the agent's
// program is the package's when that path is the service's program.
std::string OwningPackage(const std::string& programPath) {
    for (const char* component : kAgentComponents) {
        char path[kPathBufferSize] = {0};
        DWORD size = sizeof path;
        INSTALLSTATE state = ::MsiLocateComponentA(component, path, &size);
        if (state != INSTALLSTATE_LOCAL && state != INSTALLSTATE_SOURCE) continue;
        if (::lstrcmpiA(path, Unquoted(programPath).c_str()) == 0)
            return std::string(plat::kAgentServiceName) + " (Windows Installer)";
    }
    return "";
}

int RunAgentUpdate() {
    // Asked before anything is stopped: a packaged agent is left running.
    {
        plat::ScopedServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
        std::string program = manager ? ConfiguredProgram(manager.Get()) : "";
        std::string package = program.empty() ? "" : OwningPackage(program);
        if (!package.empty()) {
            std::fputs(PackageRefusal(Unquoted(program), package).c_str(), stderr);
            return -1;
        }
    }
    NetCommand("stop", plat::kAgentServiceName);
    NetCommand("stop", plat::kSiblingServiceName);

    plat::ScopedServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager) return -1;
    plat::ScopedServiceHandle relay(
        ::OpenServiceA(manager.Get(), plat::kAgentServiceName, SERVICE_QUERY_STATUS));
    if (!relay) return -1;
    StopWaitStatus status{};
    if (!Query(relay.Get(), status)) return -1;
    if (!WaitForStop(relay.Get(), status)) return -1;

    // The sibling is optional: any failure here only ends this step.
    plat::ScopedServiceHandle siblingManager(::OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    plat::ScopedServiceHandle sibling;
    if (siblingManager) {
        sibling.Reset(
            ::OpenServiceA(siblingManager.Get(), plat::kSiblingServiceName, SERVICE_QUERY_STATUS));
        StopWaitStatus siblingStatus{};
        if (sibling && Query(sibling.Get(), siblingStatus))
            WaitForStop(sibling.Get(), siblingStatus);
    }
    bool siblingPresent = static_cast<bool>(sibling);

    ::Sleep(1000);
    relay.Reset();

    relay.Reset(::OpenServiceA(manager.Get(), plat::kAgentServiceName, SERVICE_QUERY_CONFIG));
    if (!relay) return -1;
    DWORD needed = 0;
    ::QueryServiceConfigA(relay.Get(), nullptr, 0, &needed);
    plat::ScopedLocal block(::LocalAlloc(LPTR, needed));
    if (!block) return -1;
    bool fitted = true;
    auto* config = static_cast<QUERY_SERVICE_CONFIGA*>(block.Get());
    if (::QueryServiceConfigA(relay.Get(), config, needed, &needed)) {
        fitted = CopyProgramFiles(config->lpBinaryPathName ? config->lpBinaryPathName : "");
    }
    relay.Reset();
    manager.Reset();
    sibling.Reset();
    siblingManager.Reset();

    // A path too long for the buffers copies nothing, but the services are
    // started again all the same: the update is refused, not the agent.
    NetCommand("start", plat::kAgentServiceName);
    if (siblingPresent) NetCommand("start", plat::kSiblingServiceName);
    return fitted ? 0 : -1;
}
