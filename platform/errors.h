// Platform error codes: the last error of the calling thread, its system text,
// and the few codes the system names, one value per platform.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

#ifdef _WIN32
constexpr uint32_t kErrFileNotFound = 2;            // ERROR_FILE_NOT_FOUND
constexpr uint32_t kErrAccessDenied = 5;            // ERROR_ACCESS_DENIED
constexpr uint32_t kErrInvalidHandle = 6;           // ERROR_INVALID_HANDLE
constexpr uint32_t kErrNotEnoughMemory = 8;         // ERROR_NOT_ENOUGH_MEMORY
constexpr uint32_t kErrInvalidParameter = 87;       // ERROR_INVALID_PARAMETER
constexpr uint32_t kErrServiceNotConnected = 1063;  // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
constexpr uint32_t kErrServiceSpecific = 1066;      // ERROR_SERVICE_SPECIFIC_ERROR
#else
constexpr uint32_t kErrFileNotFound = 2;            // ENOENT
constexpr uint32_t kErrAccessDenied = 13;           // EACCES
constexpr uint32_t kErrInvalidHandle = 9;           // EBADF
constexpr uint32_t kErrNotEnoughMemory = 12;        // ENOMEM
constexpr uint32_t kErrInvalidParameter = 22;       // EINVAL
constexpr uint32_t kErrServiceNotConnected = 1063;  // no service manager handed us a dispatcher
constexpr uint32_t kErrServiceSpecific = 1066;
#endif

// The calling thread's last error (GetLastError / errno).
uint32_t LastError();
void SetLastError(uint32_t code);

// The system's own text for an error code, as the platform formatter gives it
// (Win32 texts end in CR LF). False, and `out` untouched, when the system has none.
bool SystemErrorText(uint32_t code, std::string& out);

// The same as one would insert it into a line of one's own: without its line
// end, "error <code>" when the system has no text.
inline std::string SystemReason(uint32_t code) {
    std::string text;
    if (!SystemErrorText(code, text)) return "error " + std::to_string(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace plat
