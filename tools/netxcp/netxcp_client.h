// A NetXCP client: sends request datagrams to an agent and waits for the
// answer datagram.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "agent/socket.h"
#include "tools/netxcp/netxcp_request.h"

class NetXcpClient {
public:
    // Resolves `host`; throws brx::CCommunicationsExceptionObject pointers
    // when the socket cannot be made or the host is unknown.
    NetXcpClient(const std::string& host, uint16_t port);
    ~NetXcpClient();

    // Sends `datagram`; -1 when the send failed.
    int Send(const ByteString& datagram);
    // Waits up to `timeoutMs` for one datagram; false when none came.
    bool Receive(ByteString& answer, uint32_t timeoutMs);

private:
    std::unique_ptr<Socket> m_pSocket;
};
