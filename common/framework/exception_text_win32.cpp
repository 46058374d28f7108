#include <vector>

#include "common/framework/exception_text.h"
#include "common/framework/message_lookup.h"
#include "platform/windows_wrapper.h"

bool FormatExceptionText(uint32_t id, const char* const* inserts, unsigned short count,
                         std::string& out) {
    HMODULE module = ::GetModuleHandleA(kFamilyModule);
    if (module == nullptr) module = ::GetModuleHandleA(kThisLibraryModule);
    // The formatter reads as many inserts as the text names, not as many as
    // there are: behind the real ones stand empty strings up to %99.
    std::vector<const char*> args(99, "");
    for (unsigned short i = 0; i < count && i < args.size(); ++i) {
        args[i] = inserts[i] ? inserts[i] : "";
    }
    char* buffer = nullptr;
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                   FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                               module, id, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&buffer), 0,
                               reinterpret_cast<va_list*>(const_cast<char**>(args.data())));
    if (n == 0 || buffer == nullptr) return false;
    out.assign(buffer, n);
    ::LocalFree(buffer);
    return true;
}
