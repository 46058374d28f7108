#include "common/framework/message_formatter.h"
#include "platform_format.h"

bool PlatformFormat(const std::string& text, const char* const* inserts, size_t count,
                    bool ignoreInserts, std::string& out) {
    return ExpandMessage(text, inserts, count, ignoreInserts, "\n", out);
}
