#include "agent/netxcp_endpoint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "agent/absorb.h"
#include "agent/qln_exception.h"
#include "common/resources/message_ids.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "upslink/link_error.h"
#include "upslink/ups_device.h"
#include "upslink/wire_trace.h"
#include "upslink/xcp_engine.h"

namespace {

// Reports about network senders: the first few a minute one by one, then one
// summary a minute.
constexpr uint32_t kReportPeriodMs = 60000;
constexpr uint32_t kLockoutsSingly = 5;
constexpr uint32_t kLimitReportsSingly = 1;
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
    return command <= kNetXcpLastOpenCommand || command == kXcpCmdCancelAuthorization || authorised;
}

// A datagram for the wire trace, with its peer as the socket layer holds it.
void TraceDatagram(TraceDirection direction, const void* bytes, int count,
                   const sockapi::PeerAddress& peer) {
    if (!TraceOn() || count <= 0) return;
    const uint8_t* port = reinterpret_cast<const uint8_t*>(&peer.port);
    TraceBytes(direction, bytes, static_cast<uint32_t>(count), HostOrder(peer.address),
               static_cast<uint16_t>((port[0] << 8) | port[1]));
}

// Whether the relay answers every frame of `bytes` by itself: relay
// identifications and password frames only, walked as the walk would.
bool AnsweredByTheRelay(const std::vector<uint8_t>& bytes) {
    for (size_t position = 0; position + 4 <= bytes.size() && bytes[position] == kXcpStart;) {
        const size_t frameLength = bytes[position + 1] + 3u;
        if (position + frameLength > bytes.size()) break;
        const uint8_t command = bytes[position + 2];
        if (command != kXcpCmdNull && command != kXcpCmdAuthorize) return false;
        position += frameLength;
    }
    return true;
}

// The walk ends once the reply has no room left for the shortest answer.
// A frame that brought no answer (the UPS did not answer it, or refused it)
// is counted as if it had taken that much room: otherwise a datagram of
// frames the UPS never answers would hold the relay for all of them.
bool RoomForAnotherAnswer(const QueuedRequest& request) {
    const uint32_t used = static_cast<uint32_t>(request.reply.size()) + request.unanswered;
    return used <= kNetXcpMaxDatagram && kNetXcpMaxDatagram - used >= kXcpSmallestAnswer;
}

// An answer that would overflow the reply is dropped ("Invalid response from
// UPS.", not reported); later answers that fit are still taken.
void AddAnswer(QueuedRequest& request, const uint8_t* bytes, size_t length) {
    std::vector<uint8_t>& reply = request.reply;
    if (length > kNetXcpMaxDatagram - reply.size()) return;
    reply.insert(reply.end(), bytes, bytes + length);
}

std::string Dotted(uint32_t hostOrder) {
    return std::to_string(hostOrder >> 24) + "." + std::to_string((hostOrder >> 16) & 0xFF) + "." +
           std::to_string((hostOrder >> 8) & 0xFF) + "." + std::to_string(hostOrder & 0xFF);
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
      m_Throttle(access.passwordTries, access.passwordWindowSeconds, access.passwordLockoutSeconds,
                 access.passwordBudget),
      m_Queue(access.requestQueueSize),
      m_OwnAnswers(access.requestQueueSize),
      m_nMaxAgeMs(access.requestMaxAgeSeconds * 1000u),
      m_LockoutReports(kLockoutsSingly, kReportPeriodMs),
      m_BudgetReports(kLimitReportsSingly, kReportPeriodMs) {
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
    if (!m_Queue.Empty() || !m_OwnAnswers.Empty()) return true;
    bool waiting = false;
    if (!Absorb([&] { waiting = m_pSocket->WaitReadable(waitMs); })) m_pSocket->Close();
    return waiting;
}

NetXcpEndpoint::Wake NetXcpEndpoint::WaitForRequestOrEvent(uint32_t waitMs,
                                                           plat::Event* const* events, int count) {
    // Requests already taken into the queue wait for nothing.
    if (!m_Queue.Empty() || !m_OwnAnswers.Empty()) return Wake::kRequest;
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
    if (!m_pSocket->IsOpen()) return true;
    Serving serving{device, keepRunning};
    if (!Absorb([&] { ServeDatagram(serving); })) m_pSocket->Close();
    return !serving.stopSeen;
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
uint32_t NetXcpEndpoint::TakePending() {
    // What the socket gives is read here and copied once, to the length it
    // has, into the request that owns it until its reply is sent.
    uint8_t datagram[kMaxDatagram];
    uint32_t n = 0;
    for (; n < kTakePerPass; ++n) {
        int got = 0;
        sockapi::PeerAddress from{};
        Socket::Take take = m_pSocket->TakeDatagram(datagram, kMaxDatagram, got, from);
        if (take == Socket::Take::Nothing) return n;
        if (take == Socket::Take::TooLong) {
            ++m_Counters.oversized;
            continue;
        }
        if (take == Socket::Take::Failed) {
            ++m_Counters.receiveErrors;
            plat::SleepMs(kReceiveErrorPauseMs);
            return n;
        }
        TraceDatagram(TraceDirection::DatagramIn, datagram, got, from);
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
        request.bytes.assign(datagram, datagram + got);
        RequestQueue& queue = AnsweredByTheRelay(request.bytes) ? m_OwnAnswers : m_Queue;
        if (queue.Add(std::move(request))) ++m_Counters.queueFull;
    }
    return n;
}

void NetXcpEndpoint::TakeWhileWaiting(uint32_t ms) {
    const uint32_t start = plat::TickCount();
    for (uint32_t spent = 0; spent < ms; spent = plat::TickCount() - start) {
        bool readable = false;
        if (!EnsureSocket() || !Absorb([&] { readable = m_pSocket->WaitReadable(ms - spent); })) {
            m_pSocket->Close();
            plat::SleepMs(ms - spent);
            return;
        }
        uint32_t taken = 0;
        if (readable && !Absorb([&] { taken = TakePending(); })) m_pSocket->Close();
        // A socket that says readable and gives nothing is not asked again
        // at once: the rest of the time simply passes.
        if (readable && taken == 0) {
            spent = plat::TickCount() - start;
            if (spent < ms) plat::SleepMs(ms - spent);
            return;
        }
    }
}

void NetXcpEndpoint::ServeDatagram(Serving& serving) {
    ReportSummaries(plat::TickCount());
    TakePending();
    ServeOwnAnswer(serving);
    for (;;) {
        QueuedRequest request;
        if (!m_Queue.Take(plat::TickCount(), m_nMaxAgeMs, request, m_Counters.stale)) return;
        if (serving.device == nullptr) {
            // A walk begun while the UPS was there keeps what it was given.
            if (request.Begun()) {
                SendReply(request);
            } else {
                ++m_Counters.noUps;
            }
            return;
        }
        if (Walk(request, serving)) {
            SendReply(request);
            // On a stop, every walk begun gets the answers it has so far.
            if (serving.stopSeen) {
                for (QueuedRequest& begun : m_Queue.TakeBegun()) SendReply(begun);
            }
            return;
        }
        // Its next frame waits for its next turn; whoever asked meanwhile
        // has theirs first.
        m_Queue.PutBack(std::move(request));
        TakePending();
        ServeOwnAnswer(serving);
    }
}

// What the relay answers by itself never waits behind the UPS: one such
// request is served before each turn of the UPS's queue, so neither queue
// can starve the other.
void NetXcpEndpoint::ServeOwnAnswer(Serving& serving) {
    QueuedRequest request;
    if (!m_OwnAnswers.Take(plat::TickCount(), m_nMaxAgeMs, request, m_Counters.stale)) return;
    if (serving.device == nullptr) {
        ++m_Counters.noUps;
        return;
    }
    Walk(request, serving);  // no frame for the UPS: done in one go
    SendReply(request);
}

bool NetXcpEndpoint::Walk(QueuedRequest& request, Serving& serving) {
    const uint8_t* bytes = request.bytes.data();
    const uint32_t received = static_cast<uint32_t>(request.bytes.size());
    bool forwardedOne = false;
    while (request.position + 4 <= received && bytes[request.position] == kXcpStart) {
        const uint8_t* frame = bytes + request.position;
        uint32_t frameLength = frame[1] + 3u;
        // A frame cut off by the end of the datagram is not handled: the
        // device would read its missing bytes from beyond what arrived.
        if (request.position + frameLength > received) break;
        // Each frame that goes to the UPS takes its time: it is a turn of
        // its own. A stop or a pause must not wait for all the frames a
        // datagram can hold, nor should the walk go on once no further
        // answer could reach the client.
        if (GoesToTheUps(frame[2], request.authorised)) {
            if (forwardedOne) return false;
            if (!RoomForAnotherAnswer(request)) {
                ++m_Counters.cutShort;
                break;
            }
            if (serving.keepRunning && !serving.keepRunning()) {
                serving.stopSeen = true;
                ++m_Counters.cutShort;
                break;
            }
            forwardedOne = true;
        }
        HandleFrame(request, frame, *serving.device);
        request.position += frameLength;
    }
    return true;
}

void NetXcpEndpoint::SendReply(QueuedRequest& request) {
    std::vector<uint8_t>& reply = request.reply;
    if (reply.empty()) return;
    if (reply.size() % 2 != 0) reply.push_back(0);
    // Send errors are not retried.
    int sent = m_pSocket->WriteTo(reply.data(), static_cast<int>(reply.size()), request.sender);
    TraceDatagram(TraceDirection::DatagramOut, reply.data(), sent, request.sender);
    if (sent > 0) ++m_Counters.answered;
}

void NetXcpEndpoint::HandleFrame(QueuedRequest& request, const uint8_t* frame, UpsDevice& device) {
    bool& authorised = request.authorised;
    uint8_t length = frame[1];
    uint8_t command = frame[2];
    if (command == kXcpCmdNull) {
        ++m_Counters.relayRequests;
        if (m_bEchoRelayRequests) {
            std::fputs("requested qln\n", stdout);
            std::fflush(stdout);
        }
        AddAnswer(request, kNetXcpRelayAnswer, sizeof kNetXcpRelayAnswer);
    } else if (command == kXcpCmdAuthorize) {
        if (length == kNetXcpPasswordLength + 1) HandlePassword(request, frame);
    } else if (command == kXcpCmdCancelAuthorization) {
        authorised = false;
        Forward(request, frame, device);
    } else if (command > kNetXcpLastOpenCommand) {
        // One password frame admits exactly one privileged command.
        if (!authorised) {
            ++m_Counters.privilegedRefused;
            return;
        }
        ++m_Counters.privilegedAdmitted;
        authorised = false;
        Forward(request, frame, device);
    } else {
        Forward(request, frame, device);
    }
}

// A sender that keeps guessing is not heard for a while: its password frames
// are then ignored, right or wrong, so that the answers no longer tell a
// right guess from a wrong one. The same holds for every sender not trusted
// while the relay-wide limit of wrong guesses is reached.
void NetXcpEndpoint::HandlePassword(QueuedRequest& request, const uint8_t* frame) {
    const uint32_t sender = HostOrder(request.sender.address);
    uint32_t now = plat::TickCount();
    switch (m_Throttle.Admit(sender, now)) {
        case PasswordThrottle::Verdict::kLocked:
            ++m_Counters.ignoredPasswords;
            m_LockoutReports.Tally();
            return;
        case PasswordThrottle::Verdict::kNoBudget:
            ++m_Counters.ignoredPasswords;
            ReportBudgetSpent(now, sender);
            return;
        case PasswordThrottle::Verdict::kCompare:
            break;
    }
    m_bBudgetSpent = false;
    if (PasswordMatches(frame + 3)) {
        request.authorised = true;
        m_Throttle.RecordRight(sender, now);
        return;
    }
    ++m_Counters.wrongPasswords;
    if (m_Throttle.RecordWrong(sender, now)) {
        ++m_Counters.lockouts;
        ReportLockout(now, sender);
    }
}

void NetXcpEndpoint::ReportSummaries(uint32_t nowMs) {
    const std::string seconds = std::to_string(kReportPeriodMs / 1000);
    uint32_t ignored = 0;
    if (uint32_t leftOut = m_LockoutReports.Due(nowMs, ignored)) {
        std::string count = std::to_string(leftOut), frames = std::to_string(ignored);
        CQLNException(MSG_LOCKOUTS_LEFT_OUT, {count.c_str(), seconds.c_str(), frames.c_str()})
            .Report();
    }
    if (uint32_t leftOut = m_BudgetReports.Due(nowMs, ignored)) {
        std::string count = std::to_string(leftOut), frames = std::to_string(ignored);
        CQLNException(MSG_LIMIT_REPORTS_LEFT_OUT, {count.c_str(), seconds.c_str(), frames.c_str()})
            .Report();
    }
}

// Said for the first few lockouts of a minute, each with its sender; the
// rest are told in one summary a minute.
void NetXcpEndpoint::ReportLockout(uint32_t nowMs, uint32_t senderHostOrder) {
    ReportSummaries(nowMs);
    if (!m_LockoutReports.Allow(nowMs)) return;
    std::string seconds = std::to_string(m_Throttle.LockoutSeconds());
    std::string sender = Dotted(senderHostOrder);
    CQLNException(MSG_WRONG_PASSWORDS, {sender.c_str(), seconds.c_str()}).Report();
}

// Said when the limit is reached after password frames were compared; while
// it stays reached, each frame it makes the relay ignore is only counted.
void NetXcpEndpoint::ReportBudgetSpent(uint32_t nowMs, uint32_t senderHostOrder) {
    if (!m_bBudgetSpent) {
        m_bBudgetSpent = true;
        ReportSummaries(nowMs);
        if (m_BudgetReports.Allow(nowMs)) {
            std::string budget = std::to_string(m_Throttle.BudgetPerMinute());
            std::string sender = Dotted(senderHostOrder);
            CQLNException(MSG_PASSWORD_LIMIT_REACHED, {budget.c_str(), sender.c_str()}).Report();
        }
    }
    m_BudgetReports.Tally();
}

// A password shorter than six characters compares as itself followed by zero
// bytes; a longer one by its first six.
bool NetXcpEndpoint::PasswordMatches(const uint8_t* sixBytes) const {
    if (!m_Access.passwordUsable) return false;
    uint8_t expected[kNetXcpPasswordLength] = {};
    const std::string& password = m_Access.password;
    std::memcpy(expected, password.data(),
                std::min<size_t>(password.size(), kNetXcpPasswordLength));
    return std::memcmp(expected, sixBytes, kNetXcpPasswordLength) == 0;
}

// Whatever goes wrong while one frame is relayed costs that frame's answer only.
void NetXcpEndpoint::Forward(QueuedRequest& request, const uint8_t* frame, UpsDevice& device) {
    ++m_Counters.forwarded;
    const size_t before = request.reply.size();
    std::vector<uint8_t> answer;
    if (std::optional<CaughtFailure> failure =
            Catch([&] { answer = device.RelayRequest(frame); })) {
        CountUpsFailure(failure->MessageId());
    }
    AddAnswer(request, answer.data(), answer.size());
    if (request.reply.size() == before) request.unanswered += kXcpSmallestAnswer;
}

void NetXcpEndpoint::CountUpsFailure(uint32_t messageId) {
    if (messageId == MSG_UPS_TIMEOUT) ++m_Counters.upsTimeouts;
    if (messageId == MSG_UPS_INVALID_RESPONSE) ++m_Counters.upsInvalid;
}
