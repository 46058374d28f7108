// The in-house runtime functions the shared library builds on: path helpers,
// debug output, sleeping, bounded formatting and running a command line.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

#include "common/pellux_api.h"

#if defined(__clang__)
#define BRX_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#elif defined(__GNUC__)
#define BRX_PRINTF(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define BRX_PRINTF(fmt, first)
#endif

namespace brx {

// The directory separator as a NUL-terminated text ("\\" on Win32, "/" else).
PELLUX_API const char* GetDirectorySeparator();

// The short (8.3) form of an existing path on Win32; the path as given where
// the system has no short names or the path does not exist.
PELLUX_API std::string GetShortName(const char* path);

// The current directory; empty when the system cannot tell it.
PELLUX_API std::string GetCwd();

// Debug output of the whole process. It goes to standard error until a
// stream is set; every text is flushed at once, and texts of several
// threads never interleave.
class PELLUX_API CDebug {
public:
    // Later output goes to `stream` (standard error again for a null one).
    // The caller keeps the stream open while it is the output.
    static void SetDefaultOutput(FILE* stream);
    static void Output(const char* format, ...) BRX_PRINTF(1, 2);
};

// Sleeps the calling thread for `ms` milliseconds.
PELLUX_API void SleepMillSec(unsigned long ms);

// printf into `buffer` of `size` bytes: a text that does not fit is cut at
// size - 1 characters, and the buffer is always terminated (nothing is
// written when size is 0). Returns the number of characters stored.
PELLUX_API int sprintf(char* buffer, size_t size, const char* format, ...) BRX_PRINTF(3, 4);

// Runs `command` to its end (Linux: through /bin/sh -c; Win32: as a process
// command line, the program found by the system's search rules). True when it
// ran and ended with exit code 0. `mode` and `detached` are reserved: 0 and
// false are the only values, and others are refused with false.
PELLUX_API bool Execute(const char* command, int mode, bool detached);

}  // namespace brx
