// The agent among files and texts other parties control: links and FIFOs
// planted by another account where it writes for others to read, a password
// on its way into the trace, escape sequences in the UPS's model text, and
// inputs that never end. Each is the real qln (and upssim) on Linux.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "other_account_posix.h"
#include "relay_agent.h"
#include "scratch_dir.h"
#include "status_session_posix.h"
#include "trace_file.h"
#include "ups_line_posix.h"
#include "wait_for.h"

namespace {

constexpr uint32_t kStartMs = 60000;   // enumeration and identification
constexpr uint32_t kAnswerMs = 20000;  // one forwarded request, generously
constexpr uint32_t kRefuseMs = 20000;  // a refused start ends well within this

const char kSecret[] = "root:$6$secret:19000::::::\n";

bool IsFifo(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// The folder where the agent is told to write: made by nobody and open to
// all, or made by root and sticky like /tmp.
std::string MakeDropFolder(const std::string& path, bool sticky) {
    if (!sticky) return MakeNobodysFolder(path);
    if (::mkdir(path.c_str(), 0777) != 0 || ::chmod(path.c_str(), 01777) != 0) return "";
    return path;
}

}  // namespace

// Before: the status and Prometheus files were replaced through a link
// (the file behind it took the status text), the trace appended through one
// and rotated onto the file behind a planted ".1", and a FIFO at the trace
// path held the agent before it bound its port.
TEST(HostileFiles, NothingIsWrittenThroughWhatAnotherAccountPlanted) {
    const std::string missing = OtherAccountMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    enum class Plant { kLinkAtFile, kLinkAtRotation, kFifoAtFile };
    struct Case {
        const char* what;
        const char* section;
        const char* key;
        const char* file;
        bool sticky;
        Plant plant;
    } const cases[] = {
        {"status file behind a link", "Status", "StatusFile", "qln.status", false,
         Plant::kLinkAtFile},
        {"Prometheus file behind a link", "Status", "PrometheusFile", "qln.prom", false,
         Plant::kLinkAtFile},
        {"trace behind a link", "Trace", "TraceFile", "wire.txt", false, Plant::kLinkAtFile},
        {"trace rotated onto a link", "Trace", "TraceFile", "wire.txt", true,
         Plant::kLinkAtRotation},
        {"FIFO at the trace", "Trace", "TraceFile", "wire.txt", true, Plant::kFifoAtFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir("hostile");
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0711), 0);  // nobody passes through
        const std::string standIn = dir.File("shadow");
        ASSERT_TRUE(WriteBytes(standIn, kSecret));
        ASSERT_EQ(::chmod(standIn.c_str(), 0600), 0);
        const std::string folder = MakeDropFolder(dir.File("drop"), c.sticky);
        ASSERT_FALSE(folder.empty());
        const std::string target = folder + "/" + c.file;
        const std::string planted = c.plant == Plant::kLinkAtRotation ? target + ".1" : target;
        ASSERT_EQ(InChild([&] {
                      if (c.plant == Plant::kFifoAtFile) return ::mkfifo(planted.c_str(), 0666);
                      return ::symlink(standIn.c_str(), planted.c_str());
                  }),
                  0);

        IniSections extra{{c.section, {{c.key, target}}},
                          {"Communications", {{"Timing", "prompt"}}}};
        if (c.plant == Plant::kLinkAtRotation) extra["Trace"]["TraceLimit"] = "1";
        SimulatedUps ups;
        ASSERT_TRUE(ups.Start());
        RelayAgent agent(ups.SlavePath(), extra);
        ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
        // The search for the UPS alone passes a 1 KiB trace limit; these
        // requests come after any rotation.
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(agent.Exchange(XcpFrame(0x31), kAnswerMs).empty());
        agent.Process().Stop();

        EXPECT_EQ(ReadBytes(standIn), kSecret);
        if (c.plant == Plant::kFifoAtFile) {
            EXPECT_TRUE(IsFifo(planted));
        }
        // Each refusal is told, with the file's name.
        EXPECT_NE(agent.Process().Err().find(target), std::string::npos) << agent.Process().Err();
    }
}

// Before: the password frame went into the trace byte for byte.
TEST(HostileFiles, APasswordNeverReachesTheTraceWhichStillReplays) {
    ScratchDir dir("pwtrace");
    const std::string path = dir.File("wire.txt");
    const ByteString request = Cat({PasswordFrame("Wopra3"), XcpFrame(0x31)});
    ByteString reply;
    {
        SimulatedUps ups;
        ASSERT_TRUE(ups.Start());
        RelayAgent agent(ups.SlavePath(), {{"Trace", {{"TraceFile", path}}}});
        ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
        reply = agent.Exchange(request, kAnswerMs);
        ASSERT_TRUE(IsIdentification(reply));
        agent.Process().Stop();
    }
    const std::string text = ReadBytes(path);
    EXPECT_EQ(text.find("576F70726133"), std::string::npos) << "the password in clear";
    // The frame is still there, its data masked: start, length, command.
    EXPECT_NE(text.find(" N< 14 AB07CF**************AB"), std::string::npos) << text;

    SimulatedUps replayed;
    ASSERT_TRUE(replayed.Start({("replay " + path).c_str()}));
    RelayAgent agent(replayed.SlavePath());
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
    EXPECT_EQ(agent.Exchange(XcpFrame(0x31), kAnswerMs), reply);
}

// Before: the model's escape sequences went to standard error as they came
// (clearing the operator's terminal), and "?" stood for them in the record.
TEST(HostileFiles, TheUpsModelReachesTheTerminalPrintableAndTheRecordExact) {
    ScratchDir dir("devtext");
    const std::string status = dir.File("qln.status");
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start({"model Quillon \x1B[2J\x1B]0;owned\x07\x7F"}));
    RelayAgent agent(ups.SlavePath(), {{"Status", {{"StatusFile", status}}}});
    ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
    ASSERT_TRUE(agent.Process().WaitForText(true, "UPS found", 1, kAnswerMs));
    const std::string escaped = "\\x1B[2J\\x1B]0;owned\\x07\\x7F";
    const std::string err = agent.Process().Err();
    EXPECT_NE(err.find(escaped), std::string::npos) << err;
    EXPECT_EQ(err.find_first_of("\x1B\x07\x7F"), std::string::npos) << err;
    const std::string record = ReadBytes(status);
    EXPECT_NE(record.find(escaped), std::string::npos) << record;
}

// Before: `qln -c /dev/zero` read for ever, and a FIFO held the start; a
// huge file was read line by line at every setting.
TEST(EndlessInputs, AnIniFileThatIsNoFileOrTooLargeIsRefusedAtOnce) {
    ScratchDir dir("endless");
    const std::string fifo = dir.File("qln.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = dir.File("huge.ini");
    // A usable configuration (no real port, loopback only), made too large by
    // a comment.
    ASSERT_TRUE(WriteBytes(huge, "[Communications]\nCommunicationsPort=" + dir.File("no-tty") +
                                     "\n[NetXCP]\nBindAddress=127.0.0.1\n;" +
                                     std::string(2 << 20, 'x') + "\n"));
    for (const std::string& ini :
         {std::string("/dev/zero"), std::string("/dev/urandom"), fifo, huge}) {
        SCOPED_TRACE(ini);
        ChildProcess qln;
        ASSERT_TRUE(qln.Start(BinPath("qln"), {"daemon", "-c", ini}));
        const bool ended = qln.WaitForExit(kRefuseMs);
        EXPECT_TRUE(ended) << "still running on " << ini;
        if (!ended) {
            qln.Stop(1000);
            continue;
        }
        EXPECT_NE(qln.ExitCode(), 0);
        EXPECT_NE(qln.Err().find(ini + " is refused"), std::string::npos) << qln.Err();
    }
    EXPECT_TRUE(IsFifo(fifo));
}

// Before: the replay read /dev/zero into memory without end.
TEST(EndlessInputs, UpssimRefusesToReplayWhatIsNoTrace) {
    for (const char* trace : {"/dev/zero", "/dev/urandom"}) {
        SCOPED_TRACE(trace);
        ChildProcess upssim;
        ASSERT_TRUE(upssim.Start(BinPath("upssim"), {"--replay", trace}));
        const bool ended = upssim.WaitForExit(kRefuseMs);
        if (!ended) upssim.Stop(1000);
        ASSERT_TRUE(ended);
        EXPECT_NE(upssim.ExitCode(), 0);
        EXPECT_NE(upssim.Err().find("not a regular file"), std::string::npos) << upssim.Err();
    }
}

// Before: SIGHUP ended the service at once, its status left "attached";
// and a start refused for an unsafe event folder exited 0.
TEST(ServiceEnd, AHangUpIsAStopAndARefusedStartExitsNonZero) {
    ScratchDir dir("hangup");
    NotifyListener notify(dir);
    const std::string events = dir.File("events");
    ASSERT_EQ(::mkdir(events.c_str(), 0700), 0);
    const std::string status = dir.File("qln.status");
    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    {
        RelayAgent agent(ups.SlavePath(), {{"Status", {{"StatusFile", status}}}}, {},
                         {"NOTIFY_SOCKET=" + notify.Path(), "QLN_EVENT_DIR=" + events}, false);
        ASSERT_TRUE(agent.WaitUntilRelaying(kStartMs)) << agent.Process().Err();
        ASSERT_TRUE(
            WaitFor([&] { return ReadBytes(status).find("state=attached\n") == 0; }, kAnswerMs));
        ASSERT_TRUE(agent.Process().Signal(SIGHUP));
        ASSERT_TRUE(agent.Process().WaitForExit(kRefuseMs));
        EXPECT_EQ(agent.Process().ExitCode(), 0);
        EXPECT_EQ(ReadBytes(status).find("state=stopped\n"), 0u) << ReadBytes(status);
    }
    // An event folder others may enter is refused: the start fails, and says so
    // by its exit status too.
    ASSERT_EQ(::chmod(events.c_str(), 0755), 0);
    RelayAgent refused(ups.SlavePath(), {}, {},
                       {"NOTIFY_SOCKET=" + notify.Path(), "QLN_EVENT_DIR=" + events}, false);
    ASSERT_TRUE(refused.Process().WaitForExit(kRefuseMs));
    EXPECT_NE(refused.Process().ExitCode(), 0);
}
