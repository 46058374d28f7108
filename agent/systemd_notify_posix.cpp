#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstddef>
#include <cstring>

#include "agent/systemd_notify.h"

namespace {

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

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
    Fd s{::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    if (s.fd < 0) return false;
    ssize_t sent = ::sendto(s.fd, message.data(), message.size(), MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&address), length);
    return sent == static_cast<ssize_t>(message.size());
}
