// A datagram client that speaks from a loopback address of its choice
// (127.0.0.2 stands for another host), over the agent's socket calls. Header
// only: it needs the agent library, which the support library does not link.
#pragma once
#include <cstdint>
#include <vector>

#include "agent/socket_api.h"

// An IPv4 address (host byte order) and port as the socket calls take them.
inline sockapi::PeerAddress LoopbackAddress(uint32_t hostOrder, uint16_t port) {
    sockapi::PeerAddress a{};
    a.family = sockapi::kFamilyInet;
    a.port = sockapi::HostToNet16(port);
    uint8_t* b = reinterpret_cast<uint8_t*>(&a.address);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(hostOrder >> (24 - 8 * i));
    return a;
}

// A UDP port of 0.0.0.0 that was free a moment ago (0 when none could be had).
inline uint16_t FreeUdpPort() {
    sockapi::Handle probe = sockapi::Create(false);
    if (probe == sockapi::kInvalidHandle) return 0;
    uint16_t port = sockapi::Bind(probe, LoopbackAddress(0, 0)) ? sockapi::LocalPort(probe) : 0;
    sockapi::CloseHandle(probe);
    return port;
}

class LoopbackUdp {
public:
    explicit LoopbackUdp(uint32_t fromHostOrder) : m_hSocket(sockapi::Create(false)) {
        m_bBound = m_hSocket != sockapi::kInvalidHandle &&
                   sockapi::Bind(m_hSocket, LoopbackAddress(fromHostOrder, 0));
    }
    ~LoopbackUdp() { sockapi::CloseHandle(m_hSocket); }
    LoopbackUdp(const LoopbackUdp&) = delete;
    LoopbackUdp& operator=(const LoopbackUdp&) = delete;

    bool Bound() const { return m_bBound; }
    bool Send(const std::vector<uint8_t>& datagram, uint32_t toHostOrder, uint16_t port) {
        return sockapi::SendTo(m_hSocket, datagram.data(), static_cast<int>(datagram.size()),
                               LoopbackAddress(toHostOrder, port)) ==
               static_cast<int>(datagram.size());
    }
    // The next datagram; empty when none comes within `ms`.
    std::vector<uint8_t> Receive(uint32_t ms) {
        if (!sockapi::Select(m_hSocket, true, false, false, ms).readable) return {};
        std::vector<uint8_t> b(2048);
        sockapi::PeerAddress from{};
        int got = sockapi::ReceiveFrom(m_hSocket, b.data(), static_cast<int>(b.size()), from);
        b.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return b;
    }

private:
    sockapi::Handle m_hSocket;
    bool m_bBound = false;
};
