#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/agent_folder.h"
#include "platform/scoped_handle.h"

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

namespace {

bool StartsWith(const std::string& text, const char* head) {
    return text.compare(0, std::char_traits<char>::length(head), head) == 0;
}

// The names in `folder` that `keep` accepts, sorted.
bool ListNames(const std::string& folder, std::vector<std::string>& names, uint32_t& error,
               bool (*keep)(const std::string& folder, const struct dirent& entry)) {
    names.clear();
    error = 0;
    ScopedDir dir(::opendir(folder.c_str()));
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR) return true;
        error = static_cast<uint32_t>(errno);
        return false;
    }
    while (const struct dirent* entry = ::readdir(dir.Get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (keep(folder, *entry)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return true;
}

// A folder "qln-*" in /run, as lstat sees it: a link there is not followed.
bool IsInstanceFolder(const std::string& folder, const struct dirent& entry) {
    std::string name = entry.d_name;
    if (!StartsWith(name, "qln-")) return false;
    struct stat st {};
    return ::lstat(JoinPath(folder, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool AnyName(const std::string&, const struct dirent&) { return true; }

}  // namespace

std::vector<std::string> AgentRuntimeFolders() {
    const char* given = ::getenv("QLN_EVENT_DIR");
    if (given && *given) return {AgentRuntimeFolder()};
    std::vector<std::string> folders{ServiceRuntimeFolder()};
    std::vector<std::string> names;
    uint32_t error = 0;
    ListNames("/run", names, error, IsInstanceFolder);
    for (const std::string& name : names) folders.push_back("/run/" + name);
    std::string own = AgentRuntimeFolder();
    if (std::find(folders.begin(), folders.end(), own) == folders.end()) folders.push_back(own);
    return folders;
}

bool ListRuntimeFolder(const std::string& folder, std::vector<std::string>& names,
                       uint32_t& error) {
    return ListNames(folder, names, error, AnyName);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

bool MakeAgentRuntimeFolder(const std::string& folder) {
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

namespace {

bool OthersMayWrite(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

// The account of a record's folder is the agent's when it is the asker's or
// root's, or when only root can have made the folder for it.
bool TrustedOwner(int dirFd, const struct stat& folder) {
    if (folder.st_uid == ::geteuid() || folder.st_uid == 0) return true;
    struct stat parent {};
    return ::fstatat(dirFd, "..", &parent, 0) == 0 && parent.st_uid == 0 && !OthersMayWrite(parent);
}

}  // namespace

RecordRead ReadAgentRecord(const std::string& path, size_t limit, std::string& text,
                           uint32_t& error) {
    text.clear();
    error = 0;
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    auto failed = [&error](RecordRead why) {
        error = static_cast<uint32_t>(errno);
        return why;
    };
    // Links in the folder's path are the administrator's to make; the file's
    // own name is not followed.
    ScopedFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return failed(errno == ENOENT ? RecordRead::kMissing : RecordRead::kUnreadable);
    ScopedFd file(::openat(dir.Get(), name.c_str(),
                           O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!file) {
        if (errno == ENOENT) return RecordRead::kMissing;
        if (errno == ELOOP || errno == ENXIO) return failed(RecordRead::kNotRegular);
        return failed(RecordRead::kUnreadable);
    }
    struct stat st {
    }, where{};
    if (::fstat(file.Get(), &st) != 0 || ::fstat(dir.Get(), &where) != 0) {
        return failed(RecordRead::kUnreadable);
    }
    if (!S_ISREG(st.st_mode)) return RecordRead::kNotRegular;
    if (st.st_uid != where.st_uid || OthersMayWrite(st) || OthersMayWrite(where) ||
        !TrustedOwner(dir.Get(), where)) {
        return RecordRead::kForeign;
    }
    if (static_cast<uint64_t>(st.st_size) > limit) return RecordRead::kTooLarge;
    // One more byte than allowed tells a file that grew since the fstat.
    text.resize(limit + 1);
    size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::read(file.Get(), &text[got], text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed(RecordRead::kUnreadable);
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    if (got > limit) {
        text.clear();
        return RecordRead::kTooLarge;
    }
    return RecordRead::kRead;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

// A process of another account still counts: the signal is refused, not lost.
bool ProcessIsRunning(uint32_t id) {
    if (id == 0) return false;
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

}  // namespace plat
