// The names one agent of the host goes by with the service manager. The
// default agent keeps the names it always had; a further instance ("-n
// NAME") carries its name in each, so that instances never share one.
#pragma once
#include <string>

// The Windows service of `instance` ("" for the default one): its service
// name, display name and event-log source. kAgentServiceName for the
// default, else that name, a blank and the instance ("Ombrex Quillon b").
// The blank, not a '$' or '-': an instance name holds none, so the name
// stays unambiguous, reads as a name in the service list, and follows the
// named events ("UPS Found b").
std::string AgentServiceName(const std::string& instance);

// The registry key (under HKEY_LOCAL_MACHINE) of the Windows event-log
// source `serviceName`: every service registers its own at its start.
std::string EventSourceKey(const std::string& serviceName);

// systemd's template unit of the further instances (instance NAME runs
// "qln -n NAME"), and the unit of the instance `instance` made from it
// ("ombrex-quillon@b.service").
extern const char* const kAgentTemplateUnitName;
std::string AgentInstanceUnitName(const std::string& instance);

// The verbs' failures on an instance (insertion strings in brackets).
constexpr unsigned kMsgInstanceIniMissing = 0xC0020190u;    // instance, INI file
constexpr unsigned kMsgInstanceInstalled = 0xC0020191u;     // instance, service
constexpr unsigned kMsgInstanceNotInstalled = 0xC0020192u;  // instance, service
constexpr unsigned kMsgInstanceNoTemplate = 0xC0020193u;    // instance, template unit
constexpr unsigned kMsgInstanceNotStarted = 0xC0020194u;    // instance, service
