#include <unistd.h>

#include "agent/systemd_unit.h"

const char* const kAgentUnitName = "ombrex-quillon.service";
const char* const kSystemUnitDir = "/etc/systemd/system";

namespace {

// ExecStart= takes a quoted word; inside quotes a backslash and a quote are
// escaped, and every '%' is a specifier unless doubled.
std::string QuotedExecPath(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '\\' || c == '"') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

// The notify type makes "started" mean that the worker has found the UPS: the
// agent sends READY=1 then. Stop and shutdown arrive as SIGTERM.
std::string AgentUnitText(const std::string& executable) {
    if (executable.empty() || executable[0] != '/') return std::string();
    if (executable.find_first_of("\r\n") != std::string::npos) return std::string();
    return "[Unit]\n"
           "Description=Ombrex Quillon UPS network relay\n"
           "After=network.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "NotifyAccess=main\n"
           "ExecStart=" + QuotedExecPath(executable) + "\n"
           "KillMode=mixed\n"
           "KillSignal=SIGTERM\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

bool SystemdIsRunning() { return ::access("/run/systemd/system/", F_OK) == 0; }
