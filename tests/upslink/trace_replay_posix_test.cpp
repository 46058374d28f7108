// upssim's replay of a wire trace: which recorded answer a host's bytes get.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trace_replay.h"

namespace {

const char kTrace[] =
    "         0 -- trace started 2026-01-01 00:00:00 UTC, limit 64 KiB\n"
    "         1 -- open /dev/ttyS0 for Plug and Play\n"
    "         1 -- line baud=1200 parity=N data=7 stop=1\n"
    "         2 -- DTR on\n"
    "       400 S< 3 283129\n"
    "       401 -- line baud=1200 parity=N data=8 stop=1\n"
    "       500 S> 1 1B\n"
    "       600 S> 4 AB013123\n"
    "       610 S< 2 AB01\n"
    "       611 S< 2 0203\n"
    "       700 S> 4 AB013321\n"
    "       710 S< 3 AB0301\n"
    "       720 N< 4 AB013123 127.0.0.1:4000\n"
    "       800 S> 4 AB013123\n"
    "       810 S< 2 AB02\n"
    "       900 -- line baud=19200 parity=N data=8 stop=1\n"
    "       950 S> 4 AB013123\n"
    "       960 S< 1 FF\n";

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes) { return bytes; }

std::vector<uint8_t> Hear(TraceReplay& replay, const std::vector<uint8_t>& bytes, uint32_t baud) {
    std::vector<uint8_t> out;
    replay.Hear(bytes.data(), bytes.size(), baud, out);
    return out;
}

}  // namespace

TEST(TraceReplay, AnswersInOrderThenByLookupAtTheRecordedSpeed) {
    TraceReplay replay;
    std::string error;
    ASSERT_TRUE(replay.Parse(kTrace, error)) << error;
    EXPECT_EQ(replay.PnpAnswer(), "(1)");

    // A request written in two parts waits for its rest.
    EXPECT_TRUE(Hear(replay, Bytes({0x1B}), 1200).empty());
    EXPECT_TRUE(replay.HasPartial());
    EXPECT_EQ(Hear(replay, Bytes({0xAB, 0x01, 0x31, 0x23}), 1200), Bytes({0xAB, 0x01, 0x02, 0x03}));
    // In order: the same request later gets the answer recorded later.
    EXPECT_EQ(Hear(replay, Bytes({0xAB, 0x01, 0x33, 0x21}), 1200), Bytes({0xAB, 0x03, 0x01}));
    EXPECT_EQ(Hear(replay, Bytes({0xAB, 0x01, 0x31, 0x23}), 1200), Bytes({0xAB, 0x02}));
    // Out of order: looked up, the nearest one after the current place first.
    EXPECT_EQ(Hear(replay, Bytes({0xAB, 0x01, 0x33, 0x21}), 1200), Bytes({0xAB, 0x03, 0x01}));
    // At another speed the UPS answered otherwise.
    EXPECT_EQ(Hear(replay, Bytes({0xAB, 0x01, 0x31, 0x23}), 19200), Bytes({0xFF}));
    // Bytes never recorded get nothing, and what follows them still does.
    EXPECT_EQ(Hear(replay, Bytes({0x00, 0x42, 0xAB, 0x01, 0x33, 0x21}), 1200),
              Bytes({0xAB, 0x03, 0x01}));
    EXPECT_EQ(replay.Unmatched(), 2u);
    EXPECT_EQ(replay.Answered(), 6u);
}

TEST(TraceReplay, TextThatIsNoTraceIsRefusedWithItsLine) {
    TraceReplay replay;
    std::string error;
    EXPECT_FALSE(replay.Parse("       1 S> 3 AB01\n", error));
    EXPECT_EQ(error, "line 1: the bytes do not match their length");
    EXPECT_FALSE(replay.Parse("       1 -- open x\n       2 S> 1 AB\nhello world\n", error));
    EXPECT_EQ(error, "line 3: not a trace line (no time)");
    EXPECT_FALSE(replay.Parse("       1 S> 1 AB\n       2 N< 1 AB 127.0.0.1:1\n", error));
    EXPECT_EQ(error, "no bytes from the UPS in this trace");
    EXPECT_FALSE(replay.Load("/nonexistent/trace.txt", error));
}
