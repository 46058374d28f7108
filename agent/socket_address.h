// SocketAddress: where a socket goes or listens.
#pragma once
#include <cstdint>
#include <string>

#include "upslink/brx_objects.h"

class Socket;

// Socket kinds and the one family the layer knows.
constexpr int32_t kSocketStream = 0;
constexpr int32_t kSocketDatagram = 1;
constexpr int32_t kFamilyIPv4 = 0;

class SocketAddress : public CommunicationsAddress {
public:
    // `address` is an IPv4 address in network byte order; the host text
    // becomes its dotted form.
    SocketAddress(uint32_t address, uint16_t port, int32_t kind);
    // A dotted address or a host name, looked up when a socket is opened.
    SocketAddress(const std::string& host, uint16_t port, int32_t kind,
                  int32_t family = kFamilyIPv4);
    ~SocketAddress() override = default;

    // A new socket (owned by the caller) for a copy of this address.
    CommunicationsChannel* CreateChannel() override;
    // The same, typed; the caller owns it, and it is not opened yet.
    Socket* CreateSocket();

    uint16_t m_nPort;
    int32_t m_nKind;
    int32_t m_nFamily;
    std::string m_Host;
};
