// PasswordThrottle: how many NetXCP password guesses the relay compares. Two
// limits hold together. Per sender: after `tries` wrong password frames within
// `window`, that sender's password frames are ignored for `lockout`. For the
// whole relay: at most `budgetPerMinute` wrong guesses a minute, whatever the
// number of senders, so that guessing from hundreds of addresses gains
// nothing over guessing from one. A sender that gave the right password in
// the last hour is trusted: it keeps being heard while the relay-wide budget
// is spent; a sender the relay has not seen give it waits for the budget.
// Right passwords never count against anyone.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class PasswordThrottle {
public:
    // 0 tries: no limit per sender; 0 budget: no limit for the relay.
    // Seconds as configured.
    PasswordThrottle(uint32_t tries, uint32_t windowSeconds, uint32_t lockoutSeconds,
                     uint32_t budgetPerMinute = 0);

    enum class Verdict {
        kCompare,   // the password frame is compared
        kLocked,    // the sender is locked out (or could not be remembered)
        kNoBudget,  // the relay-wide budget is spent and the sender is not trusted
    };
    // Whether a password frame from `address` (any byte order, used as a key)
    // is compared at all at `nowMs` (a wrapping millisecond tick count).
    Verdict Admit(uint32_t address, uint32_t nowMs);
    bool Admits(uint32_t address, uint32_t nowMs) {
        return Admit(address, nowMs) == Verdict::kCompare;
    }
    // Records a right password from `address`: it is trusted for kTrustMs.
    void RecordRight(uint32_t address, uint32_t nowMs);
    // Records a wrong password from `address`. True when this wrong guess
    // starts a lockout (the moment to say so, once per episode).
    bool RecordWrong(uint32_t address, uint32_t nowMs);

    uint32_t LockoutSeconds() const { return m_nLockoutMs / 1000; }
    uint32_t BudgetPerMinute() const { return m_nBudgetPerMinute; }

    // Senders remembered at most, so that many forged senders cannot grow
    // the table. When it is full, the sender seen longest ago that is neither
    // locked out nor trusted makes room (then a trusted one); a locked-out
    // sender is never forgotten before its lockout ends. When every sender in
    // the table is locked out, a new one is treated as locked out too.
    static constexpr size_t kMaxSenders = 256;
    // How long a right password keeps its sender trusted.
    static constexpr uint32_t kTrustMs = 3600u * 1000u;
    // Wrong guesses the relay-wide budget holds at most (a short burst).
    static constexpr uint32_t kBudgetBurst = 5;

private:
    struct Sender {
        uint32_t address;
        uint32_t lastSeenMs;
        uint32_t windowStartMs;
        uint32_t wrong;
        bool locked;
        uint32_t lockStartMs;
        bool trusted;
        uint32_t trustedSinceMs;
    };
    Sender* Find(uint32_t address);
    // nullptr when the table is full of locked-out senders.
    Sender* FindOrAdd(uint32_t address, uint32_t nowMs);
    // Ends a lockout, a window or a trust that is over.
    void Age(Sender& sender, uint32_t nowMs) const;
    // Adds what the budget has earned since it was last looked at.
    void Refill(uint32_t nowMs);
    bool Full() const;

    uint32_t m_nTries;
    uint32_t m_nWindowMs;
    uint32_t m_nLockoutMs;
    uint32_t m_nBudgetPerMinute;
    // The budget in 1/60000 guesses: a minute's milliseconds times the rate
    // earn exactly the rate's guesses, without rounding.
    uint64_t m_nBudget = 0;
    uint32_t m_nRefilledMs = 0;
    bool m_bRefilled = false;
    std::vector<Sender> m_Senders;
};
