// The relay agent's command line, parsed without acting on it, so that the
// entry can carry out the result and the parse can be checked on its own.
#pragma once
#include <string>

enum class AgentAction { Run, Install, Remove, Start, Stop, Pause, Resume, Status, Usage };

struct AgentCommandLine {
    // How many arguments asked for the version; any makes the entry print the
    // version line that often and do nothing else.
    int versionRequests = 0;
    // What the entry does: run the agent, carry out one service verb, or show
    // the usage text. Parsing stops at the first verb or the first bad word.
    AgentAction action = AgentAction::Run;
    bool serviceMode = true;   // off after "daemon"
    bool internalXcp = false;  // "-i"
    bool configGiven = false;  // "-c file" seen; configPath holds the last one
    std::string configPath;
    bool json = false;  // "status --json"
    // "-n name": which further instance of the agent on this host (its
    // service, events, status record); "" for the default one.
    std::string instanceName;
};

// Whether `name` may name an instance: 1 to 32 letters, digits, '-' or '_',
// so that it fits a Windows service name, a systemd instance and a file name.
bool IsInstanceName(const std::string& name);

// argv[0] is the program name and is not read; argv[1..argc-1] must be
// NUL-terminated strings.
AgentCommandLine ParseAgentCommandLine(int argc, const char* const* argv);
