// The text of an exception's message id with its insert strings.
#pragma once
#include <cstdint>
#include <string>

// Formats `id` in the user's default language from the module named
// "Pellux.dll" when one is loaded (else this library's table), then from the
// system's texts; "%1".."%99" take the inserts, and inserts beyond `count` are
// empty. False, and `out` untouched, when nothing has the id.
bool FormatExceptionText(uint32_t id, const char* const* inserts, unsigned short count,
                         std::string& out);
