// How many password guesses the relay compares: per sender, for the whole
// relay, and what a full table of senders does with a sender it cannot hold.
#include "agent/password_throttle.h"

#include <gtest/gtest.h>

namespace {

using Verdict = PasswordThrottle::Verdict;

// Fills the table with `count` senders 10.0.x.y after `first`, each with
// `wrong` wrong guesses at `nowMs`.
void Guessers(PasswordThrottle& throttle, uint32_t count, uint32_t wrong, uint32_t nowMs,
              uint32_t first = 0x0A000100u) {
    for (uint32_t i = 0; i < count; ++i) {
        for (uint32_t w = 0; w < wrong; ++w) throttle.RecordWrong(first + i, nowMs);
    }
}

// A locked-out sender stays locked out whatever other senders do, and a
// table full of locked-out senders keeps a new one out too (fail closed).
TEST(PasswordThrottle, AFullTableNeverForgetsALockedOutSender) {
    PasswordThrottle throttle(2, 60, 60);
    const uint32_t locked = 0x0A000001u;
    EXPECT_FALSE(throttle.RecordWrong(locked, 0));
    EXPECT_TRUE(throttle.RecordWrong(locked, 0));
    // Far more senders than the table holds, one wrong guess each.
    Guessers(throttle, 3 * PasswordThrottle::kMaxSenders, 1, 10);
    EXPECT_FALSE(throttle.Admits(locked, 20));
    // Every sender the table holds is locked out: a new one is not heard.
    Guessers(throttle, PasswordThrottle::kMaxSenders, 2, 30, 0x0B000000u);
    EXPECT_FALSE(throttle.Admits(0x0C000001u, 40));
    // Once the lockouts are over, it is.
    EXPECT_TRUE(throttle.Admits(0x0C000001u, 60040));
    EXPECT_TRUE(throttle.Admits(locked, 60040));
}

// The relay-wide budget: a burst, then one wrong guess a second whatever the
// number of senders; right guesses cost nothing and make their sender
// trusted, who is heard while the budget is spent.
TEST(PasswordThrottle, TheWholeRelayComparesAboutOneWrongGuessASecond) {
    struct Step {
        uint32_t atMs;
        uint32_t sender;
        enum { kWrong, kRight, kAsk } what;
        Verdict expected;
    };
    const uint32_t honest = 0x0A0000FEu;
    const Step steps[] = {
        {0, honest, Step::kRight, Verdict::kCompare},  // an honest client first
        // Five senders spend the burst, the sixth waits.
        {10, 1, Step::kWrong, Verdict::kCompare},
        {10, 2, Step::kWrong, Verdict::kCompare},
        {10, 3, Step::kWrong, Verdict::kCompare},
        {10, 4, Step::kWrong, Verdict::kCompare},
        {10, 5, Step::kWrong, Verdict::kCompare},
        {10, 6, Step::kAsk, Verdict::kNoBudget},
        {10, 7, Step::kRight, Verdict::kNoBudget},      // a newcomer waits too
        {10, honest, Step::kRight, Verdict::kCompare},  // the trusted one does not
        {990, 6, Step::kAsk, Verdict::kNoBudget},
        {1010, 6, Step::kWrong, Verdict::kCompare},  // a second later: one more
        {1010, 8, Step::kAsk, Verdict::kNoBudget},
        {2010, 7, Step::kRight, Verdict::kCompare},
        {2010, 9, Step::kAsk, Verdict::kCompare},  // a right guess spends nothing
        {2010, 9, Step::kWrong, Verdict::kCompare},
        {2010, 10, Step::kAsk, Verdict::kNoBudget},
        // An hour on, the honest sender is no longer trusted; the budget has
        // refilled to its burst only.
        {3602010, honest, Step::kAsk, Verdict::kCompare},
    };
    PasswordThrottle throttle(5, 60, 60, 60);
    for (const Step& s : steps) {
        const Verdict v = throttle.Admit(s.sender, s.atMs);
        EXPECT_EQ(v, s.expected) << "sender " << s.sender << " at " << s.atMs;
        if (v != Verdict::kCompare) continue;
        if (s.what == Step::kWrong) throttle.RecordWrong(s.sender, s.atMs);
        if (s.what == Step::kRight) throttle.RecordRight(s.sender, s.atMs);
    }
    Guessers(throttle, 5, 1, 3602020);
    EXPECT_EQ(throttle.Admit(honest, 3602020), Verdict::kNoBudget);
    // 0 a minute: no relay-wide limit.
    PasswordThrottle unlimited(0, 60, 60, 0);
    Guessers(unlimited, 1000, 1, 0);
    EXPECT_EQ(unlimited.Admit(1, 0), Verdict::kCompare);
}

}  // namespace
