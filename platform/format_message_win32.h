// The one call of FormatMessageA that lets the system allocate the text.
#pragma once
#include <string>

#include "platform/windows_wrapper.h"

namespace plat {

// FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, ...) into `out`; the
// system's buffer is freed also when the copy into `out` throws. `args` goes
// to the formatter as its argument array (null for none). False, and `out`
// untouched, when the formatter gives no text.
bool FormatMessageInto(DWORD flags, const void* source, DWORD id, DWORD languageId,
                       const char* const* args, std::string& out);

}  // namespace plat
