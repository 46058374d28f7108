// The platform message formatter over a module's message table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/module.h"

namespace plat {

// Language id of the user's default language, as the formatter takes it.
constexpr uint32_t kLangUserDefault = 0x400;

// Formats message `id` as the platform formatter does: from `module`'s message
// table first, then from the system's texts, in the user's default language;
// `inserts` fill %1, %2, ... (missing ones are empty); with no inserts the
// text's inserts and "%%" stay as written. The result is the formatter's text
// unchanged (table texts keep their line end, in the table's code page).
// False, and `out` untouched, when neither the module nor the system has the id.
//
// On Win32 this is FormatMessageA. On POSIX the shared library exports the
// formatter itself:
//   extern "C" char* PelluxFormatMessage(uint32_t id, uint32_t langId,
//                                        const char* const* inserts, size_t count,
//                                        uint32_t flags);
// (flags 0x200: inserts ignored) returning a malloc'ed text (released with
// free) or NULL when its table has no such id; the system's texts come from
// strerror.
bool FormatModuleMessage(const Library& module, uint32_t id, const char* const* inserts,
                         size_t count, std::string& out);

}  // namespace plat
