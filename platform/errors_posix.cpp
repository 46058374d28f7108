#include <cerrno>
#include <cstring>

#include "platform/errors.h"

namespace plat {

uint32_t LastError() { return static_cast<uint32_t>(errno); }

void SetLastError(uint32_t code) { errno = static_cast<int>(code); }

bool SystemErrorText(uint32_t code, std::string& out) {
    // strerror invents "Unknown error N" for codes it does not know; those
    // count as no text, as the Win32 formatter fails for unknown codes.
    if (code == 0 || code > 4095) return false;
    char buffer[256];
    const char* text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return false;
    out = text;
    out += '\n';
    return true;
}

}  // namespace plat
