#include <vector>

#include "platform/format_message_win32.h"
#include "platform/message_format.h"

namespace plat {

bool FormatModuleMessage(const Library& module, uint32_t id, const char* const* inserts,
                         size_t count, std::string& out) {
    DWORD flags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM;
    // The formatter reads as many inserts as the text names (up to %99), not
    // as many as were passed; hand it a full array of empty strings behind
    // the real ones so that a text with more inserts cannot read past them.
    std::vector<const char*> args(99, "");
    for (size_t i = 0; i < count && i < args.size(); ++i) args[i] = inserts[i] ? inserts[i] : "";
    if (count != 0) {
        flags |= FORMAT_MESSAGE_ARGUMENT_ARRAY;
    } else {
        flags |= FORMAT_MESSAGE_IGNORE_INSERTS;
    }
    return FormatMessageInto(flags, module.Handle(), id, kLangUserDefault,
                             count != 0 ? args.data() : nullptr, out);
}

}  // namespace plat
