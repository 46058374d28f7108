#include "agent/netxcp_endpoint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "agent/absorb.h"
#include "agent/qln_exception.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "upslink/ups_device.h"
#include "upslink/wire_trace.h"
#include "upslink/xcp_engine.h"

namespace {

constexpr uint32_t kWrongPasswords = 0x80020162u;
// After a receive that failed for a reason other than length: the pause the
// socket layer has always made, so that a socket that keeps failing cannot
// spin the worker. Nothing waiting is thrown away.
constexpr uint32_t kReceiveErrorPauseMs = 250;

// An IPv4 address between host order and the network order of the socket
// layer's addresses, byte by byte so that it holds on any host.
uint32_t NetworkOrder(uint32_t hostOrder) {
    uint32_t out = 0;
    uint8_t* b = reinterpret_cast<uint8_t*>(&out);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(hostOrder >> (24 - 8 * i));
    return out;
}

uint32_t HostOrder(uint32_t networkOrder) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&networkOrder);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

// Whether the frame walk hands a frame of this command to the UPS.
bool GoesToTheUps(uint8_t command, bool authorised) {
    if (command == kXcpCmdNull || command == kXcpCmdAuthorize) return false;
    return command <= kNetXcpLastOpenCommand || command == kXcpCmdCancelAuthorization ||
           authorised;
}

// A datagram for the wire trace, with its peer as the socket layer holds it.
void TraceDatagram(TraceDirection direction, const void* bytes, int count,
                   const sockapi::PeerAddress& peer) {
    if (!TraceOn() || count <= 0) return;
    const uint8_t* port = reinterpret_cast<const uint8_t*>(&peer.port);
    TraceBytes(direction, bytes, static_cast<uint32_t>(count), HostOrder(peer.address),
               static_cast<uint16_t>((port[0] << 8) | port[1]));
}

std::string Dotted(uint32_t hostOrder) {
    return std::to_string(hostOrder >> 24) + "." + std::to_string((hostOrder >> 16) & 0xFF) +
           "." + std::to_string((hostOrder >> 8) & 0xFF) + "." + std::to_string(hostOrder & 0xFF);
}

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

NetXcpEndpoint::NetXcpEndpoint(const NetXcpAccess& access)
    : m_Access(access),
      m_Throttle(access.passwordTries, access.passwordWindowSeconds, access.passwordLockoutSeconds),
      m_Queue(access.requestQueueSize),
      m_nMaxAgeMs(access.requestMaxAgeSeconds * 1000u) {
    m_pSocket = std::make_unique<Socket>(
        SocketAddress(NetworkOrder(m_Access.bindAddress), m_Access.port, kSocketDatagram));
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
    if (!m_Queue.Empty()) return true;
    bool waiting = false;
    if (!Absorb([&] { waiting = m_pSocket->WaitReadable(waitMs); })) m_pSocket->Close();
    return waiting;
}

NetXcpEndpoint::Wake NetXcpEndpoint::WaitForRequestOrEvent(uint32_t waitMs,
                                                           plat::Event* const* events, int count) {
    // Requests already taken into the queue wait for nothing.
    if (!m_Queue.Empty()) return Wake::kRequest;
    std::vector<void*> handles;
    for (int i = 0; i < count; ++i) handles.push_back(events[i]->NativeHandle());
    EnsureSocket();
    const int woke = m_pSocket->WaitReadableOr(handles.data(), count, waitMs);
    if (woke == 0) return m_pSocket->IsOpen() ? Wake::kRequest : Wake::kTimeOut;
    if (woke > 0) return Wake::kEvent;
    if (woke == -2) {
        // A socket whose wait fails is closed and opened again on the next
        // wait, as one whose read fails is; the time still passes, so that
        // the caller does not spin.
        m_pSocket->Close();
        const int again = m_pSocket->WaitReadableOr(handles.data(), count, waitMs);
        if (again > 0) return Wake::kEvent;
        if (again == -2) plat::SleepMs(waitMs);
        return Wake::kTimeOut;
    }
    return Wake::kTimeOut;
}

bool NetXcpEndpoint::ServeRequest(UpsDevice* device, const std::function<bool()>& keepRunning) {
    m_pDevice = device;
    m_bStopSeen = false;
    if (!m_pSocket->IsOpen()) return true;
    if (!Absorb([&] { ServeDatagram(keepRunning); })) m_pSocket->Close();
    return !m_bStopSeen;
}

bool NetXcpEndpoint::IsAllowed(uint32_t senderHostOrder) const {
    if (m_Access.allowedClients.empty()) return true;
    for (const ClientNetwork& network : m_Access.allowedClients) {
        if (network.Holds(senderHostOrder)) return true;
    }
    return false;
}

// Each datagram is taken with its sender and the moment it was taken. One
// that is too long costs only itself; one from a sender that is not served
// takes no room in the queue.
void NetXcpEndpoint::TakePending() {
    for (uint32_t n = 0; n < kTakePerPass; ++n) {
        int got = 0;
        sockapi::PeerAddress from{};
        Socket::Take take = m_pSocket->TakeDatagram(m_Taken, kMaxDatagram, got, from);
        if (take == Socket::Take::Nothing) return;
        if (take == Socket::Take::TooLong) {
            ++m_Counters.oversized;
            continue;
        }
        if (take == Socket::Take::Failed) {
            ++m_Counters.receiveErrors;
            plat::SleepMs(kReceiveErrorPauseMs);
            return;
        }
        TraceDatagram(TraceDirection::DatagramIn, m_Taken, got, from);
        if (got == 0) continue;  // an empty datagram holds no frame
        ++m_Counters.received;
        // Whom the relay does not serve learns nothing from it, not even
        // whether a UPS is attached.
        if (!IsAllowed(HostOrder(from.address))) {
            ++m_Counters.notAllowed;
            continue;
        }
        QueuedRequest request;
        request.sender = from;
        request.takenMs = plat::TickCount();
        request.bytes.assign(m_Taken, m_Taken + got);
        if (m_Queue.Add(std::move(request))) ++m_Counters.queueFull;
    }
}

void NetXcpEndpoint::ServeDatagram(const std::function<bool()>& keepRunning) {
    TakePending();
    QueuedRequest request;
    if (!m_Queue.Take(plat::TickCount(), m_nMaxAgeMs, request, m_Counters.stale)) return;
    m_nReceived = static_cast<uint32_t>(request.bytes.size());
    std::memcpy(m_Request, request.bytes.data(), m_nReceived);
    m_Request[m_nReceived] = 0;
    m_ReplyTo = request.sender;
    m_nSender = HostOrder(request.sender.address);
    if (m_pDevice == nullptr) {
        ++m_Counters.noUps;
        return;
    }

    std::memset(m_Reply, 0, sizeof m_Reply);
    m_nReplyLength = 0;
    m_nUnanswered = 0;
    bool authorised = false;
    uint32_t position = 0;
    while (position + 4 <= m_nReceived && m_Request[position] == kXcpStart) {
        uint32_t frameLength = m_Request[position + 1] + 3u;
        // A frame cut off by the end of the datagram is not handled: the
        // device would read its missing bytes from beyond what arrived.
        if (position + frameLength > m_nReceived) break;
        // Each frame that goes to the UPS takes its time; a stop or a pause
        // must not wait for all the frames a datagram can hold, nor should
        // the walk go on once no further answer could reach the client.
        if (GoesToTheUps(m_Request[position + 2], authorised)) {
            if (!RoomForAnotherAnswer()) {
                ++m_Counters.cutShort;
                break;
            }
            if (keepRunning && !keepRunning()) {
                m_bStopSeen = true;
                ++m_Counters.cutShort;
                break;
            }
        }
        HandleFrame(m_Request + position, authorised);
        position += frameLength;
    }
    if (m_nReplyLength == 0) return;
    if (m_nReplyLength % 2 != 0) ++m_nReplyLength;  // the zero byte is already there
    // Send errors are not retried.
    int sent = m_pSocket->WriteTo(m_Reply, static_cast<int>(m_nReplyLength), m_ReplyTo);
    TraceDatagram(TraceDirection::DatagramOut, m_Reply, sent, m_ReplyTo);
    if (sent > 0) ++m_Counters.answered;
}

// The walk ends once the reply has no room left for the shortest answer.
// A frame that brought no answer (the UPS did not answer it, or refused it)
// is counted as if it had taken that much room: otherwise a datagram of
// frames the UPS never answers would hold the relay for all of them.
bool NetXcpEndpoint::RoomForAnotherAnswer() const {
    uint32_t used = m_nReplyLength + m_nUnanswered;
    return used <= kMaxDatagram && kMaxDatagram - used >= kXcpSmallestAnswer;
}

void NetXcpEndpoint::HandleFrame(const uint8_t* frame, bool& authorised) {
    uint8_t length = frame[1];
    uint8_t command = frame[2];
    if (command == kXcpCmdNull) {
        ++m_Counters.relayRequests;
        if (m_bEchoRelayRequests) {
            std::fputs("requested qln\n", stdout);
            std::fflush(stdout);
        }
        Append(kNetXcpRelayAnswer, sizeof kNetXcpRelayAnswer);
    } else if (command == kXcpCmdAuthorize) {
        if (length == kNetXcpPasswordLength + 1) HandlePassword(frame, authorised);
    } else if (command == kXcpCmdCancelAuthorization) {
        authorised = false;
        Forward(frame);
    } else if (command > kNetXcpLastOpenCommand) {
        // One password frame admits exactly one privileged command.
        if (!authorised) {
            ++m_Counters.privilegedRefused;
            return;
        }
        ++m_Counters.privilegedAdmitted;
        authorised = false;
        Forward(frame);
    } else {
        Forward(frame);
    }
}

// A sender that keeps guessing is not heard for a while: its password frames
// are then ignored, right or wrong, so that the answers no longer tell a
// right guess from a wrong one. The first frame of each lockout says so once.
void NetXcpEndpoint::HandlePassword(const uint8_t* frame, bool& authorised) {
    uint32_t now = plat::TickCount();
    if (!m_Throttle.Admits(m_nSender, now)) {
        ++m_Counters.ignoredPasswords;
        return;
    }
    if (PasswordMatches(frame + 3)) {
        authorised = true;
        return;
    }
    ++m_Counters.wrongPasswords;
    if (m_Throttle.RecordWrong(m_nSender, now)) {
        ++m_Counters.lockouts;
        std::string seconds = std::to_string(m_Throttle.LockoutSeconds());
        std::string sender = Dotted(m_nSender);
        CQLNException(kWrongPasswords, {sender.c_str(), seconds.c_str()}).Report();
    }
}

// A password shorter than six characters compares as itself followed by zero
// bytes; a longer one by its first six.
bool NetXcpEndpoint::PasswordMatches(const uint8_t* sixBytes) const {
    if (!m_Access.passwordUsable) return false;
    uint8_t expected[kNetXcpPasswordLength] = {};
    const std::string& password = m_Access.password;
    std::memcpy(expected, password.data(), std::min<size_t>(password.size(), kNetXcpPasswordLength));
    return std::memcmp(expected, sixBytes, kNetXcpPasswordLength) == 0;
}

// Whatever goes wrong while one frame is relayed costs that frame's answer only.
void NetXcpEndpoint::Forward(const uint8_t* frame) {
    ++m_Counters.forwarded;
    uint32_t before = m_nReplyLength;
    Absorb([&] {
        try {
            uint32_t length = 0;
            std::unique_ptr<uint8_t[]> answer(m_pDevice->RelayRequest(frame, length));
            if (answer) Append(answer.get(), length);
        } catch (CQLNException* failure) {
            CountUpsFailure(failure->GetMessageId());
            throw;
        }
    });
    if (m_nReplyLength == before) m_nUnanswered += kXcpSmallestAnswer;
}

void NetXcpEndpoint::CountUpsFailure(uint32_t messageId) {
    if (messageId == kMsgUpsTimeout) ++m_Counters.upsTimeouts;
    if (messageId == kMsgUpsInvalidResponse) ++m_Counters.upsInvalid;
}

// An answer that would overflow the reply is dropped ("Invalid response from
// UPS.", not reported); later answers that fit are still taken.
void NetXcpEndpoint::Append(const uint8_t* bytes, uint32_t length) {
    if (length > kMaxDatagram - m_nReplyLength) return;
    std::memcpy(m_Reply + m_nReplyLength, bytes, length);
    m_nReplyLength += length;
}
