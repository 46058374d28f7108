// Debug lines of the framework: message-table texts used as printf formats,
// written through the debug output without ever reading an argument that
// was not passed (converted Japanese texts hold stray percent signs).
#pragma once
#include <cstdarg>
#include <initializer_list>
#include <string>

#include "common/framework/safe_format.h"

class CProfile;

// The converted text of `id` formatted with `args`, as one debug line.
void WriteDebugMessageArgs(CProfile* pProfile, unsigned long id,
                           std::initializer_list<CFormatArg> args);

template <typename... Args>
void WriteDebugMessage(CProfile* pProfile, unsigned long id, const Args&... args) {
    WriteDebugMessageArgs(pProfile, id, {CFormatArg(args)...});
}

// The same for a caller's variable arguments: the English text of `id`, whose
// conversions the caller wrote the arguments for, says how many there are and
// of which kind.
void WriteDebugMessageV(CProfile* pProfile, unsigned long id, va_list args);

// A caller's own printf format and arguments, as one debug text.
void WriteDebugV(const char* format, va_list args);
