// The platform's own message formatter over a text: FormatMessageA on Win32,
// the library's formatter on POSIX. The formatter tests hold both to the same
// cases.
#pragma once
#include <cstddef>
#include <string>

// `inserts` null: argument-array mode without an array (or inserts ignored).
bool PlatformFormat(const std::string& text, const char* const* inserts, size_t count,
                    bool ignoreInserts, std::string& out);
