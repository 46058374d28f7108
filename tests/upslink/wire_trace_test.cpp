// The wire trace's file: its lines, its one rotation at the limit, and a file
// that cannot be written, which must cost the trace, never the relay.
#include "upslink/wire_trace.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "agent/file_refusal.h"
#include "scratch_dir.h"

namespace {

// The lines of a trace file without their time column.
std::vector<std::string> Lines(const std::string& path) {
    std::istringstream in(ReadBytes(path));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        size_t at = line.find_first_not_of(' ');
        at = line.find(' ', at);
        lines.push_back(at == std::string::npos ? line : line.substr(at + 1));
    }
    return lines;
}

const uint8_t kFrame[] = {0xAB, 0x01, 0x31, 0x23};

}  // namespace

TEST(WireTrace, OneLinePerTransferWithDirectionLengthHexAndPeer) {
    ScratchDir dir("trace");
    const std::string path = dir.File("wire.txt");
    TraceBytes(TraceDirection::ToUps, kFrame, sizeof kFrame);  // off: no file, no effect
    EXPECT_FALSE(FileExists(path));
    {
        WireTraceScope trace(path, 64, nullptr);
        ASSERT_TRUE(TraceOn());
        TraceBytes(TraceDirection::DatagramIn, kFrame, sizeof kFrame, 0x7F000001u, 40123);
        TraceBytes(TraceDirection::ToUps, kFrame, sizeof kFrame);
        TraceBytes(TraceDirection::FromUps, kFrame + 1, 0);  // nothing read: no line
        TraceBytes(TraceDirection::FromUps, kFrame + 1, 3);
        TraceNote([] { return std::string("line baud=19200 parity=N data=8 stop=1"); });
        TraceBytes(TraceDirection::DatagramOut, kFrame, 2, 0x0A000002u, 7);
    }
    EXPECT_FALSE(TraceOn());
    std::vector<std::string> lines = Lines(path);
    ASSERT_EQ(lines.size(), 7u) << ReadBytes(path);
    EXPECT_EQ(lines[0].compare(0, 17, "-- trace started "), 0) << lines[0];
    EXPECT_EQ(lines[1], "N< 4 AB013123 127.0.0.1:40123");
    EXPECT_EQ(lines[2], "S> 4 AB013123");
    EXPECT_EQ(lines[3], "S< 3 013123");
    EXPECT_EQ(lines[4], "-- line baud=19200 parity=N data=8 stop=1");
    EXPECT_EQ(lines[5], "N> 2 AB01 10.0.0.2:7");
    EXPECT_EQ(lines[6], "-- trace stopped");
}

// Left on for days the trace keeps two files at most: the current one below
// its limit, and the one before it as .1, which the next rotation replaces.
TEST(WireTrace, RotatesOnceAtItsLimitKeepingTheNewestBytes) {
    ScratchDir dir("trace");
    const std::string path = dir.File("wire.txt");
    std::vector<uint8_t> block(100, 0x5A);
    {
        WireTraceScope trace(path, 1, nullptr);
        for (uint8_t i = 0; i < 40; ++i) {
            block[0] = i;
            TraceBytes(TraceDirection::FromUps, block.data(), static_cast<uint32_t>(block.size()));
        }
    }
    std::vector<std::string> names = dir.List();
    EXPECT_EQ(names, (std::vector<std::string>{"wire.txt", "wire.txt.1"}));
    const size_t current = ReadBytes(path).size(), before = ReadBytes(path + ".1").size();
    EXPECT_LE(current, 1024u);
    EXPECT_LE(before, 1024u);
    EXPECT_GT(before, 1024u - 220u);  // filled up to a line short of the limit
    // The newest line is in the current file, the ones just before it in .1.
    std::vector<std::string> lines = Lines(path);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].compare(0, 9, "S< 100 27"), 0) << lines[lines.size() - 2];
    std::vector<std::string> older = Lines(path + ".1");
    ASSERT_FALSE(older.empty());
    EXPECT_EQ(older.back().compare(0, 7, "S< 100 "), 0);
}

// A trace in a folder that does not exist is reported once, in words, and
// the hooks stay free: the relay goes on as if no trace had been asked for.
TEST(WireTrace, AFileThatCannotBeOpenedIsReportedOnceAndTracingStaysOff) {
    ScratchDir dir("trace");
    const std::string path = dir.File("missing/wire.txt");
    std::vector<std::string> reports;
    {
        WireTraceScope trace(
            path, 64,
            [&](const std::string& file, const std::string& what, plat::FileRefusal why,
                uint32_t code) {
                reports.push_back(file + " " + what + ": " + FileFailureReason(why, code));
            });
        EXPECT_FALSE(TraceOn());
        TraceBytes(TraceDirection::ToUps, kFrame, sizeof kFrame);
    }
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(path), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find(" open: "), std::string::npos) << reports[0];
    EXPECT_FALSE(FileExists(path));
}
