// Opening a log-like file to add to it: created when missing, readable and
// writable by its owner only (a trace holds what the clients sent), and not
// inherited by programs this process starts.
#pragma once
#include <cstdio>
#include <string>

#include "platform/file_guard.h"

namespace plat {

// Opens `path` for appending bytes as given. Only a regular file of the
// agent's own account is taken, never through a link and never waiting on a
// FIFO, in a folder CheckWritePlace accepts. Null on failure, with the reason
// in `why` (and for kSystem the system's code in plat::LastError()).
FILE* OpenForAppend(const std::string& path, FileRefusal& why);

}  // namespace plat
