// The platform's line end, as the message formatter writes it.
#pragma once

extern const char* const kPlatformLineEnd;  // "\r\n" on Win32, "\n" on POSIX
