// ReportLimiter: keeps reports about network senders from flooding the log.
// Within a period the first few reports go out one by one; the rest are only
// counted, and when the period is over one summary gives their count. While
// the flood lasts, each following period gives its summary only; a period
// without a left-out report ends that, and the next report goes out singly.
#pragma once
#include <cstdint>

class ReportLimiter {
public:
    ReportLimiter(uint32_t singly, uint32_t periodMs) : m_nSingly(singly), m_nPeriodMs(periodMs) {}

    // Whether a report at `nowMs` (a wrapping millisecond tick count) goes out
    // by itself; false: it is counted for the summary. Due() first.
    bool Allow(uint32_t nowMs);
    // Counts something the summary also tells (for example the frames a
    // lockout made the relay ignore) while a period is running.
    void Tally() {
        if (m_bActive) ++m_nTally;
    }
    // The count of left-out reports once their period is over (then the next
    // period begins), else 0: the moment for one summary; `tally` is what
    // Tally() counted in that period.
    uint32_t Due(uint32_t nowMs, uint32_t& tally);

    uint32_t PeriodSeconds() const { return m_nPeriodMs / 1000; }

private:
    uint32_t m_nSingly;
    uint32_t m_nPeriodMs;
    bool m_bActive = false;  // a period is running
    bool m_bQuiet = false;   // the last period ended with a summary
    uint32_t m_nStartMs = 0;
    uint32_t m_nCount = 0;    // reports in this period
    uint32_t m_nLeftOut = 0;  // of them, not gone out singly
    uint32_t m_nTally = 0;
};
