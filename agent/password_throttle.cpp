#include "agent/password_throttle.h"

#include <algorithm>

namespace {

// Seconds to milliseconds, held below the half of the tick range in which
// wrapping differences stay meaningful (about 24 days).
uint32_t Milliseconds(uint32_t seconds) {
    constexpr uint32_t kMaxSeconds = 0x7FFFFFFFu / 1000;
    return std::min(seconds, kMaxSeconds) * 1000;
}

constexpr uint64_t kOneGuess = 60000;  // budget units: a minute in milliseconds

}  // namespace

PasswordThrottle::PasswordThrottle(uint32_t tries, uint32_t windowSeconds, uint32_t lockoutSeconds,
                                   uint32_t budgetPerMinute)
    : m_nTries(tries),
      m_nWindowMs(Milliseconds(windowSeconds)),
      m_nLockoutMs(Milliseconds(lockoutSeconds)),
      m_nBudgetPerMinute(budgetPerMinute) {}

PasswordThrottle::Sender* PasswordThrottle::Find(uint32_t address) {
    for (Sender& s : m_Senders) {
        if (s.address == address) return &s;
    }
    return nullptr;
}

PasswordThrottle::Sender* PasswordThrottle::FindOrAdd(uint32_t address, uint32_t nowMs) {
    if (Sender* known = Find(address)) return known;
    Sender fresh{address, nowMs, nowMs, 0, false, 0, false, 0};
    if (m_Senders.size() < kMaxSenders) {
        m_Senders.push_back(fresh);
        return &m_Senders.back();
    }
    // The one seen longest ago among those that may go: first those neither
    // locked nor trusted, then trusted ones; never a locked-out one.
    Sender* oldest = nullptr;
    for (int pass = 0; pass < 2 && oldest == nullptr; ++pass) {
        for (Sender& s : m_Senders) {
            Age(s, nowMs);
            if (s.locked || (pass == 0 && s.trusted)) continue;
            if (!oldest || nowMs - s.lastSeenMs > nowMs - oldest->lastSeenMs) oldest = &s;
        }
    }
    if (oldest == nullptr) return nullptr;
    *oldest = fresh;
    return oldest;
}

bool PasswordThrottle::Full() const { return m_Senders.size() >= kMaxSenders; }

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
    if (sender.trusted && nowMs - sender.trustedSinceMs >= kTrustMs) sender.trusted = false;
}

void PasswordThrottle::Refill(uint32_t nowMs) {
    const uint64_t cap = uint64_t{std::min(kBudgetBurst, m_nBudgetPerMinute)} * kOneGuess;
    if (!m_bRefilled) {
        // A relay that has just started has its whole burst.
        m_bRefilled = true;
        m_nBudget = cap;
    } else {
        m_nBudget = std::min(cap, m_nBudget + uint64_t{nowMs - m_nRefilledMs} * m_nBudgetPerMinute);
    }
    m_nRefilledMs = nowMs;
}

PasswordThrottle::Verdict PasswordThrottle::Admit(uint32_t address, uint32_t nowMs) {
    Sender* sender = Find(address);
    if (sender != nullptr) {
        Age(*sender, nowMs);
        sender->lastSeenMs = nowMs;
        if (m_nTries != 0 && sender->locked) return Verdict::kLocked;
        if (sender->trusted) return Verdict::kCompare;
    } else if (m_nTries != 0 && Full()) {
        // Fail closed: a sender the table could not hold would never be
        // locked out, so its guesses are not compared while the table is
        // full of locked-out senders.
        bool room = false;
        for (Sender& s : m_Senders) {
            Age(s, nowMs);
            room = room || !s.locked;
        }
        if (!room) return Verdict::kLocked;
    }
    if (m_nBudgetPerMinute == 0) return Verdict::kCompare;
    Refill(nowMs);
    return m_nBudget >= kOneGuess ? Verdict::kCompare : Verdict::kNoBudget;
}

void PasswordThrottle::RecordRight(uint32_t address, uint32_t nowMs) {
    Sender* sender = FindOrAdd(address, nowMs);
    if (sender == nullptr) return;
    Age(*sender, nowMs);
    sender->lastSeenMs = nowMs;
    sender->trusted = true;
    sender->trustedSinceMs = nowMs;
}

bool PasswordThrottle::RecordWrong(uint32_t address, uint32_t nowMs) {
    if (m_nBudgetPerMinute != 0) {
        Refill(nowMs);
        m_nBudget -= std::min(m_nBudget, kOneGuess);
    }
    if (m_nTries == 0) return false;
    Sender* sender = FindOrAdd(address, nowMs);
    if (sender == nullptr) return false;
    Age(*sender, nowMs);
    sender->lastSeenMs = nowMs;
    if (sender->locked) return false;
    if (++sender->wrong < m_nTries) return false;
    sender->locked = true;
    sender->lockStartMs = nowMs;
    return true;
}
