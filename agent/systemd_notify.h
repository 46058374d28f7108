// Readiness and status messages to systemd, sent as the service manager's
// notification protocol defines them (one datagram to $NOTIFY_SOCKET), without
// linking libsystemd.
#pragma once
#include <string>

// The socket named by NOTIFY_SOCKET, taken out of the environment so that no
// child inherits it. Empty when no service manager listens for this process.
std::string TakeNotifySocket();

// Sends `message` ("READY=1", "STATUS=...", lines joined by '\n') to the
// socket. False when there is none or the datagram could not be sent.
bool SendServiceNotify(const std::string& socketPath, const std::string& message);
