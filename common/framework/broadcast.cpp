#include "common/framework/broadcast.h"

#include "common/framework/broadcast_command.h"
#include "common/framework/brx_runtime.h"

namespace {
// Room of the command line, terminator included.
constexpr size_t kCommandBuffer = 260;
}  // namespace

std::string EscapeBroadcastQuotes(const std::string& message) {
    std::string escaped;
    for (char c : message) {
        if (c == '"') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

bool Broadcast(const char* message, const std::list<std::string>& recipients) {
    std::string escaped = EscapeBroadcastQuotes(message ? message : "");
    for (const std::string& recipient : recipients) {
        if (recipient.empty()) continue;
        std::string command;
        if (!BroadcastCommand(recipient, escaped, kCommandBuffer, command)) return false;
        if (!brx::Execute(command.c_str(), 0, false)) return false;
    }
    return true;
}
