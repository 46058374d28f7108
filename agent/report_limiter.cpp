#include "agent/report_limiter.h"

bool ReportLimiter::Allow(uint32_t nowMs) {
    if (!m_bActive) {
        m_bActive = true;
        m_bQuiet = false;
        m_nStartMs = nowMs;
        m_nCount = 0;
        m_nLeftOut = 0;
        m_nTally = 0;
    }
    if (!m_bQuiet && ++m_nCount <= m_nSingly) return true;
    ++m_nLeftOut;
    return false;
}

uint32_t ReportLimiter::Due(uint32_t nowMs, uint32_t& tally) {
    tally = 0;
    if (!m_bActive || nowMs - m_nStartMs < m_nPeriodMs) return 0;
    const uint32_t leftOut = m_nLeftOut;
    tally = m_nTally;
    m_nTally = 0;
    // A period that left reports out is followed by a quiet one, so that a
    // flood that goes on gives one line a period, not a few more each time.
    m_bQuiet = leftOut != 0;
    m_bActive = m_bQuiet;
    m_nStartMs = nowMs;
    m_nCount = 0;
    m_nLeftOut = 0;
    return leftOut;
}
