#include "common/framework/message_lookup.h"
#include "platform/format_message_win32.h"

const char* const kThisLibraryModule = "Pellux_noDB.dll";
const char* const kFamilyModule = "Pellux.dll";

bool LookupMessage(const char* moduleName, uint32_t id, uint32_t langId, std::string& out) {
    HMODULE module = ::GetModuleHandleA(moduleName);
    if (module == nullptr) module = ::GetModuleHandleA(kThisLibraryModule);
    // Argument-array mode with no array: the table's texts hold no inserts.
    return plat::FormatMessageInto(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        module, id, langId, nullptr, out);
}
