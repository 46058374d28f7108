// Reports about network senders: the first few of a minute one by one, then
// one summary a minute with the count of those left out.
#include "agent/report_limiter.h"

#include <gtest/gtest.h>

namespace {

TEST(ReportLimiter, TheFirstFewGoOutThenOneSummaryAPeriod) {
    struct Step {
        uint32_t atMs;
        int reports;       // reports at that moment
        uint32_t singly;   // of them, gone out one by one
        uint32_t summary;  // the summary's count first due then (0: none)
        uint32_t tally;    // and what it tells besides
    };
    const Step steps[] = {
        {0, 4, 3, 0, 0},       // three singly, one left out
        {59999, 2, 0, 0, 0},   // still the first minute
        {60000, 5, 0, 3, 6},   // the minute is over: one summary; a quiet minute follows
        {120000, 0, 0, 5, 5},  // its summary
        {180000, 0, 0, 0, 0},  // a quiet minute with nothing left out ends the quiet
        {180001, 4, 3, 0, 0},  // singly again
        {240001, 0, 0, 1, 4},
    };
    ReportLimiter limiter(3, 60000);
    for (const Step& s : steps) {
        uint32_t tally = 99;
        EXPECT_EQ(limiter.Due(s.atMs, tally), s.summary) << "at " << s.atMs;
        EXPECT_EQ(tally, s.summary ? s.tally : 0u) << "at " << s.atMs;
        uint32_t singly = 0;
        for (int i = 0; i < s.reports; ++i) {
            if (limiter.Allow(s.atMs)) ++singly;
            limiter.Tally();
        }
        EXPECT_EQ(singly, s.singly) << "at " << s.atMs;
    }
}

}  // namespace
