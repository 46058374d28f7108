#include "platform/agent_folder.h"

#include <cstdlib>

#include "platform/windows_wrapper.h"

#include <sddl.h>
#include <shlobj.h>

namespace plat {

namespace {

// Full control for the system and the administrators, and for the files'
// creator (the agent) over what it makes; read for everyone else.
const char* const kFolderAccess =
    "D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;GRGX;;;BU)";

std::string Getenv(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

// Asked of the shell, not of the environment: a service's environment need
// not name the folder, or may name an older one (Wine gives its services
// ALLUSERSPROFILE=C:\users\Public and no ProgramData).
std::string AgentRuntimeFolder() {
    char path[MAX_PATH] = {};
    std::string base;
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK) {
        base = path;
    } else {
        base = Getenv("ProgramData");
    }
    if (base.empty()) base = "C:\\ProgramData";
    while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    return base + "\\Ombrex Quillon";
}

std::string AgentRuntimeFile(const std::string& name) { return AgentRuntimeFolder() + "\\" + name; }

std::string FolderOf(const std::string& path) {
    size_t end = path.find_last_of("\\/");
    return end == std::string::npos ? std::string() : path.substr(0, end);
}

std::string ServiceRuntimeFolder() { return AgentRuntimeFolder(); }

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

bool MakeAgentRuntimeFolder(const std::string& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kFolderAccess, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        descriptor = nullptr;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    BOOL made = CreateDirectoryA(folder.c_str(), descriptor ? &attributes : nullptr);
    DWORD error = GetLastError();
    if (descriptor) LocalFree(descriptor);
    return made || error == ERROR_ALREADY_EXISTS;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessIsRunning(uint32_t id) {
    if (id == 0) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

}  // namespace plat
