// A trace whose disk fills up while the relay runs: a file-size limit on this
// process stands for the full disk (a device such as /dev/full is no longer
// taken as a trace file at all), and every write past it fails.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

// What stands at the trace path decides whether the trace is written: only a
// regular file of the agent's own, never through a link of either kind, and
// a FIFO is refused at once rather than waited on.
TEST(WireTrace, OnlyARegularFileOfOurOwnIsAppendedTo) {
    const passwd* nobody = ::getpwnam("nobody");
    struct Case {
        const char* what;
        bool taken;
    } const cases[] = {
        {"missing", true},    {"own file", true}, {"symbolic link", false},
        {"hard link", false}, {"FIFO", false},    {"another account's", false},
    };
    const uint8_t frame[] = {0xAB, 0x01, 0x31, 0x23};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string what = c.what;
        if (what == "another account's" && (::geteuid() != 0 || nobody == nullptr)) continue;
        ScratchDir dir("tracepath");
        const std::string path = dir.File("wire.txt"), other = dir.File("other");
        ASSERT_TRUE(WriteBytes(other, "kept\n"));
        auto plant = [&]() -> bool {
            if (what == "missing") return true;
            if (what == "symbolic link") return ::symlink(other.c_str(), path.c_str()) == 0;
            if (what == "hard link") return ::link(other.c_str(), path.c_str()) == 0;
            if (what == "FIFO") return ::mkfifo(path.c_str(), 0600) == 0;
            if (!WriteBytes(path, "")) return false;
            return what == "own file" || ::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) == 0;
        };
        ASSERT_TRUE(plant());
        int reports = 0;
        {
            WireTraceScope trace(
                path, 64, [&](const std::string&, const std::string&, plat::FileRefusal, uint32_t) {
                    ++reports;
                });
            EXPECT_EQ(TraceOn(), c.taken);
            TraceBytes(TraceDirection::ToUps, frame, sizeof frame);
        }
        EXPECT_EQ(reports, c.taken ? 0 : 1);
        EXPECT_EQ(ReadBytes(other), "kept\n");
        if (c.taken) {
            EXPECT_NE(ReadBytes(path).find("S> 4 AB013123"), std::string::npos);
        }
    }
}
