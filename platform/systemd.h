// systemd as the service manager: its command, its notification socket, its
// unit files, and whether it runs at all. Linux only; the states and
// controls both platforms share are in platform/service_status.h.
#pragma once
#include <string>
#include <vector>

#include "platform/run_command.h"

namespace plat {

// The folder of administrator-installed units. A constant of the header, not
// a global: the agent and the framework's library both link this seam, and
// one global defined in each is two definitions in one process.
constexpr const char* kSystemUnitDir = "/etc/systemd/system";

// True when systemd is the running service manager of this machine.
bool SystemdIsRunning();

// Runs systemctl with `args` and waits for it. Its exit status, or -1 (errno
// set) when it could not be run.
int Systemctl(std::vector<std::string> args, CommandOutput output = CommandOutput::Shown);
// The same, with what systemctl prints collected into `output` (its errors hidden).
int Systemctl(std::vector<std::string> args, std::string& output);

// The socket named by NOTIFY_SOCKET, taken out of the environment so that no
// child inherits it. Empty when no service manager listens for this process.
std::string TakeNotifySocket();

// Sends `message` ("READY=1", "STATUS=...", lines joined by '\n') to the
// socket, as the notification protocol defines it (one datagram), without
// libsystemd, without waiting: false when there is none or the datagram could
// not be sent now (the socket's queue is full).
bool SendServiceNotify(const std::string& socketPath, const std::string& message);

// The "ExecStart=" line (without its line break) that runs `executable` with
// no arguments: quoted, so that blanks, quotes, backslashes and '%' in the
// path stay part of it. Empty when the path cannot stand in a unit (not
// absolute, or holding a line break).
std::string UnitExecStart(const std::string& executable);

// Writes a new unit file, readable by everyone, through the file replacement
// (platform/file_replace.h: beside its final name, flushed, renamed into
// place, the folder flushed), so that systemd never reads half a file. False
// with errno set; EEXIST when the unit exists already (it is left alone).
bool WriteNewUnitFile(const std::string& path, const std::string& text);

}  // namespace plat
