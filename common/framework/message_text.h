// The library's message texts by id: the user's language, and English.
// None of the functions reads the profile; callers pass theirs or any pointer.
// They keep no state; any thread may call them.
#pragma once
#include <string>

#include "common/pellux_api.h"

class CProfile;

// "Japanese" when the text of MSG_CHANGES_SAVED in the user's default language is
// not the English one, otherwise (the English text, or no text) "English".
PELLUX_API std::string GetLanguage(CProfile* profile);

// The text of `id` in the user's default language with its line ends
// removed, converted from Shift-JIS to JIS when `toJis` is true; the empty
// string when the table has no such id. Texts are the table's bytes: code
// page 1252 for English, Shift-JIS for Japanese.
PELLUX_API std::string GetMessageText(CProfile* profile, unsigned long id, bool toJis);

// The English text of `id` with its line ends removed; empty when unknown.
PELLUX_API std::string GetEnglishMessageText(CProfile* profile, unsigned long id);
