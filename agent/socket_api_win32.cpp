// Winsock behind the socket seam.
// <mswsock.h> needs <winsock2.h> before it.
// clang-format off
#include <winsock2.h>
#include <mswsock.h>
// clang-format on

#include <cstring>
#include <vector>

#include "agent/socket_api.h"
#include "agent/socket_native.h"
#include "platform/scoped_handle.h"

namespace sockapi {

namespace {

static_assert(AF_INET == kFamilyInet, "AF_INET differs");

SOCKET Sock(Handle h) { return static_cast<SOCKET>(h); }

}  // namespace

bool StartUp() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Handle Create(bool stream) {
    SOCKET s = ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return kInvalidHandle;
    if (!stream) {
        // Windows reports a datagram sent to a port nobody listens on (a
        // client that went away before its answer) as WSAECONNRESET at the
        // socket's next receive, which would then cost whatever waits behind
        // it. Turned off; where the call is not known, nothing changes.
        BOOL report = FALSE;
        DWORD returned = 0;
        ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
                   nullptr);
    }
    return static_cast<Handle>(s);
}

void CloseHandle(Handle handle) {
    if (handle != kInvalidHandle) ::closesocket(Sock(handle));
}

bool SetBlocking(Handle handle, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(Sock(handle), FIONBIO, &nonBlocking) == 0;
}

bool ParseDotted(const std::string& host, uint32_t& address) {
    unsigned long a = ::inet_addr(host.c_str());
    if (a == INADDR_NONE && host != "255.255.255.255") return false;
    address = static_cast<uint32_t>(a);
    return true;
}

bool Resolve(const std::string& host, uint32_t& address) {
    hostent* found = ::gethostbyname(host.c_str());
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_addr_list[0] == nullptr) {
        return false;
    }
    std::memcpy(&address, found->h_addr_list[0], sizeof address);
    return true;
}

std::string DottedText(uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    const char* text = ::inet_ntoa(a);
    return text ? text : "";
}

uint16_t HostToNet16(uint16_t value) { return htons(value); }
uint16_t NetToHost16(uint16_t value) { return ntohs(value); }

bool Bind(Handle handle, const PeerAddress& address) {
    sockaddr_in s = ToNative<sockaddr_in>(address);
    return ::bind(Sock(handle), reinterpret_cast<sockaddr*>(&s), sizeof s) == 0;
}

uint16_t LocalPort(Handle handle) {
    sockaddr_in s{};
    int size = sizeof s;
    if (::getsockname(Sock(handle), reinterpret_cast<sockaddr*>(&s), &size) != 0) return 0;
    return ntohs(s.sin_port);
}

ConnectStart Connect(Handle handle, const PeerAddress& address) {
    sockaddr_in s = ToNative<sockaddr_in>(address);
    if (::connect(Sock(handle), reinterpret_cast<sockaddr*>(&s), sizeof s) == 0) {
        return ConnectStart::Done;
    }
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? ConnectStart::Pending : ConnectStart::Failed;
}

Readiness Select(Handle handle, bool read, bool write, bool except, uint32_t ms) {
    if (handle == kInvalidHandle) {
        Readiness failed;
        failed.count = -1;
        return failed;
    }
    fd_set readSet, writeSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if (read) FD_SET(Sock(handle), &readSet);
    if (write) FD_SET(Sock(handle), &writeSet);
    if (except) FD_SET(Sock(handle), &exceptSet);
    timeval wait{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    Readiness r;
    r.count = ::select(0, read ? &readSet : nullptr, write ? &writeSet : nullptr,
                       except ? &exceptSet : nullptr, &wait);
    if (r.count < 0) return r;
    r.readable = read && FD_ISSET(Sock(handle), &readSet);
    r.writable = write && FD_ISSET(Sock(handle), &writeSet);
    r.exceptional = except && FD_ISSET(Sock(handle), &exceptSet);
    return r;
}

int Receive(Handle handle, void* buffer, int size) {
    int n = ::recv(Sock(handle), static_cast<char*>(buffer), size, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int ReceiveFrom(Handle handle, void* buffer, int size, PeerAddress& from) {
    sockaddr_in s{};
    int length = sizeof s;
    int n = ::recvfrom(Sock(handle), static_cast<char*>(buffer), size, 0,
                       reinterpret_cast<sockaddr*>(&s), &length);
    if (n == SOCKET_ERROR) {
        // The datagram that did not fit has been taken off the socket.
        if (::WSAGetLastError() != WSAEMSGSIZE) return -1;
        from = FromNative(s);
        return kReceiveTooLong;
    }
    from = FromNative(s);
    return n;
}

int Send(Handle handle, const void* data, int size) {
    int n = ::send(Sock(handle), static_cast<const char*>(data), size, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int SendTo(Handle handle, const void* data, int size, const PeerAddress& to) {
    sockaddr_in s = ToNative<sockaddr_in>(to);
    int n = ::sendto(Sock(handle), static_cast<const char*>(data), size, 0,
                     reinterpret_cast<sockaddr*>(&s), sizeof s);
    return n == SOCKET_ERROR ? -1 : n;
}

// The socket's readiness becomes an event of its own (WSAEventSelect), so
// that one WaitForMultipleObjects covers it and the other handles. Winsock
// signals FD_READ at once when input was already waiting before the call.
int WaitReadableOr(Handle handle, void* const* others, int count, uint32_t ms) {
    std::vector<HANDLE> waits;
    // A WSAEVENT is a kernel event, closed as one.
    plat::ScopedKernelHandle ready;
    if (handle != kInvalidHandle) {
        ready.Reset(::WSACreateEvent());
        if (!ready) return -2;
        if (::WSAEventSelect(Sock(handle), ready.Get(), FD_READ | FD_CLOSE) != 0) return -2;
        waits.push_back(ready.Get());
    }
    for (int i = 0; i < count; ++i) waits.push_back(static_cast<HANDLE>(others[i]));
    const int first = handle != kInvalidHandle ? 0 : 1;
    int result = -1;
    if (waits.empty()) {
        ::Sleep(ms);
    } else {
        const DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                 FALSE, ms == kWaitForever ? INFINITE : ms);
        if (r == WAIT_TIMEOUT) {
            result = -1;
        } else if (r < WAIT_OBJECT_0 + waits.size()) {
            result = static_cast<int>(r - WAIT_OBJECT_0) + first;
            // The wait took an auto-reset event's signal; its owner still
            // has to see it.
            if (result > 0) ::SetEvent(waits[r - WAIT_OBJECT_0]);
        } else {
            result = -2;
        }
    }
    if (ready) {
        ::WSAEventSelect(Sock(handle), nullptr, 0);
        ready.Reset();
        SetBlocking(handle, true);  // WSAEventSelect made it non-blocking
    }
    return result;
}

}  // namespace sockapi
