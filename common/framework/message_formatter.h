// The message formatter's rules for a text of the message table, for the
// platform that has no formatter of its own. They are those of the Win32
// formatter (FormatMessageA without a width limit), byte by byte:
//   "%0"          ends the text here (no line end follows)
//   "%n"          a line end; "%r" a carriage return; "%t" a tab
//   "%1".."%99"   insert 1 to 99 (two digits at most: "%100" is insert 10
//                 and "0"), optionally with a printf format for a string
//                 between "!"s ("%1!-8s!")
//   "%" + other   that character alone ("%%" gives "%", "% " a blank)
//   line breaks   CR LF, a lone LF and a lone CR each become `lineEnd`
// Inserts go in as they stand. With `ignoreInserts`, "%1".."%99" and "%"
// before any other character stay as written; "%0", "%n", "%r", "%t" and
// the line breaks are still applied.
#pragma once
#include <cstddef>
#include <string>

// Expands `text`. `inserts` may be null: then no argument array was given
// and an insert in the text fails, as it does for the Win32 formatter; with
// an array, inserts past `count` are empty. False (and `out` not to be used) for
// a malformed text: a "%" at its very end, an unclosed "!format!", an empty
// or "*" format, or an insert without an array.
bool ExpandMessage(const std::string& text, const char* const* inserts, size_t count,
                   bool ignoreInserts, const char* lineEnd, std::string& out);
