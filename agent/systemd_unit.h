// The agent's systemd unit: its name, where it lives, and its text.
#pragma once
#include <string>

// "Ombrex Quillon" as a unit name (unit names take no spaces).
extern const char* const kAgentUnitName;
// The folder of administrator-installed units.
extern const char* const kSystemUnitDir;

// The unit that runs `executable` with no arguments, so that the INI file
// beside it is used. Empty when the path cannot be written into a unit (not
// absolute, or holding a line break).
std::string AgentUnitText(const std::string& executable);

// True when systemd is the running service manager of this machine.
bool SystemdIsRunning();
