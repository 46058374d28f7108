// The platform command line that sends one broadcast message.
#pragma once
#include <string>

// Double quotes of `message` with a backslash in front of each.
std::string EscapeBroadcastQuotes(const std::string& message);

// The command for one recipient and the escaped message, bounded to `limit`
// characters as the command interpreter takes them. False when no command can
// be built safely (the caller then sends nothing).
bool BroadcastCommand(const std::string& recipient, const std::string& escaped, size_t limit,
                      std::string& command);
