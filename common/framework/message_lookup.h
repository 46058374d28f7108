// One lookup of the library's text functions: the platform formatter over the
// message table of a module that is already loaded, found by its name.
#pragma once
#include <cstdint>
#include <string>

// Module names the text functions search, as the library's callers know them.
extern const char* const kThisLibraryModule;  // "Pellux_noDB.dll"
extern const char* const kFamilyModule;       // "Pellux.dll"

// Formats message `id` in language `langId` from the table of the loaded
// module named `moduleName` (nothing is loaded), then from the system's
// messages, in argument-array mode without arguments: "%%" gives "%", "%0"
// ends the text, a numbered insert fails the lookup. When no module of that
// name is loaded, this library's own table answers: the library is the one
// module that holds the table, whatever name a caller searches. False, and
// `out` untouched, when nothing has the id in that language.
//
// Win32: GetModuleHandleA and FormatMessageA. POSIX: "X.dll" is the shared
// object "libX.so", found among the loaded objects and asked through its
// PelluxFormatMessage export.
bool LookupMessage(const char* moduleName, uint32_t id, uint32_t langId, std::string& out);
