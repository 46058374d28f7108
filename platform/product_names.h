// The names an installed system knows the relay by: its service, its systemd
// unit, its INI file, its UDP port, its event source, and the sibling service
// that the updater stops and starts with it. The agent and the updater (which
// may include only platform/) both take them from here, and the packages in
// packaging/ repeat them: a value changed here must change there too.
#pragma once
#include <cstdint>

namespace plat {

// The service's name under the service control manager, the event source of
// its log entries, and the name of its runtime folder on Win32.
constexpr const char* kAgentServiceName = "Ombrex Quillon";
// The one-line description of the relay: its systemd unit and its account.
constexpr const char* kAgentDescription = "Ombrex Quillon UPS network relay";
// The service's name as a systemd unit (unit names take no spaces).
constexpr const char* kAgentUnitName = "ombrex-quillon.service";
// The INI file beside the program that the agent reads by default.
constexpr const char* kAgentIniName = "qln.ini";
// The UDP port the relay listens on unless its INI file says otherwise.
constexpr uint16_t kAgentDefaultPort = 7010;
// The systemd template unit of the further agents of a host, one per UPS.
constexpr const char* kAgentTemplateUnitName = "ombrex-quillon@.service";
// The registry key (under HKEY_LOCAL_MACHINE) that holds the event sources of
// the application log, one key each, named as the source is.
constexpr const char* kEventSourcesKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// The sibling agent on the same host, stopped and started again around an
// update: its service name and its systemd unit.
constexpr const char* kSiblingServiceName = "Ombrex Velmar";
constexpr const char* kSiblingUnitName = "ombrex-velmar.service";

}  // namespace plat
