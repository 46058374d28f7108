#include "platform/errors.h"
#include "platform/format_message_win32.h"

namespace plat {

uint32_t LastError() { return ::GetLastError(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }

bool SystemErrorText(uint32_t code, std::string& out) {
    return FormatMessageInto(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0x400, nullptr, out);
}

}  // namespace plat
