#include "platform/errors.h"

#include "platform/windows_wrapper.h"

namespace plat {

uint32_t LastError() { return ::GetLastError(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }

bool SystemErrorText(uint32_t code, std::string& out) {
    char* buffer = nullptr;
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 0x400, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (n == 0 || buffer == nullptr) return false;
    out.assign(buffer, n);
    ::LocalFree(buffer);
    return true;
}

}  // namespace plat
