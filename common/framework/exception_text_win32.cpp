#include <vector>

#include "common/framework/exception_text.h"
#include "common/framework/message_lookup.h"
#include "platform/format_message_win32.h"

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
    return plat::FormatMessageInto(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        module, id, LANG_USER_DEFAULT, args.data(), out);
}
