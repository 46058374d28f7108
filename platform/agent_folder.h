// Where the agent keeps what it tells others about itself at run time (its
// status file): a folder that only the agent's account and administrators
// may write.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// The folder, without a trailing separator. On POSIX it is the folder of the
// account's named events (see platform/event.h): the service's runtime folder
// under systemd. On Win32 a folder under the common application data folder.
std::string AgentRuntimeFolder();
// The file `name` in that folder.
std::string AgentRuntimeFile(const std::string& name);
// Where the agent installed as a service keeps it, as a program started
// from a shell cannot tell from its own environment: systemd's runtime
// folder of the agent's unit on Linux; the same folder on Win32.
std::string ServiceRuntimeFolder();
// `folder` and `name` joined by the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);
// The folder of the file at `path` ("" when it names none).
std::string FolderOf(const std::string& path);

// Makes `folder` when it is missing, writable by this account and the
// administrators only. False when it is missing and cannot be made.
bool MakeAgentRuntimeFolder(const std::string& folder);

// This process's id, and whether a process of that id is running now.
uint32_t CurrentProcessId();
bool ProcessIsRunning(uint32_t id);

}  // namespace plat
