// RequestQueue: the NetXCP requests taken from the socket and not yet served,
// each with its sender and the moment it was taken. Client addresses take
// turns (one request each, round robin; the port does not count, so one host
// that floods from hundreds of ports gets one turn like any other host), each
// address's own requests go oldest first, so one host that floods the port
// cannot starve the others; the queue holds at most `limit` requests, and one
// that has waited too long is dropped when its turn comes instead of being
// answered after its client gave up on it. A request whose walk has begun
// (see QueuedRequest::position) goes back to the front of its address's line
// and is never dropped.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "agent/socket_api.h"

// One request from the moment it is taken from the socket until its reply is
// sent: the one owner of its bytes and of everything its walk has come to.
// It moves between the queue and the endpoint; nothing of it is copied.
struct QueuedRequest {
    sockapi::PeerAddress sender{};  // whom the answer goes to; its address is the turn's key
    uint32_t takenMs = 0;           // plat::TickCount() when taken from the socket
    std::vector<uint8_t> bytes;
    // How far the endpoint's walk of its frames has come, between turns: the
    // next frame's offset (0: not begun), whether a password admits the next
    // privileged frame, the answers so far, and the room the frames without
    // an answer used up.
    uint32_t position = 0;
    bool authorised = false;
    std::vector<uint8_t> reply;
    uint32_t unanswered = 0;

    bool Begun() const { return position != 0; }
};

class RequestQueue {
public:
    // At least one request is held, whatever `limit` says.
    explicit RequestQueue(size_t limit);

    // Queues `request`. A full queue first drops one request: the oldest not
    // begun of the address that holds the most, counting the new one, so that
    // a flood pushes out its own requests and never another host's. When the
    // new request's address is among those that hold the most and has nothing
    // queued yet (every address holds one), the new request is the one dropped.
    // True when a request was dropped.
    bool Add(QueuedRequest request);

    // A request whose walk has begun, back at the front of its address's
    // line, and that address at the back of the turns.
    void PutBack(QueuedRequest request);

    // The next request in turn that is still wanted at `nowMs`: a request
    // older than `maxAgeMs` (0: no limit) is stale when its client (address
    // and port) has sent another since; one older than kGiveUpFactor times `maxAgeMs` is stale in
    // any case, since no client waits that long. Stale ones met on the way are
    // dropped and counted in `stale`; one whose walk has begun is never stale.
    // False when nothing is left.
    bool Take(uint32_t nowMs, uint32_t maxAgeMs, QueuedRequest& out, uint64_t& stale);

    // Removes every request whose walk has begun, for a last reply on stop.
    std::vector<QueuedRequest> TakeBegun();

    // With the default age of 3 s: a minute.
    static constexpr uint32_t kGiveUpFactor = 20;

    bool Empty() const { return m_nSize == 0; }
    size_t Size() const { return m_nSize; }
    size_t Limit() const { return m_nLimit; }

private:
    struct SenderLine {
        uint32_t address;
        std::deque<QueuedRequest> waiting;  // oldest first (one begun at the front)
    };
    // The line of `sender`'s address; nullptr when it has nothing queued.
    SenderLine* Find(const sockapi::PeerAddress& sender);
    // The line of `sender`'s address, made at the back of the turns if need be.
    SenderLine& FindOrAdd(const sockapi::PeerAddress& sender);
    void Erase(SenderLine* line);
    // Makes room for one request of `sender`; true when it dropped one.
    bool MakeRoom(const sockapi::PeerAddress& sender, bool& dropNew);

    size_t m_nLimit;
    size_t m_nSize = 0;
    std::deque<SenderLine> m_Turns;  // the front one's turn is next
};
