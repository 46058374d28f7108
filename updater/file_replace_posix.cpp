#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "updater/file_replace.h"

namespace {

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

std::string Folder(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CopyContents(int from, int to) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!WriteAll(to, buffer.data(), static_cast<size_t>(n))) return false;
    }
}

}  // namespace

bool ReplaceFileAtomically(const std::string& source, const std::string& target, std::string& error) {
    auto fail = [&error](const std::string& what) {
        error = what + ": " + std::strerror(errno);
        return false;
    };
    Fd in{::open(source.c_str(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0) return fail(source);
    struct stat st {};
    if (::fstat(in.fd, &st) != 0) return fail(source);
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return fail(source);
    }

    std::string folder = Folder(target);
    std::string base = target.substr(target.rfind('/') + 1);
    std::string temp = folder + "/." + base + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    Fd out{::mkostemp(name.data(), O_CLOEXEC)};
    if (out.fd < 0) return fail(folder);
    bool ok = CopyContents(in.fd, out.fd) && ::fchmod(out.fd, st.st_mode & 07777) == 0 &&
              ::fsync(out.fd) == 0;
    int closed = ::close(out.fd);
    out.fd = -1;
    if (!ok || closed != 0 || ::rename(name.data(), target.c_str()) != 0) {
        int saved = errno;
        ::unlink(name.data());
        errno = saved;
        return fail(target);
    }
    // The rename itself reaches the disk with the folder.
    Fd dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) ::fsync(dir.fd);
    return true;
}
