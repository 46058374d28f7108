#include "common/framework/message_lookup.h"

#include "platform/windows_wrapper.h"

const char* const kThisLibraryModule = "Pellux_noDB.dll";
const char* const kFamilyModule = "Pellux.dll";

bool LookupMessage(const char* moduleName, uint32_t id, uint32_t langId, std::string& out) {
    HMODULE module = ::GetModuleHandleA(moduleName);
    if (module == nullptr) module = ::GetModuleHandleA(kThisLibraryModule);
    char* buffer = nullptr;
    // Argument-array mode with no array: the table's texts hold no inserts.
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                   FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                               module, id, langId, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (n == 0 || buffer == nullptr) return false;
    out.assign(buffer, n);
    ::LocalFree(buffer);
    return true;
}
