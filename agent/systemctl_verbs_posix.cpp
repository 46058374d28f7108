#include "agent/systemctl_verbs.h"
#include "platform/systemd.h"

std::vector<std::string> SystemctlArgs(AgentAction action, const std::string& unit) {
    switch (action) {
        case AgentAction::Install:
            return {"enable", "--now", unit};
        case AgentAction::Remove:
            return {"disable", "--now", unit};
        case AgentAction::Start:
            return {"start", unit};
        case AgentAction::Stop:
            return {"stop", unit};
        case AgentAction::Pause:
            return {"kill", "--kill-who=main", "--signal=SIGUSR1", unit};
        case AgentAction::Resume:
            return {"kill", "--kill-who=main", "--signal=SIGUSR2", unit};
        case AgentAction::Run:
        case AgentAction::Status:
        case AgentAction::Usage:
            break;
    }
    return {};
}

const std::vector<std::string>& UnitFolders() {
    static const std::vector<std::string> folders{plat::kSystemUnitDir, "/usr/lib/systemd/system",
                                                  "/lib/systemd/system"};
    return folders;
}
