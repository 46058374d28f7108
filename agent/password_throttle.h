// PasswordThrottle: how many NetXCP password guesses one sender gets. After
// `tries` wrong password frames within `window`, that sender's password frames
// are ignored for `lockout`; right passwords never count against a sender.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class PasswordThrottle {
public:
    // 0 tries: no limit. Seconds as configured.
    PasswordThrottle(uint32_t tries, uint32_t windowSeconds, uint32_t lockoutSeconds);

    // Whether a password frame from `address` (any byte order, used as a key)
    // is compared at all at `nowMs` (a wrapping millisecond tick count).
    bool Admits(uint32_t address, uint32_t nowMs);
    // Records a wrong password from `address`. True when this wrong guess
    // starts a lockout (the moment to say so, once per episode).
    bool RecordWrong(uint32_t address, uint32_t nowMs);

    uint32_t LockoutSeconds() const { return m_nLockoutMs / 1000; }

    // Senders remembered at most: beyond it the least recently seen one is
    // forgotten, so that many forged senders cannot grow the table.
    static constexpr size_t kMaxSenders = 256;

private:
    struct Sender {
        uint32_t address;
        uint32_t lastSeenMs;
        uint32_t windowStartMs;
        uint32_t wrong;
        bool locked;
        uint32_t lockStartMs;
    };
    Sender* Find(uint32_t address);
    Sender& FindOrAdd(uint32_t address, uint32_t nowMs);
    // Ends a lockout or a window that is over.
    void Age(Sender& sender, uint32_t nowMs) const;

    uint32_t m_nTries;
    uint32_t m_nWindowMs;
    uint32_t m_nLockoutMs;
    std::vector<Sender> m_Senders;
};
