// "qln status" against records it did not write, and the agent's own record
// where another account got there first. The records are planted where the
// agent of the INI file keeps its record ($QLN_EVENT_DIR, its event folder).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "loopback_udp.h"
#include "other_account_posix.h"
#include "scratch_dir.h"
#include "wait_for.h"

namespace {

// An INI file and an event folder of the test's own, and "qln status" on them.
class StatusRecord : public ::testing::Test {
protected:
    void SetUp() override {
        m_Port = std::to_string(FreeUdpPort());
        m_Ini =
            m_Dir.Write("qln.ini", "[Communications]\nCommunicationsPort=" + m_Dir.File("no-port") +
                                       "\n[NetXcp]\nAgentPort=" + m_Port + "\n");
        UseEventFolder(m_Dir.File("events"));
        ASSERT_EQ(::mkdir(m_Events.c_str(), 0700), 0);
    }
    void UseEventFolder(const std::string& folder) {
        m_Events = folder;
        m_Record = folder + "/qln-" + m_Port + ".status";
    }
    ProgramResult Status(bool json = true) {
        std::vector<std::string> args{"status", "-c", m_Ini};
        if (json) args.insert(args.begin() + 1, "--json");
        return RunProgram("qln", args, {"QLN_EVENT_DIR=" + m_Events});
    }

    ScratchDir m_Dir{"status-record"};
    std::string m_Port, m_Ini, m_Events, m_Record;
};

// Before: control characters and quotes went into --json as they were, and
// "007" was printed as a number with its leading zeros: invalid JSON.
TEST_F(StatusRecord, JsonIsValidWhateverTheRecordHolds) {
    ASSERT_TRUE(WriteBytes(m_Record,
                           "state=stopped\npid=0\n"
                           "ups_model=A\"B\x1b[2J\tC\x7f\\\n"
                           "ups_family=\xff\xe6\x97\xa5\n"
                           "ups_versions=0150\n"
                           "received=007\nanswered=000\n"
                           "na\"me\x01=12\nreceived=9\n"));
    ProgramResult r = Status();
    EXPECT_EQ(r.exitCode, 3) << r.err;
    const char* const expected[] = {
        "\"ups_model\": \"A\\\"B\\u001b[2J\\u0009C\\u007f\\\\\"",
        "\"ups_family\": \"\\ufffd\xe6\x97\xa5\"",  // a stray byte, then a whole character
        "\"ups_versions\": \"0150\"",               // text, though it reads as digits
        "\"received\": 7,",
        "\"answered\": 0,",
        "\"na\\\"me\\u0001\": 12",
    };
    for (const char* text : expected)
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    EXPECT_EQ(CountOf(r.out, "\"received\""), 1) << "a key twice: " << r.out;
    ProgramResult person = Status(false);
    EXPECT_EQ(person.out.find('\x1b'), std::string::npos) << "an escape reached the terminal";
}

// Before: a FIFO blocked "qln status" for good, and a huge file was read
// whole (300 MB took minutes and gigabytes). Neither is read now: exit 4.
TEST_F(StatusRecord, AFifoOrAHugeFileIsRefusedAtOnce) {
    const struct {
        const char* what;
        bool fifo;
        const char* says;
    } cases[] = {{"a FIFO", true, "is not a regular file"},
                 {"an 8 MB file", false, "is larger than"}};
    for (const auto& c : cases) {
        ::unlink(m_Record.c_str());
        if (c.fifo) {
            ASSERT_EQ(::mkfifo(m_Record.c_str(), 0600), 0);
        } else {
            int fd = ::open(m_Record.c_str(), O_WRONLY | O_CREAT, 0600);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::ftruncate(fd, 8 << 20), 0);  // sparse: no disk used
            ::close(fd);
        }
        ProgramResult r = Status();
        EXPECT_EQ(r.exitCode, 4) << c.what << ": " << r.out << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.what << ": " << r.err;
    }
}

// Before: with the folder made first by another account, `qln status` showed
// the record that account wrote there ("attached", a forged model); after a
// stop it named a file that was not there.
TEST_F(StatusRecord, ARecordOfAnotherAccountIsNotShown) {
    {
        ProgramResult none = Status();
        EXPECT_EQ(none.exitCode, 3) << none.out << none.err;
        EXPECT_EQ(none.out.find("status_file"), std::string::npos)
            << "names a file it did not read";
    }
    std::string missing = OtherAccountMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    const std::string sticky = m_Dir.File("tmp");
    ASSERT_EQ(::mkdir(sticky.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(m_Dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);  // like /tmp
    const struct {
        const char* folder;
        mode_t mode;
    } cases[] = {{"open", 0777}, {"closed", 0700}};
    for (const auto& c : cases) {
        UseEventFolder(MakeNobodysFolder(sticky + "/" + c.folder));
        ASSERT_EQ(::chmod(m_Events.c_str(), c.mode), 0);
        ASSERT_TRUE(WriteBytes(m_Record, "state=attached\npid=1\nups_model=Forged ALL FINE\n"));
        ASSERT_EQ(::chown(m_Record.c_str(), NobodyUid(), NobodyGid()), 0);
        ProgramResult r = Status();
        EXPECT_EQ(r.exitCode, 4) << c.folder << ": " << r.out;
        EXPECT_EQ(r.out.find("Forged"), std::string::npos) << c.folder;
        EXPECT_NE(r.err.find("belongs to another account"), std::string::npos) << r.err;
    }
}

// Before: the agent wrote its record into an event folder that another
// account had made, through whatever that account had put there.
TEST_F(StatusRecord, TheAgentWritesNoRecordIntoAFolderOfAnotherAccount) {
    std::string missing = OtherAccountMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    ASSERT_EQ(::chmod(m_Dir.Path().c_str(), 0755), 0);
    UseEventFolder(MakeNobodysFolder(m_Dir.File("theirs")));
    const std::string mine = m_Dir.Write("private", "mine\n");
    ASSERT_EQ(::symlink(mine.c_str(), m_Record.c_str()), 0);
    ChildProcess qln;
    ASSERT_TRUE(qln.Start(BinPath("qln"), {"daemon", "-c", m_Ini}, {"QLN_EVENT_DIR=" + m_Events}));
    EXPECT_TRUE(qln.WaitForText(true, "is not the agent's own", 1, 20000)) << qln.Err();
    qln.Stop();
    EXPECT_EQ(ReadBytes(mine), "mine\n");
    struct stat st {};
    ASSERT_EQ(::lstat(m_Record.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the planted link was replaced";
    EXPECT_EQ(CountOf(qln.Err(), "is not the agent's own"), 1) << "reported once: " << qln.Err();
}

// Before: a PrometheusFile that could not be written (here in /proc, which
// no account may write) failed at every update without a word. Now the
// first failure is reported, and the failures after it are not.
TEST_F(StatusRecord, AnUnwritableMetricsFileIsReportedOnce) {
    m_Ini = m_Dir.Write("qln.ini", "[Communications]\nCommunicationsPort=" + m_Dir.File("no-port") +
                                       "\n[NetXcp]\nAgentPort=" + m_Port +
                                       "\n[Status]\nPrometheusFile=/proc/qln-none/qln.prom\n");
    ChildProcess qln;
    ASSERT_TRUE(qln.Start(BinPath("qln"), {"daemon", "-c", m_Ini}, {"QLN_EVENT_DIR=" + m_Events}));
    const std::string report = "The Prometheus file /proc/qln-none/qln.prom cannot be written";
    EXPECT_TRUE(qln.WaitForText(true, report, 1, 20000)) << qln.Err();
    // Each datagram (dropped: no UPS) changes the counts and so is written.
    LoopbackUdp client(0x7F000001u);
    ASSERT_TRUE(client.Bound());
    const uint16_t port = static_cast<uint16_t>(std::stoi(m_Port));
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(client.Send({0xAB, 0x01, 0x31, 0x23}, 0x7F000001u, port));
        std::string counted = "\"dropped_no_ups\": " + std::to_string(i);
        EXPECT_TRUE(WaitFor([&] { return Status().out.find(counted) != std::string::npos; }, 20000))
            << counted;
    }
    qln.Stop();
    EXPECT_EQ(CountOf(qln.Err(), report), 1) << qln.Err();
}

}  // namespace

// "qln status" without -c: which planted records of the folder are listed,
// and the worst state among them as the exit status.
TEST_F(StatusRecord, TheHostListingShowsRunningAgentsOnlyAndItsWorstState) {
    const std::string self = std::to_string(::getpid());
    pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const std::string gone = std::to_string(ended);
    const struct {
        const char* name;
        std::string text;      // "" plants a FIFO
        const char* listedAs;  // nullptr: not listed
    } planted[] = {
        {"qln-7011.status", "state=attached\npid=" + self + "\ninstance=ups2\nagent_port=7011\n",
         "ups2"},
        {"qln-7012.status", "state=searching\npid=" + self + "\nini_file=/x/c.ini\n", "/x/c.ini"},
        {"qln-7013.status", "state=paused\npid=" + self + "\n", nullptr},  // named by its path
        {"qln-7014.status", "state=attached\npid=" + gone + "\ninstance=killed\n", nullptr},
        {"qln-7015.status", "state=stopped\npid=" + self + "\ninstance=ended\n", nullptr},
        {"qln-x.status", "state=attached\npid=" + self + "\ninstance=odd\n", nullptr},
        {"notes.txt", "state=attached\npid=" + self + "\ninstance=notes\n", nullptr},
    };
    for (const auto& p : planted) ASSERT_TRUE(WriteBytes(m_Events + "/" + p.name, p.text));
    auto host = [&](bool json) {
        ProgramResult r = RunProgram("qln",
                                     json ? std::vector<std::string>{"status", "--json"}
                                          : std::vector<std::string>{"status"},
                                     {"QLN_EVENT_DIR=" + m_Events});
        r.exitCode &= 0xFF;  // as the shell sees it
        return r;
    };
    ProgramResult text = host(false), json = host(true);
    EXPECT_EQ(text.exitCode, 150) << "searching is worse than paused and attached: " << text.out;
    EXPECT_EQ(json.exitCode, 150);
    EXPECT_EQ(CountOf(text.out, "\n"), 3) << text.out;
    EXPECT_EQ(CountOf(json.out, "\"running\": true"), 3) << json.out;
    for (const auto& p : planted) {
        if (p.listedAs)
            EXPECT_NE(text.out.find(std::string(p.listedAs) + ": "), std::string::npos) << text.out;
    }
    EXPECT_NE(text.out.find(m_Events +
                            "/qln-7013.status: paused; UPS - on -; UDP port -; 0 answered, 0 "
                            "refused (process " +
                            self + ")."),
              std::string::npos)
        << text.out;
    for (const char* hidden : {"killed", "ended", "odd", "notes"}) {
        EXPECT_EQ(text.out.find(hidden), std::string::npos) << hidden;
        EXPECT_EQ(json.out.find(hidden), std::string::npos) << hidden;
    }
    // A record that may not be read makes the listing incomplete: "cannot
    // tell", with the rest still listed and the reason on the error stream.
    ASSERT_EQ(::mkfifo((m_Events + "/qln-7016.status").c_str(), 0600), 0);
    text = host(false);
    EXPECT_EQ(text.exitCode, 4);
    EXPECT_EQ(CountOf(text.out, "\n"), 3) << text.out;
    EXPECT_NE(text.err.find("qln-7016.status"), std::string::npos) << text.err;
}
