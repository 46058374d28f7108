// Line ends: the platform's own, and text compared without them.
#pragma once
#include <string>

// The platform's line end, as the message formatter writes it.
extern const char* const kPlatformLineEnd;  // "\r\n" on Win32, "\n" on POSIX

// `text` with every "\r\n" made "\n": a Win32 program's standard streams are
// in text mode, so tests compare lines, not line ends.
std::string Lf(const std::string& text);
