#include "agent/systemd_unit.h"
#include "platform/product_names.h"
#include "platform/systemd.h"

const char* const kAgentAccount = "qln";
const char* const kSerialGroup = "dialout";

namespace {

bool StartsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

// ProtectHome=yes hides the home folders altogether: a program installed in
// one (and the INI file beside it) must stay readable.
bool InHomeFolder(const std::string& path) {
    return StartsWith(path, "/home/") || StartsWith(path, "/root/") ||
           StartsWith(path, "/run/user/");
}

}  // namespace

std::string AgentIniPath(const std::string& executable) {
    return executable.substr(0, executable.rfind('/') + 1) + plat::kAgentIniName;
}

// The notify type makes "started" mean that the worker has found the UPS: the
// agent sends READY=1 then. Stop and shutdown arrive as SIGTERM.
//
// The sandbox follows what the agent does: it reads its program files and its
// INI file, opens one serial device, binds one IPv4 UDP socket, talks to
// systemd and syslog over local sockets, and keeps its named events (FIFOs)
// and its status file in its runtime folder /run/qln, which only its account
// may enter ("qln status" looks there too). It writes nothing else: its INI
// file stays read-only to it. Serial devices are the
// ttyS, ttyUSB and ttyACM majors, and
// pseudo-terminal slaves for a simulated line (their own modes still keep the
// account from other users' terminals); a major that no driver has registered
// when the service starts (a USB adapter plugged in later) is not admitted
// until the next start.
namespace {

// What sets one unit of the agent apart from another; the rest, above all the
// sandbox, is the same for all.
struct UnitShape {
    const char* description;  // after the product's words
    const char* arguments;    // after the program on the ExecStart= line
    const char* runtimeFolder;
    const char* syslogTag;  // "" keeps the program's name
};

std::string UnitText(const std::string& executable, const std::string& account,
                     const std::string& whyRoot, const UnitShape& shape) {
    std::string execStart = plat::UnitExecStart(executable);
    if (execStart.empty()) return std::string();
    if (account.find_first_of(" \t\r\n\"'\\%") != std::string::npos) return std::string();
    // The unit text reads as the file it becomes.
    // clang-format off
    std::string who;
    if (!account.empty()) {
        who = "User=" + account + "\n"
              "Group=" + account + "\n"
              "SupplementaryGroups=" + kSerialGroup + "\n";
    } else {
        std::string why;
        for (char c : whyRoot) why += (c == '\r' || c == '\n') ? ' ' : c;
        who = "# Runs as root, without capabilities: " + (why.empty() ? "as installed" : why) + "\n";
    }
    return "[Unit]\n"
           "Description=" + std::string(plat::kAgentDescription) + shape.description + "\n"
           "After=network.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "NotifyAccess=main\n" +
           execStart + shape.arguments + "\n"
           "KillMode=mixed\n"
           "KillSignal=SIGTERM\n" +
           who +
           "RuntimeDirectory=" + shape.runtimeFolder + "\n"
           "RuntimeDirectoryMode=0700\n"
           "UMask=0077\n" +
           (*shape.syslogTag ? std::string("SyslogIdentifier=") + shape.syslogTag + "\n" : "") +
           "NoNewPrivileges=yes\n"
           "CapabilityBoundingSet=\n"
           "AmbientCapabilities=\n"
           "ProtectSystem=strict\n" +
           (InHomeFolder(executable) ? "ProtectHome=read-only\n" : "ProtectHome=yes\n") +
           "PrivateTmp=yes\n"
           "PrivateMounts=yes\n"
           "PrivateIPC=yes\n"
           "RemoveIPC=yes\n"
           "KeyringMode=private\n"
           "DevicePolicy=closed\n"
           "DeviceAllow=char-ttyS rw\n"
           "DeviceAllow=char-ttyUSB rw\n"
           "DeviceAllow=char-ttyACM rw\n"
           "DeviceAllow=char-pts rw\n"
           "RestrictAddressFamilies=AF_INET AF_UNIX\n"
           "SystemCallFilter=@system-service\n"
           "SystemCallFilter=~@privileged @resources\n"
           "SystemCallErrorNumber=EPERM\n"
           "SystemCallArchitectures=native\n"
           "ProtectKernelTunables=yes\n"
           "ProtectKernelModules=yes\n"
           "ProtectKernelLogs=yes\n"
           "ProtectControlGroups=yes\n"
           "ProtectClock=yes\n"
           "ProtectHostname=yes\n"
           "ProtectProc=invisible\n"
           "ProcSubset=pid\n"
           "RestrictNamespaces=yes\n"
           "RestrictRealtime=yes\n"
           "RestrictSUIDSGID=yes\n"
           "LockPersonality=yes\n"
           "MemoryDenyWriteExecute=yes\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
    // clang-format on
}

}  // namespace

std::string AgentUnitText(const std::string& executable, const std::string& account,
                          const std::string& whyRoot) {
    return UnitText(executable, account, whyRoot, {"", "", "qln", ""});
}

// One agent per UPS: instance NAME is "qln -n NAME" with a runtime folder, and
// so named events and a status record, of its own, and its reports and
// output in the journal under "qln@NAME". The instance name is a unit
// instance's: systemd escapes anything but letters, digits, ':', '_' and '.'
// in it, and "qln -n" takes letters, digits, '-' and '_' only.
std::string AgentTemplateUnitText(const std::string& executable, const std::string& account,
                                  const std::string& whyRoot) {
    return UnitText(executable, account, whyRoot, {" (%i)", " -n %i", "qln-%i", "qln@%i"});
}
