// The system log: the Win32 event log, syslog on Linux.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// Event types of an entry.
constexpr uint16_t kEventSuccess = 0;
constexpr uint16_t kEventError = 1;
constexpr uint16_t kEventWarning = 2;
constexpr uint16_t kEventInformation = 4;

// Registers `source` on the local machine, writes one entry (category 0, event
// id `id`, the strings as its insertion strings, no user, no data) and
// deregisters. A log that stores texts rather than ids (syslog) takes `text`,
// the formatted message, with a priority from `type`, under the program's
// own name as its identifier (the tag `journalctl -t` finds; `source` names
// the Win32 event source only). False when nothing was written.
bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id, const char* const* strings,
                        uint16_t count, const std::string& text);

// Names the entries of one agent among several on the host: on syslog the
// tag becomes "<program>@<instance>" ("qln@ups2"), so that `journalctl -t
// qln` keeps showing the default agent alone. Call it before the first
// entry. The Win32 event log names its source only: no change there.
void SetEventLogInstance(const std::string& instance);

}  // namespace plat
