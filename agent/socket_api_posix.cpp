// BSD sockets behind the socket seam.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "agent/socket_api.h"
#include "agent/socket_native.h"
#include "platform/clock.h"

namespace sockapi {

namespace {

static_assert(AF_INET == kFamilyInet, "AF_INET differs");

int Fd(Handle h) { return static_cast<int>(h); }

}  // namespace

bool StartUp() { return true; }

Handle Create(bool stream) {
    int fd = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    return fd < 0 ? kInvalidHandle : fd;
}

void CloseHandle(Handle handle) {
    if (handle != kInvalidHandle) ::close(Fd(handle));
}

bool SetBlocking(Handle handle, bool blocking) {
    int flags = ::fcntl(Fd(handle), F_GETFL, 0);
    if (flags < 0) return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(Fd(handle), F_SETFL, flags) == 0;
}

bool ParseDotted(const std::string& host, uint32_t& address) {
    in_addr a{};
    if (::inet_aton(host.c_str(), &a) == 0) return false;
    address = a.s_addr;
    return true;
}

bool Resolve(const std::string& host, uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

std::string DottedText(uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

uint16_t HostToNet16(uint16_t value) { return htons(value); }
uint16_t NetToHost16(uint16_t value) { return ntohs(value); }

bool Bind(Handle handle, const PeerAddress& address) {
    sockaddr_in s = ToNative<sockaddr_in>(address);
    return ::bind(Fd(handle), reinterpret_cast<sockaddr*>(&s), sizeof s) == 0;
}

uint16_t LocalPort(Handle handle) {
    sockaddr_in s{};
    socklen_t size = sizeof s;
    if (::getsockname(Fd(handle), reinterpret_cast<sockaddr*>(&s), &size) != 0) return 0;
    return ntohs(s.sin_port);
}

ConnectStart Connect(Handle handle, const PeerAddress& address) {
    sockaddr_in s = ToNative<sockaddr_in>(address);
    if (::connect(Fd(handle), reinterpret_cast<sockaddr*>(&s), sizeof s) == 0) {
        return ConnectStart::Done;
    }
    return errno == EINPROGRESS ? ConnectStart::Pending : ConnectStart::Failed;
}

// poll rather than select: select cannot take descriptors past FD_SETSIZE.
// The result is translated to what Winsock's select reports: a failed
// connect shows as exceptional and not writable, and `count` counts the sets.
Readiness Select(Handle handle, bool read, bool write, bool except, uint32_t ms) {
    if (handle == kInvalidHandle) {
        Readiness failed;
        failed.count = -1;
        return failed;
    }
    pollfd p{};
    p.fd = Fd(handle);
    p.events =
        static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0) | (except ? POLLPRI : 0));
    Readiness r;
    int timeout = ms > 0x7FFFFFFFu ? -1 : static_cast<int>(ms);
    int n;
    do {
        n = ::poll(&p, 1, timeout);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        r.count = -1;
        return r;
    }
    bool failed = (p.revents & (POLLERR | POLLNVAL)) != 0;
    r.readable = read && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    r.writable = write && (p.revents & POLLOUT) != 0 && !failed;
    r.exceptional = except && ((p.revents & POLLPRI) != 0 || failed);
    r.count = (r.readable ? 1 : 0) + (r.writable ? 1 : 0) + (r.exceptional ? 1 : 0);
    return r;
}

int WaitReadableOr(Handle handle, void* const* others, int count, uint32_t ms) {
    std::vector<pollfd> fds;
    fds.push_back(pollfd{handle == kInvalidHandle ? -1 : Fd(handle), POLLIN, 0});
    for (int i = 0; i < count; ++i) {
        fds.push_back(pollfd{static_cast<int>(reinterpret_cast<intptr_t>(others[i])), POLLIN, 0});
    }
    const uint32_t start = plat::TickCount();
    for (;;) {
        int timeout = -1;
        if (ms != kWaitForever) {
            const uint32_t spent = plat::TickCount() - start;
            timeout = spent >= ms ? 0 : static_cast<int>(ms - spent);
        }
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -2;
        if (n == 0) return -1;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents != 0) return static_cast<int>(i);
        }
        return -1;
    }
}

int Receive(Handle handle, void* buffer, int size) {
    ssize_t n = ::recv(Fd(handle), buffer, static_cast<size_t>(size), 0);
    return n < 0 ? -1 : static_cast<int>(n);
}

int ReceiveFrom(Handle handle, void* buffer, int size, PeerAddress& from) {
    sockaddr_in s{};
    socklen_t length = sizeof s;
    // MSG_TRUNC gives the datagram's real length, so that one longer than the
    // buffer fails as it does under Winsock instead of arriving cut short.
    ssize_t n = ::recvfrom(Fd(handle), buffer, static_cast<size_t>(size), MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(&s), &length);
    if (n < 0) return -1;
    from = FromNative(s);
    if (n > size) return kReceiveTooLong;
    return static_cast<int>(n);
}

int Send(Handle handle, const void* data, int size) {
    ssize_t n = ::send(Fd(handle), data, static_cast<size_t>(size), MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<int>(n);
}

int SendTo(Handle handle, const void* data, int size, const PeerAddress& to) {
    sockaddr_in s = ToNative<sockaddr_in>(to);
    ssize_t n = ::sendto(Fd(handle), data, static_cast<size_t>(size), MSG_NOSIGNAL,
                         reinterpret_cast<sockaddr*>(&s), sizeof s);
    return n < 0 ? -1 : static_cast<int>(n);
}

}  // namespace sockapi
