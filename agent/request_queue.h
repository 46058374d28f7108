// RequestQueue: the NetXCP requests taken from the socket and not yet served,
// each with its sender and the moment it was taken. Senders take turns (one
// request each, round robin), each sender's own requests go oldest first, so
// one sender that floods the port cannot starve the others; the queue holds
// at most `limit` requests, and one that has waited too long while its sender
// went on sending is dropped when its turn comes instead of being answered
// after its client gave up on it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "agent/socket_api.h"

struct QueuedRequest {
    sockapi::PeerAddress sender{};  // whom the answer goes to; with the port, the turn's key
    uint32_t takenMs = 0;           // plat::TickCount() when taken from the socket
    std::vector<uint8_t> bytes;
};

class RequestQueue {
public:
    // At least one request is held, whatever `limit` says.
    explicit RequestQueue(size_t limit);

    // Queues `request`. A full queue first drops one request: the oldest of
    // the sender that holds the most, counting the new one, so that a flood
    // pushes out its own requests and never another sender's. When the new
    // request's sender is among those that hold the most and has nothing
    // queued yet (every sender holds one), the new request is the one dropped.
    // True when a request was dropped.
    bool Add(QueuedRequest request);

    // The next request in turn that is still wanted at `nowMs`: a request
    // older than `maxAgeMs` (0: no limit) is stale when its sender has sent
    // another since; stale ones met on the way are dropped and counted in
    // `stale`. A sender's newest request is served however old it is: its
    // client may still wait for it, and it costs one turn, not everyone's.
    // False when nothing is left.
    bool Take(uint32_t nowMs, uint32_t maxAgeMs, QueuedRequest& out, uint64_t& stale);

    bool Empty() const { return m_nSize == 0; }
    size_t Size() const { return m_nSize; }
    size_t Limit() const { return m_nLimit; }

private:
    struct SenderLine {
        sockapi::PeerAddress sender;
        std::deque<QueuedRequest> waiting;  // oldest first
    };
    // The line of `sender`; nullptr when it has nothing queued.
    SenderLine* Find(const sockapi::PeerAddress& sender);
    // Makes room for one request of `sender`; true when it dropped one.
    bool MakeRoom(const sockapi::PeerAddress& sender, bool& dropNew);

    size_t m_nLimit;
    size_t m_nSize = 0;
    std::deque<SenderLine> m_Turns;  // the front one's turn is next
};
