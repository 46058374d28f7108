// Where the agent keeps what it tells others about itself at run time (its
// status file): a folder that only the agent's account and administrators
// may write.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

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
// Every folder an agent of this host may keep its status record in, each
// once, the service's first: on Linux /run/qln (the plain unit's), each
// /run/qln-* (the template unit's instances, and root's agents started by
// hand), and this account's own (AgentRuntimeFolder); only
// $QLN_EVENT_DIR when that is set. On Win32 the one folder.
std::vector<std::string> AgentRuntimeFolders();
// The names in `folder` (no "." or ".."), sorted; nothing is opened or
// followed. False, with `error` set, when the folder is there but cannot be
// listed; a missing folder lists nothing.
bool ListRuntimeFolder(const std::string& folder, std::vector<std::string>& names, uint32_t& error);
// `folder` and `name` joined by the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);
// The folder of the file at `path` ("" when it names none).
std::string FolderOf(const std::string& path);

// Makes `folder` when it is missing, writable by this account and the
// administrators only. False when it is missing and cannot be made.
bool MakeAgentRuntimeFolder(const std::string& folder);

// Whether `folder` is the account's own as the named events require of
// theirs: a folder (not a link), owned by this account, closed to every
// other account. Always true on Win32, where the agent's folder gets its
// access list when it is made.
bool IsPrivateFolder(const std::string& folder);

// How a record the agent wrote for others (its status file) was read.
enum class RecordRead {
    kRead,        // `text` holds it
    kMissing,     // no file there
    kUnreadable,  // there, but it cannot be opened or read: `error` says why
    kForeign,     // it or its folder is not the agent's account's (POSIX)
    kNotRegular,  // a FIFO, a device, a folder, a link: not opened or not read
    kTooLarge,    // larger than `limit` bytes
};
// Reads the record at `path` without ever blocking and never more than
// `limit` bytes: only a regular file, opened without following a link at its
// end. On POSIX also only when the file and its folder belong to one
// account, nobody else may write either, and that account is the asker's,
// root, or one that only root can have given the folder (its parent is
// root's and closed to writes by others, like systemd's runtime folders).
RecordRead ReadAgentRecord(const std::string& path, size_t limit, std::string& text,
                           uint32_t& error);

// This process's id, and whether a process of that id is running now.
uint32_t CurrentProcessId();
bool ProcessIsRunning(uint32_t id);

}  // namespace plat
