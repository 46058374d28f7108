#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/file_replace.h"
#include "platform/scoped_handle.h"
#include "platform/systemd.h"

namespace plat {

bool SystemdIsRunning() {
    // systemd creates this folder at boot; sd_booted() asks the same.
    struct stat st {};
    return ::stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

int Systemctl(std::vector<std::string> args, CommandOutput output) {
    args.insert(args.begin(), "systemctl");
    return RunCommand(std::move(args), output);
}

int Systemctl(std::vector<std::string> args, std::string& output) {
    args.insert(args.begin(), "systemctl");
    return RunCommand(std::move(args), output);
}

std::string TakeNotifySocket() {
    const char* value = ::getenv("NOTIFY_SOCKET");
    std::string path = value ? value : "";
    ::unsetenv("NOTIFY_SOCKET");
    return path;
}

bool SendServiceNotify(const std::string& path, const std::string& message) {
    // A path the address cannot hold is refused, not cut short.
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    if (path[0] != '/' && path[0] != '@') return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    if (path[0] == '@') {
        address.sun_path[0] = '\0';  // abstract namespace
    } else {
        length += 1;  // with the terminating zero
    }
    // Never blocking: the manager's queue holds a few datagrams only, and a
    // manager slow to read must not hold up the relay. A full queue loses
    // this one; the caller sends its line again later.
    ScopedFd s(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s) return false;
    ssize_t sent = ::sendto(s.Get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                            reinterpret_cast<const sockaddr*>(&address), length);
    return sent == static_cast<ssize_t>(message.size());
}

std::string UnitExecStart(const std::string& executable) {
    if (executable.empty() || executable[0] != '/') return std::string();
    if (executable.find_first_of("\r\n") != std::string::npos) return std::string();
    // Inside quotes a backslash and a quote are escaped, and every '%' is a
    // specifier unless doubled.
    std::string line = "ExecStart=\"";
    for (char c : executable) {
        if (c == '\\' || c == '"') line += '\\';
        if (c == '%') line += '%';
        line += c;
    }
    return line + "\"";
}

bool WriteNewUnitFile(const std::string& path, const std::string& text) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    errno = 0;
    if (WriteFileOver(path, text, AtLink::kReplace, Readers::kEveryone)) return true;
    if (errno == 0) errno = EIO;
    return false;
}

}  // namespace plat
