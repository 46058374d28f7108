#include "agent/password_throttle.h"

#include <algorithm>

namespace {

// Seconds to milliseconds, held below the half of the tick range in which
// wrapping differences stay meaningful (about 24 days).
uint32_t Milliseconds(uint32_t seconds) {
    constexpr uint32_t kMaxSeconds = 0x7FFFFFFFu / 1000;
    return std::min(seconds, kMaxSeconds) * 1000;
}

}  // namespace

PasswordThrottle::PasswordThrottle(uint32_t tries, uint32_t windowSeconds,
                                   uint32_t lockoutSeconds)
    : m_nTries(tries), m_nWindowMs(Milliseconds(windowSeconds)),
      m_nLockoutMs(Milliseconds(lockoutSeconds)) {}

PasswordThrottle::Sender* PasswordThrottle::Find(uint32_t address) {
    for (Sender& s : m_Senders) {
        if (s.address == address) return &s;
    }
    return nullptr;
}

PasswordThrottle::Sender& PasswordThrottle::FindOrAdd(uint32_t address, uint32_t nowMs) {
    if (Sender* known = Find(address)) return *known;
    Sender fresh{address, nowMs, nowMs, 0, false, 0};
    if (m_Senders.size() < kMaxSenders) {
        m_Senders.push_back(fresh);
        return m_Senders.back();
    }
    // The one seen longest ago, by wrapping difference to now.
    auto oldest = std::max_element(m_Senders.begin(), m_Senders.end(),
                                   [nowMs](const Sender& a, const Sender& b) {
                                       return nowMs - a.lastSeenMs < nowMs - b.lastSeenMs;
                                   });
    *oldest = fresh;
    return *oldest;
}

void PasswordThrottle::Age(Sender& sender, uint32_t nowMs) const {
    if (sender.locked && nowMs - sender.lockStartMs >= m_nLockoutMs) {
        sender.locked = false;
        sender.wrong = 0;
        sender.windowStartMs = nowMs;
    }
    if (!sender.locked && nowMs - sender.windowStartMs >= m_nWindowMs) {
        sender.wrong = 0;
        sender.windowStartMs = nowMs;
    }
}

bool PasswordThrottle::Admits(uint32_t address, uint32_t nowMs) {
    if (m_nTries == 0) return true;
    Sender* sender = Find(address);
    if (sender == nullptr) return true;
    Age(*sender, nowMs);
    sender->lastSeenMs = nowMs;
    return !sender->locked;
}

bool PasswordThrottle::RecordWrong(uint32_t address, uint32_t nowMs) {
    if (m_nTries == 0) return false;
    Sender& sender = FindOrAdd(address, nowMs);
    Age(sender, nowMs);
    sender.lastSeenMs = nowMs;
    if (sender.locked) return false;
    if (++sender.wrong < m_nTries) return false;
    sender.locked = true;
    sender.lockStartMs = nowMs;
    return true;
}
