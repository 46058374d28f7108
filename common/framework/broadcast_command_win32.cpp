#include <vector>

#include "common/framework/broadcast_command.h"
#include "common/framework/brx_runtime.h"

// The command runs as a process command line, not through the command
// interpreter, so the message needs no quoting beyond its escaped quotes; a
// message too long for the buffer is cut, as the messenger would cut it.
bool BroadcastCommand(const std::string& recipient, const std::string& escaped, size_t limit,
                      std::string& command) {
    std::vector<char> buffer(limit);
    brx::sprintf(buffer.data(), limit, "net send %s %s", recipient.c_str(), escaped.c_str());
    command = buffer.data();
    return true;
}
