// The few socket calls that differ between Winsock and BSD sockets, behind
// one small interface. Everything above it (agent/socket.cpp) is neutral.
#pragma once
#include <cstdint>
#include <string>

namespace sockapi {

// A platform socket handle widened to fit both SOCKET and int; -1 is invalid.
using Handle = intptr_t;
constexpr Handle kInvalidHandle = -1;

// An IPv4 socket address laid out as sockaddr_in (16 bytes): family, port in
// network order, address in network order, eight zero bytes.
struct PeerAddress {
    uint16_t family;
    uint16_t port;
    uint32_t address;
    uint8_t zero[8];
};
static_assert(sizeof(PeerAddress) == 16, "PeerAddress must match sockaddr_in");

constexpr uint16_t kFamilyInet = 2;  // AF_INET on both platforms

// What one readiness test found; `count` is what select would have returned
// (the number of set bits over the three sets, or -1 on failure).
struct Readiness {
    int count = 0;
    bool readable = false;
    bool writable = false;
    bool exceptional = false;
};

// Process start-up of the socket library (Winsock 2.2); true when usable.
bool StartUp();

// A new IPv4 socket: stream when `stream`, else datagram. kInvalidHandle on failure.
Handle Create(bool stream);
void CloseHandle(Handle handle);
// False when the platform refused to change the mode.
bool SetBlocking(Handle handle, bool blocking);

// Host text to an IPv4 address in network order: a dotted address, or the
// first address of a host-name lookup (blocks on the resolver). False when none.
bool ParseDotted(const std::string& host, uint32_t& address);
bool Resolve(const std::string& host, uint32_t& address);
std::string DottedText(uint32_t address);
uint16_t HostToNet16(uint16_t value);
uint16_t NetToHost16(uint16_t value);

bool Bind(Handle handle, const PeerAddress& address);
// The port the handle is bound to, in host order; 0 when unknown.
uint16_t LocalPort(Handle handle);

enum class ConnectStart { Done, Pending, Failed };
// Pending when a non-blocking handle is still connecting.
ConnectStart Connect(Handle handle, const PeerAddress& address);

// Waits up to `ms` (0: returns at once) for the asked conditions.
Readiness Select(Handle handle, bool read, bool write, bool except, uint32_t ms);

// Waits up to `ms` (kWaitForever: no limit) until `handle` has input or one
// of `count` other waitable handles (a descriptor on POSIX, a HANDLE on
// Win32; an auto-reset event that ends the wait is left signalled for its
// owner) is signalled. 0 for the socket, 1 + i for other handle i, -1 when the
// time ran out, -2 when the wait failed. An invalid `handle` waits on the
// others alone. The socket is left in blocking mode.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
int WaitReadableOr(Handle handle, void* const* others, int count, uint32_t ms);

// One receive. -1 on a receive error; a datagram longer than `size` is such
// an error on both platforms (it is lost).
int Receive(Handle handle, void* buffer, int size);
int ReceiveFrom(Handle handle, void* buffer, int size, PeerAddress& from);
int Send(Handle handle, const void* data, int size);
int SendTo(Handle handle, const void* data, int size, const PeerAddress& to);

}  // namespace sockapi
