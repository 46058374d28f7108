#include <cstring>
#include <vector>

#include "common/framework/brx_runtime.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"

namespace brx {

const char* GetDirectorySeparator() { return "\\"; }

std::string GetShortName(const char* path) {
    if (path == nullptr) return std::string();
    DWORD need = ::GetShortPathNameA(path, nullptr, 0);
    if (need == 0) return path;
    std::vector<char> buf(need + 1);
    DWORD got = ::GetShortPathNameA(path, buf.data(), static_cast<DWORD>(buf.size()));
    if (got == 0 || got >= buf.size()) return path;
    return std::string(buf.data(), got);
}

std::string GetCwd() {
    DWORD need = ::GetCurrentDirectoryA(0, nullptr);
    if (need == 0) return std::string();
    std::vector<char> buf(need + 1);
    DWORD got = ::GetCurrentDirectoryA(static_cast<DWORD>(buf.size()), buf.data());
    if (got == 0 || got >= buf.size()) return std::string();
    return std::string(buf.data(), got);
}

bool Execute(const char* command, int mode, bool detached) {
    if (command == nullptr || mode != 0 || detached) return false;
    // CreateProcessA may write into the command line; it gets its own copy.
    std::vector<char> line(command, command + std::strlen(command) + 1);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi)) {
        return false;
    }
    plat::ScopedKernelHandle process(pi.hProcess);
    plat::ScopedKernelHandle thread(pi.hThread);
    if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) return false;
    DWORD code = 1;
    if (!::GetExitCodeProcess(process.Get(), &code)) return false;
    return code == 0;
}

}  // namespace brx
