// The library's own message table through the message formatter's rules, on
// the platform where the library carries the table itself (the Win32 library
// carries it as a message-table resource for the system's formatter).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/pellux_api.h"

// Flag of PelluxFormatMessage: leave "%1".."%99" and "%%" as written.
constexpr uint32_t kFormatIgnoreInserts = 0x200;

// Formats message `id` of the table in language `langId`: 0x409 English,
// 0x411 Japanese, 0x400 the user's default, 0 the user's default falling back
// to English; other languages have no rows. `inserts` as ExpandMessage takes
// them. False when there is no row or the text is malformed.
bool FormatTableMessage(uint32_t id, uint32_t langId, const char* const* inserts, size_t count,
                        bool ignoreInserts, std::string& out);

// The formatter export that callers of the library reach by name (the agent
// loads the library at run time): a malloc'ed text, released with free, or
// NULL when the table has no such id.
extern "C" PELLUX_API char* PelluxFormatMessage(uint32_t id, uint32_t langId,
                                                const char* const* inserts, size_t count,
                                                uint32_t flags);
