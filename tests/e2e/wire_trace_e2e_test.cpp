// The wire trace from end to end on Linux: qln relaying for upssim records
// every byte of an exchange in order and rotates at its limit, and upssim
// replaying that trace is a UPS qln identifies and relays for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relay_agent.h"
#include "scratch_dir.h"
#include "trace_file.h"
#include "ups_line_posix.h"
#include "wait_for.h"

namespace {

constexpr uint32_t kStartMs = 60000;   // start-up: enumeration, identification
constexpr uint32_t kAnswerMs = 20000;  // one forwarded request, generously

// The last line at or after `from` with this direction and these bytes; npos when none.
size_t Find(const std::vector<TraceLine>& lines, const std::string& direction,
            const ByteString& bytes, size_t from = 0) {
    size_t found = std::string::npos;
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].direction == direction && lines[i].bytes == bytes) found = i;
    }
    return found;
}

ByteString Padded(ByteString bytes) {
    if (bytes.size() % 2 != 0) bytes.push_back(0);
    return bytes;
}

}  // namespace

TEST(TracedRelay, HoldsEveryByteOfARelayedExchangeInOrderAndUpssimReplaysIt) {
    ScratchDir dir("wiretrace");
    const std::string path = dir.File("wire.txt");
    const ByteString request = Cat({XcpFrame(0x31), XcpFrame(0x33)});
    ByteString reply;
    {
        // A model of its own, so that only the replay can answer with its name.
        SimulatedUps ups;
        ASSERT_TRUE(ups.Start({"model Recorded 3000", "versions 4.2,7.1"}));
        RelayAgent agent(ups.SlavePath(), {{"Trace", {{"TraceFile", path}}}});
        ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
        reply = agent.Exchange(request, kAnswerMs);
        ASSERT_TRUE(IsIdentification(reply));
        ASSERT_NE(std::string(reply.begin(), reply.end()).find("Recorded 3000"), std::string::npos);
        // The reply is on its way before it is traced; wait for its line.
        ASSERT_TRUE(WaitFor([&] { return Find(ReadTrace(path), "N>", reply) != std::string::npos; },
                            kAnswerMs));
        agent.Process().Stop();
    }
    std::vector<TraceLine> lines = ReadTrace(path);
    for (size_t i = 1; i < lines.size(); ++i) {
        ASSERT_NE(lines[i].direction, "?") << "line " << i + 1;
        EXPECT_LE(lines[i - 1].ms, lines[i].ms) << "line " << i + 1;
    }
    // The datagram with its sender, each frame to the UPS and the UPS's
    // answer to it, one after the other, then the reply.
    size_t in = Find(lines, "N<", request);
    ASSERT_NE(in, std::string::npos);
    EXPECT_EQ(lines[in].rest.compare(0, 10, "127.0.0.1:"), 0) << lines[in].rest;
    size_t out = Find(lines, "N>", reply, in);
    ASSERT_NE(out, std::string::npos);
    EXPECT_EQ(lines[out].rest, lines[in].rest);
    size_t second = Find(lines, "S>", XcpFrame(0x33), in);
    ASSERT_TRUE(second > in && second < out);
    EXPECT_EQ(Joined(lines, in + 1, "S>", {"S<"}), XcpFrame(0x31));
    EXPECT_EQ(Joined(lines, in + 1, "S>", {"N>"}), request);
    // The answers, as the UPS sent them, make up the reply (this UPS's
    // answers need no re-framing).
    EXPECT_EQ(Padded(Joined(lines, in + 1, "S<", {"N>"})), reply);
    EXPECT_NE(Joined(lines, second, "S<", {"N>"}), ByteString());
    // The detection before it: Plug and Play at 1200 baud, 7 data bits.
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2].rest, "line baud=1200 parity=N data=7 stop=1");

    // The recorded UPS, brought back by upssim: identified, and the recorded
    // request gets the recorded answer.
    SimulatedUps replayed;
    ASSERT_TRUE(replayed.Start({("replay " + path).c_str()}));
    RelayAgent agent(replayed.SlavePath());
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
    EXPECT_EQ(agent.Exchange(request, kAnswerMs), reply);
}

// Left on, the trace keeps its file below the limit and the one before it
// as .1; the newest exchange is in the current file.
TEST(TracedRelay, RotatesAtItsLimitWhileTheRelayRuns) {
    ScratchDir dir("wiretrace");
    const std::string path = dir.File("wire.txt");
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    RelayAgent agent(ups.SlavePath(), {{"Trace", {{"TraceFile", path}, {"TraceLimit", "1"}}}});
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
    ByteString reply;
    for (int i = 0; i < 3; ++i) reply = agent.Exchange(XcpFrame(0x31), kAnswerMs);
    ASSERT_TRUE(IsIdentification(reply));
    ASSERT_TRUE(WaitFor([&] { return Find(ReadTrace(path), "N>", reply) != std::string::npos; },
                        kAnswerMs));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"wire.txt", "wire.txt.1"}))
        << "the trace did not rotate";
    EXPECT_LE(ReadBytes(path).size(), 1024u);
    EXPECT_LE(ReadBytes(path + ".1").size(), 1024u);
    // Nothing between the files is lost: the older one ends where the newer begins.
    std::vector<TraceLine> older = ReadTrace(path + ".1"), newer = ReadTrace(path);
    ASSERT_FALSE(older.empty());
    ASSERT_FALSE(newer.empty());
    EXPECT_LE(older.back().ms, newer.front().ms);
}
