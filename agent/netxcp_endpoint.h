// NetXcpEndpoint: the agent's UDP face. Takes the request datagrams waiting on
// its socket into fair, bounded queues (agent/request_queue.h), walks their
// XCP request frames in the client addresses' turns, one frame for the UPS a
// turn, gates privileged commands behind the password, relays the rest to the
// UPS device and sends each request's answers back to its sender in one
// datagram once its last frame is done. Requests the relay answers by itself
// (relay identification and password frames only) have a queue of their own,
// one of them served before each frame for the UPS, so they never wait
// behind the UPS.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "agent/password_throttle.h"
#include "agent/relay_settings.h"
#include "agent/report_limiter.h"
#include "agent/request_queue.h"
#include "agent/socket.h"
#include "upslink/xcp_protocol.h"

class UpsDevice;
namespace plat {
class Event;
}

// What the endpoint has seen since it was made.
struct NetXcpCounters {
    uint64_t received = 0;          // datagrams read
    uint64_t answered = 0;          // reply datagrams sent
    uint64_t notAllowed = 0;        // from a sender outside the allowed clients
    uint64_t noUps = 0;             // read while no UPS was attached
    uint64_t forwarded = 0;         // frames handed to the UPS
    uint64_t wrongPasswords = 0;    // password frames that did not match
    uint64_t ignoredPasswords = 0;  // password frames not compared (lockout, relay-wide limit)
    uint64_t lockouts = 0;          // lockouts begun
    uint64_t cutShort = 0;          // datagrams whose walk ended early (stop, full reply)
    uint64_t stale = 0;             // queued requests dropped unanswered for their age
    uint64_t oversized = 0;         // datagrams longer than kMaxDatagram, dropped alone
    uint64_t queueFull = 0;         // queued requests dropped to make room (see RequestQueue::Add)
    uint64_t receiveErrors = 0;     // receives that failed for another reason
    uint64_t privilegedAdmitted = 0;  // privileged frames forwarded after a password
    uint64_t privilegedRefused = 0;   // privileged frames dropped for want of one
    uint64_t upsTimeouts = 0;         // forwarded frames the UPS did not answer in time
    uint64_t upsInvalid = 0;          // forwarded frames answered with something unusable
    uint64_t relayRequests = 0;       // 0x00 frames, answered by the relay itself
};

class NetXcpEndpoint {
public:
    // Largest request and reply datagram.
    static constexpr uint32_t kMaxDatagram = kNetXcpMaxDatagram;

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

    // Datagrams taken from the socket in one pass at most: a default receive
    // queue's worth, so that a sender that never stops cannot hold the worker.
    static constexpr uint32_t kTakePerPass = 256;

    // True at once while requests are queued; otherwise true when a datagram
    // is waiting on the socket, blocking up to `waitMs` for one.
    bool WaitForRequest(uint32_t waitMs);
    // Lets `ms` pass while taking the datagrams that arrive into the queue
    // (blocking on the socket between them), so that a pause of the worker
    // does not leave the socket's small receive queue to fill and the kernel
    // to drop requests from anyone while one host floods the port.
    void TakeWhileWaiting(uint32_t ms);
    // What ended a wait of WaitForRequestOrEvent.
    enum class Wake { kTimeOut, kRequest, kEvent };
    // Blocks up to `waitMs` until a datagram is waiting or one of `count`
    // events is signalled; the event is left signalled for its owner. While
    // the socket cannot be had, only the events and the time end the wait.
    Wake WaitForRequestOrEvent(uint32_t waitMs, plat::Event* const* events, int count);
    // Takes what waits on the socket into the queues, then serves requests in
    // turn that have not gone stale (RequestQueue::Take; stale ones are
    // dropped and counted): one request the relay answers by itself, then
    // until one forwarded request is done, frame by frame, each frame for the
    // UPS a turn of its own (with one more of the relay's own answers after
    // each), so that the frames of one long datagram take turns
    // with other senders' requests (a walk that is not done waits in the
    // queue for its next turn). A done request is answered; without a device
    // a request not begun is dropped unanswered. Never throws. `keepRunning`
    // is asked before each frame that goes to the UPS (it may block while the
    // service is paused); when it says stop, the rest of every walk is left,
    // the answers so far are sent, and ServeRequest returns false.
    bool ServeRequest(UpsDevice* device, const std::function<bool()>& keepRunning = nullptr);

    const NetXcpCounters& Counters() const { return m_Counters; }
    // Whether each 0x00 frame writes "requested qln" to standard output (the
    // default, as in the foreground). A service turns it off: there any
    // sender could fill the log line by line; the frames are counted either
    // way (relayRequests).
    void EchoRelayRequests(bool echo) { m_bEchoRelayRequests = echo; }

    uint16_t LocalPort() { return m_pSocket->LocalPort(); }
    Socket& GetSocket() { return *m_pSocket; }

private:
    // One call of ServeRequest: the UPS the frames go to, the question asked
    // before each frame for it, and whether that question said stop. What
    // belongs to one request (its bytes, its sender, its walk and its
    // answers) is the request's own, a QueuedRequest, from the socket to
    // the reply.
    struct Serving {
        UpsDevice* device;
        const std::function<bool()>& keepRunning;
        bool stopSeen = false;
    };

    void OpenSocket();
    // Reopens a socket that failed; false while that is not possible.
    bool EnsureSocket();
    void ServeDatagram(Serving& serving);
    // Moves the datagrams waiting on the socket into the queues (bounded);
    // how many datagrams it read.
    uint32_t TakePending();
    bool IsAllowed(uint32_t senderHostOrder) const;
    // Walks `request` from where it stands up to its next frame for the UPS
    // after the first one; true when the walk is over.
    bool Walk(QueuedRequest& request, Serving& serving);
    void SendReply(QueuedRequest& request);
    // Serves the next request in turn the relay answers by itself, if any.
    void ServeOwnAnswer(Serving& serving);
    void HandleFrame(QueuedRequest& request, const uint8_t* frame, UpsDevice& device);
    void HandlePassword(QueuedRequest& request, const uint8_t* frame);
    void Forward(QueuedRequest& request, const uint8_t* frame, UpsDevice& device);
    // Counts the engine's timeout and invalid-answer failures of a forwarded frame.
    void CountUpsFailure(uint32_t messageId);
    bool PasswordMatches(const uint8_t* sixBytes) const;
    // The reports about guessing that were left out, once their minute is over.
    void ReportSummaries(uint32_t nowMs);
    void ReportLockout(uint32_t nowMs, uint32_t senderHostOrder);
    void ReportBudgetSpent(uint32_t nowMs, uint32_t senderHostOrder);

    NetXcpAccess m_Access;
    PasswordThrottle m_Throttle;
    NetXcpCounters m_Counters;
    RequestQueue m_Queue;
    RequestQueue m_OwnAnswers;  // requests the relay answers by itself
    uint32_t m_nMaxAgeMs = 0;   // 0: no limit
    bool m_bEchoRelayRequests = true;
    // Lockout reports and reports of the relay-wide limit, so that senders
    // that rotate their addresses cannot flood the log.
    ReportLimiter m_LockoutReports;
    ReportLimiter m_BudgetReports;
    bool m_bBudgetSpent = false;  // the last password frame found the limit reached
    std::unique_ptr<Socket> m_pSocket;
};
