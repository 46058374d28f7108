// "qln status [--json]": reads the status file of the agent that the INI
// file at `configPath` configures and prints it for a person or, with
// `json`, for a program. The exit status follows the service status
// commands' conventions: 0 running with the UPS attached, 3 not running (or
// no status file), 1 not running although its file says it runs (the agent
// died), 4 the status cannot be told (the INI file's settings are not
// valid, or the status file is there but may not be read); and from the range left to programs, 150
// running but searching for the UPS, 151 running but paused.
#pragma once
#include <string>

constexpr int kStatusAttached = 0;
constexpr int kStatusDied = 1;
constexpr int kStatusNotRunning = 3;
constexpr int kStatusUnknown = 4;
constexpr int kStatusSearching = 150;
constexpr int kStatusPaused = 151;

// `instance` (from "-n NAME" without "-c"): the agent whose record names
// that instance, in any runtime folder of the host; only when none does, the
// one the INI file at `configPath` configures.
int ShowStatus(const std::string& configPath, bool json, const std::string& instance = "");

// "qln status [--json]" without -c or -n: one line (or one JSON object of an
// array) for every running agent whose record the host's runtime folders
// hold (plat::AgentRuntimeFolders). The exit status is the worst of theirs,
// from best to worst: attached 0, paused 151, searching 150; 3 when none
// runs; 4 when a folder or record may not be read (cannot tell).
int ShowHostStatus(bool json);
