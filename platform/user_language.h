// The user's default language, and texts made readable in the user's locale.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// Language ids as the message formatter takes them.
constexpr uint32_t kLangNeutral = 0x000;
constexpr uint32_t kLangEnglishUS = 0x409;
constexpr uint32_t kLangJapanese = 0x411;

// The user's default language id: GetUserDefaultLangID on Win32; on POSIX the
// first set of LC_ALL, LC_MESSAGES and LANG, where "ja..." is Japanese and
// anything else (unset, "C", other languages) English.
uint32_t UserLanguageId();

// A formatter text turned into what a person at this machine can read. Win32
// consoles and the event log take the ANSI code page as it is, so the text is
// unchanged. On POSIX the text is in the code page of the user's language
// (932 for Japanese, 1252 otherwise) and is converted to the locale's
// character set (the codeset of LC_ALL, LC_CTYPE or LANG; UTF-8 when none is
// named); bytes that do not convert become "?".
std::string ForReader(const std::string& text);

}  // namespace plat
