#include "agent/request_queue.h"

#include <utility>

namespace {

bool SameSender(const sockapi::PeerAddress& a, const sockapi::PeerAddress& b) {
    return a.address == b.address && a.port == b.port;
}

}  // namespace

RequestQueue::RequestQueue(size_t limit) : m_nLimit(limit == 0 ? 1 : limit) {}

RequestQueue::SenderLine* RequestQueue::Find(const sockapi::PeerAddress& sender) {
    for (SenderLine& line : m_Turns) {
        if (SameSender(line.sender, sender)) return &line;
    }
    return nullptr;
}

// The lines are few (at most one per queued request) and short-lived, so a
// walk over them is cheaper than keeping an index in step.
bool RequestQueue::MakeRoom(const sockapi::PeerAddress& sender, bool& dropNew) {
    dropNew = false;
    if (m_nSize < m_nLimit) return false;
    SenderLine* own = Find(sender);
    size_t ownCount = (own ? own->waiting.size() : 0) + 1;
    SenderLine* most = nullptr;
    for (SenderLine& line : m_Turns) {
        if (&line == own) continue;
        if (!most || line.waiting.size() > most->waiting.size()) most = &line;
    }
    // Ties go against the newcomer's sender: a request already queued is
    // not pushed out by an equal.
    if (!most || ownCount >= most->waiting.size()) {
        if (!own) {
            dropNew = true;
            return true;
        }
        most = own;
    }
    most->waiting.pop_front();
    --m_nSize;
    if (most->waiting.empty()) {
        for (auto it = m_Turns.begin(); it != m_Turns.end(); ++it) {
            if (&*it == most) {
                m_Turns.erase(it);
                break;
            }
        }
    }
    return true;
}

bool RequestQueue::Add(QueuedRequest request) {
    bool dropNew = false;
    bool dropped = MakeRoom(request.sender, dropNew);
    if (dropNew) return true;
    if (SenderLine* line = Find(request.sender)) {
        line->waiting.push_back(std::move(request));
    } else {
        SenderLine fresh;
        fresh.sender = request.sender;
        fresh.waiting.push_back(std::move(request));
        m_Turns.push_back(std::move(fresh));
    }
    ++m_nSize;
    return dropped;
}

bool RequestQueue::Take(uint32_t nowMs, uint32_t maxAgeMs, QueuedRequest& out, uint64_t& stale) {
    while (!m_Turns.empty()) {
        SenderLine line = std::move(m_Turns.front());
        m_Turns.pop_front();
        QueuedRequest next = std::move(line.waiting.front());
        line.waiting.pop_front();
        --m_nSize;
        // A sender that has asked again since has given up on this request;
        // one whose newest request it is may still be waiting for it.
        bool superseded = !line.waiting.empty();
        // The sender goes to the back of the turns with whatever it has left.
        if (superseded) m_Turns.push_back(std::move(line));
        // Tick counts wrap; their difference does not.
        if (superseded && maxAgeMs != 0 && nowMs - next.takenMs > maxAgeMs) {
            ++stale;
            continue;
        }
        out = std::move(next);
        return true;
    }
    return false;
}
