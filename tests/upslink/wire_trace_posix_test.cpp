// A trace whose disk fills up while the relay runs: /dev/full takes the open
// and refuses every write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "upslink/wire_trace.h"

TEST(WireTrace, AFullDiskIsReportedOnceAndTheHooksGoOn) {
    std::vector<std::string> reports;
    const uint8_t frame[] = {0xAB, 0x01, 0x31, 0x23};
    {
        WireTraceScope trace("/dev/full", 64, [&](const std::string& file, const std::string& reason) {
            reports.push_back(file + " " + reason);
        });
        for (int i = 0; i < 100; ++i) TraceBytes(TraceDirection::ToUps, frame, sizeof frame);
    }
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("/dev/full write: "), std::string::npos)
        << reports[0];
}
