// What a service verb asks of systemctl for a unit that is in place: the
// default agent's unit or an instance of the template unit.
#pragma once
#include <string>
#include <vector>

#include "agent/command_line.h"

// systemctl's arguments for `action` on `unit`: start and stop are
// systemctl's own; pause and resume send the running agent's main process the
// signals it takes for those controls (SIGUSR1, SIGUSR2); install and remove
// enable and start, or stop and disable, a unit that needs no file written
// (an instance of the template unit). Empty for the actions that are no verb.
std::vector<std::string> SystemctlArgs(AgentAction action, const std::string& unit);

// The folders systemd reads units from, the administrator's first: where an
// installed template unit is looked for.
const std::vector<std::string>& UnitFolders();
