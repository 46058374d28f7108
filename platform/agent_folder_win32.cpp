#include <algorithm>
#include <cstdlib>

#include "platform/agent_folder.h"
#include "platform/product_names.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"
// After <windows.h>, which they need: the SDDL conversions and the shell's
// folders.
// clang-format off
#include <sddl.h>
#include <shlobj.h>
// clang-format on

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
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) ==
        S_OK) {
        base = path;
    } else {
        base = Getenv("ProgramData");
    }
    if (base.empty()) base = "C:\\ProgramData";
    while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    return base + "\\" + kAgentServiceName;
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

// The service and the agents started by hand share the one folder; each
// agent's record is named by its UDP port.
std::vector<std::string> AgentRuntimeFolders() { return {AgentRuntimeFolder()}; }

bool ListRuntimeFolder(const std::string& folder, std::vector<std::string>& names,
                       uint32_t& error) {
    names.clear();
    error = 0;
    WIN32_FIND_DATAA found{};
    ScopedFind search(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!search) {
        DWORD why = GetLastError();
        if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) return true;
        error = why;
        return false;
    }
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search.Get(), &found));
    std::sort(names.begin(), names.end());
    return true;
}

bool MakeAgentRuntimeFolder(const std::string& folder) {
    ScopedLocal descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kFolderAccess, SDDL_REVISION_1,
                                                              descriptor.Receive(), nullptr)) {
        descriptor.Reset();
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
    BOOL made = CreateDirectoryA(folder.c_str(), descriptor ? &attributes : nullptr);
    return made || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool IsPrivateFolder(const std::string&) { return true; }

// The folder's access list is the system's to enforce here: no owner checks,
// but never a pipe, a device or a link, and never more than `limit` bytes.
RecordRead ReadAgentRecord(const std::string& path, size_t limit, std::string& text,
                           uint32_t& error) {
    text.clear();
    error = 0;
    ScopedKernelHandle file(CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return RecordRead::kMissing;
        return RecordRead::kUnreadable;
    }
    RecordRead result = RecordRead::kRead;
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (GetFileType(file.Get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        result = RecordRead::kNotRegular;
    } else if (!GetFileSizeEx(file.Get(), &size)) {
        error = GetLastError();
        result = RecordRead::kUnreadable;
    } else if (static_cast<uint64_t>(size.QuadPart) > limit) {
        result = RecordRead::kTooLarge;
    } else {
        text.resize(limit + 1);
        DWORD got = 0;
        if (!ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr)) {
            error = GetLastError();
            result = RecordRead::kUnreadable;
            got = 0;
        }
        text.resize(got);
        if (got > limit) {
            text.clear();
            result = RecordRead::kTooLarge;
        }
    }
    return result;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessIsRunning(uint32_t id) {
    if (id == 0) return false;
    ScopedKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    return WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

}  // namespace plat
