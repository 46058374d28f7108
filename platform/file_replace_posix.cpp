#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/file_replace.h"
#include "platform/scoped_handle.h"

namespace plat {

namespace {

// The file a path finally names: a replacement must land on the file behind a
// link, not turn the link into a file of its own.
std::string ResolvedPath(const std::string& path) {
    char resolved[PATH_MAX + 1];
    if (::realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
}

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is on the disk only once its folder is: without this a power cut
// can bring back the old name, or neither.
void FlushFolder(const std::string& folder) {
    ScopedFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) (void)::fsync(fd.Get());
}

}  // namespace

FILE* CreateTempFileBeside(const std::string& target, std::string& tempPath, FileMode,
                           AtLink atLink) {
    const bool follow = atLink == AtLink::kFollow;
    std::string real = follow ? ResolvedPath(target) : target;
    std::string::size_type slash = real.rfind('/');
    std::string name = slash == std::string::npos ? real : real.substr(slash + 1);
    std::string pattern = FolderOf(real) + "/." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // Close-on-exec: a program started meanwhile must not hold the file open.
    ScopedFd fd(::mkostemp(buffer.data(), O_CLOEXEC));
    if (!fd) return nullptr;
    // The replacement keeps the old file's permissions and, where allowed, owner.
    struct stat st;
    if (follow ? ::stat(real.c_str(), &st) == 0
               : ::lstat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        (void)::fchmod(fd.Get(), st.st_mode & 07777);
        // Only when it changes something: a file of our own (the agent's
        // status file, replaced every second) needs no call that a service's
        // system-call filter may refuse.
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(fd.Get(), st.st_uid, st.st_gid) != 0) {
            // Only the superuser may hand a file to someone else; keep ours.
        }
    }
    FILE* file = StreamOverFd(std::move(fd), "w");
    if (file == nullptr) {
        const int saved = errno;
        ::unlink(buffer.data());
        errno = saved;
        return nullptr;
    }
    tempPath = buffer.data();
    return file;
}

bool FlushToDisk(FILE* file) { return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0; }

bool CopyPermissions(const std::string& model, FILE* file) {
    struct stat st;
    if (::stat(model.c_str(), &st) != 0) return false;
    return ::fchmod(::fileno(file), st.st_mode & 07777) == 0;
}

bool LetEveryoneRead(FILE* file) { return ::fchmod(::fileno(file), 0644) == 0; }

bool ReplaceFileWith(const std::string& from, const std::string& to, AtLink atLink) {
    std::string real = atLink == AtLink::kFollow ? ResolvedPath(to) : to;
    if (::rename(from.c_str(), real.c_str()) != 0) return false;
    FlushFolder(FolderOf(real));
    return true;
}

bool DeleteFileAt(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace plat
