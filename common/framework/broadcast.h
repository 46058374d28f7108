// A text message to network recipients, one command per recipient.
#pragma once
#include <list>
#include <string>

#include "common/pellux_api.h"

// Sends `message` to each non-empty name of `recipients` in order; false at
// the first command that fails (the names after it get nothing). Win32 runs
// "net send <name> <message>". Linux has no messenger service of its own: the
// message goes to the same kind of recipient (a NetBIOS name) through Samba's
// messenger client, "smbclient -N -M <name>", with the message on its input.
PELLUX_API bool Broadcast(const char* message, const std::list<std::string>& recipients);
