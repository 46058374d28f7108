#include "agent/request_queue.h"

#include <utility>

RequestQueue::RequestQueue(size_t limit) : m_nLimit(limit == 0 ? 1 : limit) {}

RequestQueue::SenderLine* RequestQueue::Find(const sockapi::PeerAddress& sender) {
    for (SenderLine& line : m_Turns) {
        if (line.address == sender.address) return &line;
    }
    return nullptr;
}

RequestQueue::SenderLine& RequestQueue::FindOrAdd(const sockapi::PeerAddress& sender) {
    if (SenderLine* line = Find(sender)) return *line;
    m_Turns.push_back(SenderLine{sender.address, {}});
    return m_Turns.back();
}

void RequestQueue::Erase(SenderLine* line) {
    for (auto it = m_Turns.begin(); it != m_Turns.end(); ++it) {
        if (&*it == line) {
            m_Turns.erase(it);
            return;
        }
    }
}

namespace {

// Requests of a line that a full queue may drop: all but one begun.
size_t Droppable(const std::deque<QueuedRequest>& waiting) {
    return waiting.size() - (!waiting.empty() && waiting.front().Begun() ? 1 : 0);
}

}  // namespace

// The lines are few (at most one per queued request) and short-lived, so a
// walk over them is cheaper than keeping an index in step.
bool RequestQueue::MakeRoom(const sockapi::PeerAddress& sender, bool& dropNew) {
    dropNew = false;
    if (m_nSize < m_nLimit) return false;
    SenderLine* own = Find(sender);
    size_t ownCount = (own ? Droppable(own->waiting) : 0) + 1;
    SenderLine* most = nullptr;
    for (SenderLine& line : m_Turns) {
        if (&line == own) continue;
        if (!most || Droppable(line.waiting) > Droppable(most->waiting)) most = &line;
    }
    // Ties go against the newcomer's address: a request already queued is
    // not pushed out by an equal.
    if (!most || ownCount >= Droppable(most->waiting)) {
        if (!own || Droppable(own->waiting) == 0) {
            dropNew = true;
            return true;
        }
        most = own;
    }
    // The oldest that has not begun.
    auto victim = most->waiting.begin();
    if (victim->Begun()) ++victim;
    most->waiting.erase(victim);
    --m_nSize;
    if (most->waiting.empty()) Erase(most);
    return true;
}

bool RequestQueue::Add(QueuedRequest request) {
    bool dropNew = false;
    bool dropped = MakeRoom(request.sender, dropNew);
    if (dropNew) return true;
    FindOrAdd(request.sender).waiting.push_back(std::move(request));
    ++m_nSize;
    return dropped;
}

void RequestQueue::PutBack(QueuedRequest request) {
    if (SenderLine* line = Find(request.sender)) {
        // Its address goes to the back of the turns with it.
        SenderLine moved = std::move(*line);
        Erase(line);
        m_Turns.push_back(std::move(moved));
    }
    FindOrAdd(request.sender).waiting.push_front(std::move(request));
    ++m_nSize;
}

bool RequestQueue::Take(uint32_t nowMs, uint32_t maxAgeMs, QueuedRequest& out, uint64_t& stale) {
    while (!m_Turns.empty()) {
        SenderLine line = std::move(m_Turns.front());
        m_Turns.pop_front();
        QueuedRequest next = std::move(line.waiting.front());
        line.waiting.pop_front();
        --m_nSize;
        // A client that has asked again since (from the same address and
        // port) has given up on this request; one whose newest request it is
        // may still be waiting for it, but not for ever.
        bool superseded = false;
        for (const QueuedRequest& later : line.waiting) {
            superseded = superseded || later.sender.port == next.sender.port;
        }
        // The address goes to the back of the turns with whatever it has left.
        if (!line.waiting.empty()) m_Turns.push_back(std::move(line));
        // Tick counts wrap; their difference does not.
        const uint32_t age = nowMs - next.takenMs;
        const bool old = maxAgeMs != 0 && age > maxAgeMs;
        // The settings keep maxAgeMs * kGiveUpFactor inside 32 bits.
        const bool givenUp = maxAgeMs != 0 && age > maxAgeMs * kGiveUpFactor;
        if (!next.Begun() && old && (superseded || givenUp)) {
            ++stale;
            continue;
        }
        out = std::move(next);
        return true;
    }
    return false;
}

std::vector<QueuedRequest> RequestQueue::TakeBegun() {
    std::vector<QueuedRequest> begun;
    for (auto it = m_Turns.begin(); it != m_Turns.end();) {
        if (it->waiting.front().Begun()) {
            begun.push_back(std::move(it->waiting.front()));
            it->waiting.pop_front();
            --m_nSize;
        }
        it = it->waiting.empty() ? m_Turns.erase(it) : it + 1;
    }
    return begun;
}
