#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/agent_folder.h"

namespace plat {

// Defined beside the named events, so that the two never disagree.
std::string NamedEventFolder();

std::string AgentRuntimeFolder() { return NamedEventFolder(); }

// Made as the named events make it: 0700, so that their check of the folder
// still holds.
std::string AgentRuntimeFile(const std::string& name) { return AgentRuntimeFolder() + "/" + name; }

std::string FolderOf(const std::string& path) {
    size_t end = path.find_last_of("/");
    return end == std::string::npos ? std::string() : path.substr(0, end);
}

// The RuntimeDirectory= of the unit that "qln install" writes.
std::string ServiceRuntimeFolder() { return "/run/qln"; }

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

bool MakeAgentRuntimeFolder(const std::string& folder) {
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

// A process of another account still counts: the signal is refused, not lost.
bool ProcessIsRunning(uint32_t id) {
    if (id == 0) return false;
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

}  // namespace plat
