#include <cstdlib>

#include "platform/errors.h"
#include "platform/message_format.h"
#include "platform/scoped_handle.h"

namespace plat {

namespace {
using FormatFn = char* (*)(uint32_t, uint32_t, const char* const*, size_t, uint32_t);
constexpr uint32_t kIgnoreInserts = 0x200;
}  // namespace

bool FormatModuleMessage(const Library& module, uint32_t id, const char* const* inserts,
                         size_t count, std::string& out) {
    auto format = reinterpret_cast<FormatFn>(module.Symbol("PelluxFormatMessage"));
    if (format) {
        ScopedMallocText text(format(id, kLangUserDefault, count != 0 ? inserts : nullptr, count,
                                     count != 0 ? 0 : kIgnoreInserts));
        if (text) {
            out = text.Get();
            return true;
        }
    }
    return SystemErrorText(id, out);
}

}  // namespace plat
