#include "platform/format_message_win32.h"

#include "platform/scoped_handle.h"

namespace plat {

bool FormatMessageInto(DWORD flags, const void* source, DWORD id, DWORD languageId,
                       const char* const* args, std::string& out) {
    char* buffer = nullptr;
    DWORD n = ::FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, source, id, languageId,
                               reinterpret_cast<LPSTR>(&buffer), 0,
                               reinterpret_cast<va_list*>(const_cast<char**>(args)));
    ScopedLocal owned(buffer);
    if (n == 0 || buffer == nullptr) return false;
    out.assign(buffer, n);
    return true;
}

}  // namespace plat
