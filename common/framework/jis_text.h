// Shift-JIS text to 7-bit JIS with escape sequences, in the form that the
// family's web interfaces take: double-byte runs between ESC "$B" and ESC "(B",
// with the characters that would break a form value written as "%xx".
#pragma once
#include <string>

// Converts `text` byte by byte. A lead byte (0x81-0x9F, 0xE0-0xFC) takes the
// next byte as its trail byte; the pair becomes a JIS pair (J1, J2), written
// as J1 J2 unless it holds one of # " & ' or is "$$": then J1 and the escape
// of the first such character ("%23", "%22", "%26", "%27", or "%24%24%24"
// for "$$") are written in its place. Any other byte, half-width katakana
// included, is copied. A lead byte with no trail byte is copied as a single
// byte. Plain ASCII comes back unchanged.
std::string ShiftJisToJis(const std::string& text);
