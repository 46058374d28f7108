#include <vector>

#include "platform/windows_wrapper.h"
#include "platform_format.h"

bool PlatformFormat(const std::string& text, const char* const* inserts, size_t count,
                    bool ignoreInserts, std::string& out) {
    // The formatter reads up to insert 99 whatever was passed: give it a full array.
    std::vector<const char*> args(99, "");
    for (size_t i = 0; i < count && i < args.size(); ++i) args[i] = inserts[i];
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING |
                  (ignoreInserts ? FORMAT_MESSAGE_IGNORE_INSERTS : FORMAT_MESSAGE_ARGUMENT_ARRAY);
    char* buffer = nullptr;
    va_list* array =
        inserts ? reinterpret_cast<va_list*>(const_cast<char**>(args.data())) : nullptr;
    DWORD n =
        ::FormatMessageA(flags, text.c_str(), 0, 0, reinterpret_cast<LPSTR>(&buffer), 0, array);
    if (n == 0 || buffer == nullptr) return false;
    out.assign(buffer, n);
    ::LocalFree(buffer);
    return true;
}
