// The service side of the agent: the verbs of the command line and the
// connection to the service manager's dispatcher.
#pragma once
#include <cstdint>
#include <string>

enum class ServiceControl { Start, Stop, Pause, Continue };

// Each verb ends the process: 0 after its message on standard output, -1
// after the system's text for the failure on standard error. `instance` is
// the further instance the verb is about ("-n NAME"), "" for the default
// agent, whose service each verb serves as it always has; `configPath` is
// the INI file an instance's service is to read (Windows; on Linux the
// template unit names /etc/qln/NAME.ini).
[[noreturn]] void InstallService(const std::string& instance = "",
                                 const std::string& configPath = "");
[[noreturn]] void RemoveService(const std::string& instance = "");
[[noreturn]] void ControlAgentService(ServiceControl control, const std::string& instance = "");

// Hands the main thread to the service manager's dispatcher with the agent's
// service main. Returns 0 when the dispatcher returned (the service stopped),
// otherwise the platform error of the failed connection; the value
// plat::kErrServiceNotConnected means the process was not started as a service.
uint32_t RunServiceDispatcher();

// The process's exit status once the dispatcher has returned: under systemd
// a service that stopped on an error (a refused start among them) exits 1,
// so that the service manager sees the failure; the Win32 service control
// manager takes the service's exit code from its status, and the process
// exits 0 as before.
int ServiceProcessExitStatus();

// The one-line status the service manager shows beside the service's state
// (systemd's STATUS=); nothing where the service manager has no such line.
// The host's own state reports carry the last line too. Never waits for the
// service manager: false when the line could not be handed over now.
bool TellServiceManager(const std::string& statusLine);
