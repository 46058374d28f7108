// The agent's systemd unit: its name, where it lives, and its text.
#pragma once
#include <string>

#include "agent/instance_names.h"
#include "platform/product_names.h"

// The dedicated system account the unit runs the agent as, and the group that
// serial devices belong to on Debian.
extern const char* const kAgentAccount;
extern const char* const kSerialGroup;
// The INI file beside `executable` (plat::kAgentIniName), the one the service
// reads: the unit gives no -c; the Debian package's copy of the unit adds
// -c /etc/qln/qln.ini.
std::string AgentIniPath(const std::string& executable);

// The unit that runs `executable` with no arguments, so that the INI file
// beside it is used, in a sandbox: no privileges, a read-only system, no
// home folders, a private /tmp, serial devices only, IPv4 and local sockets
// only, the system calls of a system service. The INI file stays writable:
// the agent's reader opens it for reading and update, and takes an INI file
// it cannot open so as absent. `account` is the account it
// runs as, with the serial group beside its own; "" keeps root (without
// capabilities), and `whyRoot` then says why in a comment. Empty when the
// path cannot be written into a unit (not absolute, or holding a line break).
std::string AgentUnitText(const std::string& executable, const std::string& account,
                          const std::string& whyRoot = "");

// The template unit: the same unit and sandbox, but instance NAME (%i) runs
// `executable` with "-n NAME" (so it reads NAME.ini beside it; the Debian
// package's copy adds -c /etc/qln/NAME.ini), keeps its named events and
// status record in the runtime folder /run/qln-NAME, and is tagged
// "qln@NAME" in the journal, its reports and its output alike.
std::string AgentTemplateUnitText(const std::string& executable, const std::string& account,
                                  const std::string& whyRoot = "");
