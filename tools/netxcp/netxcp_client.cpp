#include "tools/netxcp/netxcp_client.h"

NetXcpClient::NetXcpClient(const std::string& host, uint16_t port)
    : m_pSocket(std::make_unique<Socket>(SocketAddress(host, port, kSocketDatagram))) {
    m_pSocket->Open();
}

NetXcpClient::~NetXcpClient() { m_pSocket->Close(); }

int NetXcpClient::Send(const ByteString& datagram) {
    return m_pSocket->Write(datagram.data(), static_cast<int>(datagram.size()));
}

bool NetXcpClient::Receive(ByteString& answer, uint32_t timeoutMs) {
    if (!m_pSocket->WaitReadable(timeoutMs)) return false;
    answer.assign(2048, 0);
    int got = m_pSocket->Read(answer.data(), static_cast<int>(answer.size()));
    answer.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return got > 0;
}
