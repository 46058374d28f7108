// Opening a log-like file to add to it: created when missing, readable and
// writable by its owner only (a trace holds what the clients sent, passwords
// among it), and not inherited by programs this process starts.
#pragma once
#include <cstdio>
#include <string>

namespace plat {

// Opens `path` for appending bytes as given; null on failure (the system's
// code in plat::LastError()).
FILE* OpenForAppend(const std::string& path);

}  // namespace plat
