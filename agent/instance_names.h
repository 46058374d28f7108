// The names one agent of the host goes by with the service manager. The
// default agent keeps the names it always had; a further instance ("-n
// NAME") carries its name in each, so that instances never share one.
#pragma once
#include <string>

// The Windows service of `instance` ("" for the default one): its service
// name, display name and event-log source. plat::kAgentServiceName for the
// default, else that name, a blank and the instance ("Ombrex Quillon b").
// The blank, not a '$' or '-': an instance name holds none, so the name
// stays unambiguous, reads as a name in the service list, and follows the
// named events ("UPS Found b").
std::string AgentServiceName(const std::string& instance);

// The registry key (under HKEY_LOCAL_MACHINE) of the Windows event-log
// source `serviceName`: every service registers its own at its start.
std::string EventSourceKey(const std::string& serviceName);

// The unit of the instance `instance` made from systemd's template unit
// (plat::kAgentTemplateUnitName; instance NAME runs "qln -n NAME"):
// "ombrex-quillon@b.service".
std::string AgentInstanceUnitName(const std::string& instance);
