// A trace whose disk fills up while the relay runs: a file-size limit on this
// process stands for the full disk (a device such as /dev/full is no longer
// taken as a trace file at all), and every write past it fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "agent/file_refusal.h"
#include "scratch_dir.h"
#include "upslink/wire_trace.h"

namespace {

// Lowers this process's file-size limit for its life; writes past it fail
// with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_bSet = ::getrlimit(RLIMIT_FSIZE, &m_Saved) == 0;
        m_OldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = m_Saved;
        lower.rlim_cur = bytes;
        m_bSet = m_bSet && ::setrlimit(RLIMIT_FSIZE, &lower) == 0;
    }
    ~FileSizeLimit() {
        if (m_bSet) ::setrlimit(RLIMIT_FSIZE, &m_Saved);
        ::signal(SIGXFSZ, m_OldHandler);
    }
    bool Set() const { return m_bSet; }

private:
    rlimit m_Saved{};
    bool m_bSet = false;
    void (*m_OldHandler)(int) = nullptr;
};

}  // namespace

TEST(WireTrace, AFullDiskIsReportedOnceAndTheHooksGoOn) {
    ScratchDir dir("trace");
    std::vector<std::string> reports;
    const uint8_t frame[] = {0xAB, 0x01, 0x31, 0x23};
    {
        FileSizeLimit limit(256);
        ASSERT_TRUE(limit.Set());
        WireTraceScope trace(
            dir.File("wire.txt"), 64,
            [&](const std::string& file, const std::string& what, plat::FileRefusal why,
                uint32_t code) {
                reports.push_back(file + " " + what + ": " + FileFailureReason(why, code));
            });
        for (int i = 0; i < 100; ++i) TraceBytes(TraceDirection::ToUps, frame, sizeof frame);
    }
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("wire.txt write: "), std::string::npos) << reports[0];
}
