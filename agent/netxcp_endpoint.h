// NetXcpEndpoint: the agent's UDP face. Reads one request datagram at a time,
// walks its XCP request frames, gates privileged commands behind the
// password, relays the rest to the UPS device and sends the answers back to
// the sender in one datagram.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "agent/relay_settings.h"
#include "agent/socket.h"

class UpsDevice;

class NetXcpEndpoint {
public:
    // Largest request and reply datagram.
    static constexpr uint32_t kMaxDatagram = 1172;

    // Binds a datagram socket to 0.0.0.0:`port` (0: any free port). A socket
    // that cannot be created or bound is closed and the communications
    // failure passed on. Without `passwordUsable` no password frame matches.
    NetXcpEndpoint(const std::string& password, uint16_t port, bool passwordUsable = true);
    // The same with the access rules of the settings: the bind address, the
    // allowed clients and the password-guess limits.
    explicit NetXcpEndpoint(const NetXcpAccess& access);
    ~NetXcpEndpoint();
    NetXcpEndpoint(const NetXcpEndpoint&) = delete;
    NetXcpEndpoint& operator=(const NetXcpEndpoint&) = delete;

    // True when a datagram is waiting; blocks up to `waitMs` for one.
    bool WaitForRequest(uint32_t waitMs);
    // Reads one datagram; with a device, answers it. Without one the
    // datagram is dropped unanswered. Never throws.
    void ServeRequest(UpsDevice* device);

    uint16_t LocalPort() { return m_pSocket->LocalPort(); }
    Socket& GetSocket() { return *m_pSocket; }

private:
    void OpenSocket();
    // Reopens a socket that failed; false while that is not possible.
    bool EnsureSocket();
    void ServeDatagram();
    void HandleFrame(const uint8_t* frame, bool& authorised);
    void Forward(const uint8_t* frame);
    void Append(const uint8_t* bytes, uint32_t length);
    bool PasswordMatches(const uint8_t* sixBytes) const;

    NetXcpAccess m_Access;
    std::unique_ptr<Socket> m_pSocket;
    UpsDevice* m_pDevice = nullptr;
    uint32_t m_nReceived = 0;
    uint8_t m_Request[kMaxDatagram + 1] = {};
    uint8_t m_Reply[kMaxDatagram + 1] = {};
    uint32_t m_nReplyLength = 0;
};
