#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "platform/file_replace.h"

namespace plat {

namespace {

// The file a path finally names: a replacement must land on the file behind a
// link, not turn the link into a file of its own.
std::string ResolvedPath(const std::string& path) {
    char resolved[PATH_MAX + 1];
    if (::realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
}

}  // namespace

FILE* CreateTempFileBeside(const std::string& target, std::string& tempPath) {
    std::string real = ResolvedPath(target);
    std::string::size_type slash = real.rfind('/');
    std::string folder = slash == std::string::npos ? std::string(".") : real.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? real : real.substr(slash + 1);
    if (folder.empty()) folder = "/";
    if (folder.back() != '/') folder += '/';
    std::string pattern = folder + "." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = ::mkstemp(buffer.data());
    if (fd < 0) return nullptr;
    // The replacement keeps the old file's permissions and, where allowed, owner.
    struct stat st;
    if (::stat(real.c_str(), &st) == 0) {
        (void)::fchmod(fd, st.st_mode & 07777);
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only the superuser may hand a file to someone else; keep ours.
        }
    }
    FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        ::close(fd);
        ::unlink(buffer.data());
        return nullptr;
    }
    tempPath = buffer.data();
    return file;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), ResolvedPath(to).c_str()) == 0;
}

bool DeleteFileAt(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace plat
