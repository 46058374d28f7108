#include "agent/netxcp_endpoint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "agent/absorb.h"
#include "agent/qln_exception.h"
#include "upslink/ups_device.h"

namespace {

constexpr uint8_t kFrameStart = 0xAB;
constexpr uint8_t kIdentifyRelay = 0x00;
constexpr uint8_t kPassword = 0xCF;
constexpr uint8_t kCancelAuthorisation = 0xCE;
constexpr uint8_t kLastOpenCommand = 0x88;
constexpr uint8_t kPasswordLength = 6;
constexpr uint8_t kRelayAnswer[4] = {0x71, 0x6C, 0x6E, 0x00};  // "qln"

}  // namespace

namespace {

NetXcpAccess PasswordOnly(const std::string& password, uint16_t port, bool passwordUsable) {
    NetXcpAccess access;
    access.password = password;
    access.port = port;
    access.passwordUsable = passwordUsable;
    return access;
}

}  // namespace

NetXcpEndpoint::NetXcpEndpoint(const std::string& password, uint16_t port, bool passwordUsable)
    : NetXcpEndpoint(PasswordOnly(password, port, passwordUsable)) {}

NetXcpEndpoint::NetXcpEndpoint(const NetXcpAccess& access) : m_Access(access) {
    m_pSocket = std::make_unique<Socket>(SocketAddress(0u, m_Access.port, kSocketDatagram));
    OpenSocket();
}

NetXcpEndpoint::~NetXcpEndpoint() { m_pSocket->Close(); }

void NetXcpEndpoint::OpenSocket() {
    try {
        m_pSocket->Create();
        m_pSocket->Bind();
    } catch (...) {
        m_pSocket->Close();
        throw;
    }
}

// A socket that failed while serving was closed; it is opened again here, on
// the next pass, so that the agent does not go deaf for the rest of its run.
bool NetXcpEndpoint::EnsureSocket() {
    if (m_pSocket->IsOpen()) return true;
    return Absorb([this] { OpenSocket(); });
}

bool NetXcpEndpoint::WaitForRequest(uint32_t waitMs) {
    if (!EnsureSocket()) return false;
    bool waiting = false;
    if (!Absorb([&] { waiting = m_pSocket->WaitReadable(waitMs); })) m_pSocket->Close();
    return waiting;
}

void NetXcpEndpoint::ServeRequest(UpsDevice* device) {
    m_pDevice = device;
    if (!m_pSocket->IsOpen()) return;
    if (!Absorb([this] { ServeDatagram(); })) m_pSocket->Close();
}

void NetXcpEndpoint::ServeDatagram() {
    bool trouble = false;
    if (!m_pSocket->CheckReadable(trouble)) return;
    sockapi::PeerAddress sender{};
    int got = m_pSocket->ReadFrom(m_Request, kMaxDatagram, sender);
    if (got <= 0) return;
    m_nReceived = static_cast<uint32_t>(got);
    m_Request[m_nReceived] = 0;
    if (m_pDevice == nullptr) return;

    std::memset(m_Reply, 0, sizeof m_Reply);
    m_nReplyLength = 0;
    bool authorised = false;
    uint32_t position = 0;
    while (position + 4 <= m_nReceived && m_Request[position] == kFrameStart) {
        uint32_t frameLength = m_Request[position + 1] + 3u;
        // A frame cut off by the end of the datagram is not handled: the
        // device would read its missing bytes from beyond what arrived.
        if (position + frameLength > m_nReceived) break;
        HandleFrame(m_Request + position, authorised);
        position += frameLength;
    }
    if (m_nReplyLength == 0) return;
    if (m_nReplyLength % 2 != 0) ++m_nReplyLength;  // the zero byte is already there
    m_pSocket->Write(m_Reply, static_cast<int>(m_nReplyLength));  // send errors are not retried
}

void NetXcpEndpoint::HandleFrame(const uint8_t* frame, bool& authorised) {
    uint8_t length = frame[1];
    uint8_t command = frame[2];
    if (command == kIdentifyRelay) {
        std::fputs("requested qln\n", stdout);
        std::fflush(stdout);
        Append(kRelayAnswer, sizeof kRelayAnswer);
    } else if (command == kPassword) {
        if (length == kPasswordLength + 1 && PasswordMatches(frame + 3)) authorised = true;
    } else if (command == kCancelAuthorisation) {
        authorised = false;
        Forward(frame);
    } else if (command > kLastOpenCommand) {
        // One password frame admits exactly one privileged command.
        if (!authorised) return;
        authorised = false;
        Forward(frame);
    } else {
        Forward(frame);
    }
}

// A password shorter than six characters compares as itself followed by zero
// bytes; a longer one by its first six.
bool NetXcpEndpoint::PasswordMatches(const uint8_t* sixBytes) const {
    if (!m_Access.passwordUsable) return false;
    uint8_t expected[kPasswordLength] = {};
    const std::string& password = m_Access.password;
    std::memcpy(expected, password.data(), std::min<size_t>(password.size(), kPasswordLength));
    return std::memcmp(expected, sixBytes, kPasswordLength) == 0;
}

// Whatever goes wrong while one frame is relayed costs that frame's answer only.
void NetXcpEndpoint::Forward(const uint8_t* frame) {
    Absorb([&] {
        uint32_t length = 0;
        std::unique_ptr<uint8_t[]> answer(m_pDevice->RelayRequest(frame, length));
        if (answer) Append(answer.get(), length);
    });
}

// An answer that would overflow the reply is dropped ("Invalid response from
// UPS.", not reported); later answers that fit are still taken.
void NetXcpEndpoint::Append(const uint8_t* bytes, uint32_t length) {
    if (length > kMaxDatagram - m_nReplyLength) return;
    std::memcpy(m_Reply + m_nReplyLength, bytes, length);
    m_nReplyLength += length;
}
