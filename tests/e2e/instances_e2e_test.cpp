// Several agents on one host, one per UPS, as the template unit runs them:
// service-mode agents named with -n, each on its own INI file, serial line
// and UDP port, sharing the account's runtime folder. Each is found, ready
// and relays on its own; losing one's UPS or stopping one leaves the other as
// it was; "qln status" without -c lists them all, in both forms.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "relay_agent.h"
#include "scratch_dir.h"
#include "status_session_posix.h"
#include "ups_line_posix.h"
#include "wait_for.h"

namespace {

constexpr uint32_t kStartMs = 60000;    // enumeration and identification
constexpr uint32_t kAnswerMs = 20000;   // one forwarded request, generously
constexpr uint32_t kRecoverMs = 90000;  // six failed polls

// One agent as the host's listing should show it.
struct Listed {
    std::string instance;
    std::string state;
    uint16_t port;
};

// The objects of "qln status --json"'s array, one a line.
std::vector<std::string> JsonObjects(const std::string& out) {
    std::vector<std::string> objects;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find('{') != std::string::npos) objects.push_back(line);
    }
    return objects;
}

class Instances : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir(m_Events.c_str(), 0700), 0);
        ASSERT_TRUE(m_UpsA->Start());
        ASSERT_TRUE(m_UpsB.Start());
    }

    ProgramResult HostStatus(bool json) const {
        std::vector<std::string> args{"status"};
        if (json) args.push_back("--json");
        return Status(args);
    }
    // "qln status ARGS" as its operator runs it, the exit status as the shell
    // sees it (150, not the signed byte the test helpers read).
    ProgramResult Status(const std::vector<std::string>& args) const {
        ProgramResult r = RunProgram("qln", args, {"QLN_EVENT_DIR=" + m_Events});
        r.exitCode &= 0xFF;
        return r;
    }

    // The listing, in both forms, names exactly `agents` and exits `exit`.
    void ExpectHost(const std::vector<Listed>& agents, int exit) const {
        ProgramResult json = HostStatus(true);
        EXPECT_EQ(json.exitCode, exit) << json.out << json.err;
        std::vector<std::string> objects = JsonObjects(json.out);
        ASSERT_EQ(objects.size(), agents.size()) << json.out;
        ProgramResult text = HostStatus(false);
        EXPECT_EQ(text.exitCode, exit) << text.out << text.err;
        EXPECT_EQ(text.err, "");
        if (agents.empty()) {
            EXPECT_EQ(json.out, "[]\n");
            EXPECT_EQ(text.out, "No agent is running on this host.\n");
        }
        for (const Listed& a : agents) {
            bool found = false;
            for (const std::string& o : objects) {
                if (JsonField(o, "instance") != a.instance) continue;
                found = true;
                EXPECT_EQ(JsonField(o, "state"), a.state) << o;
                EXPECT_EQ(JsonField(o, "agent_port"), std::to_string(a.port)) << o;
                EXPECT_EQ(JsonField(o, "running"), "true") << o;
                EXPECT_NE(JsonField(o, "ini_file").find("/" + a.instance + ".ini"),
                          std::string::npos)
                    << o;
            }
            EXPECT_TRUE(found) << a.instance << " missing from " << json.out;
            const std::string word =
                a.state == "attached" ? "attached to the UPS" : "searching for the UPS";
            EXPECT_NE(text.out.find(a.instance + ": " + word + "; UPS "), std::string::npos)
                << text.out;
            EXPECT_NE(text.out.find("; UDP port " + std::to_string(a.port) + "; "),
                      std::string::npos)
                << text.out;
        }
    }

    ScratchDir m_Dir{"instances"};
    const std::string m_Events = m_Dir.File("events");
    std::unique_ptr<SimulatedUps> m_UpsA{new SimulatedUps};
    SimulatedUps m_UpsB;
};

TEST_F(Instances, RunSideBySideAndAreListedTogether) {
    ExpectHost({}, kStatusNotRunning);

    ScratchDir notifyA{"instance-a"}, notifyB{"instance-b"};
    NotifyListener readyA(notifyA), readyB(notifyB);
    const std::string events = "QLN_EVENT_DIR=" + m_Events;
    std::unique_ptr<RelayAgent> a(new RelayAgent(
        m_UpsA->SlavePath(), {}, {}, {"NOTIFY_SOCKET=" + readyA.Path(), events}, false, "a"));
    RelayAgent b(m_UpsB.SlavePath(), {}, {}, {"NOTIFY_SOCKET=" + readyB.Path(), events}, false,
                 "b");
    EXPECT_TRUE(readyA.WaitFor("READY=1", kStartMs)) << a->Process().Err();
    EXPECT_TRUE(readyB.WaitFor("READY=1", kStartMs)) << b.Process().Err();
    ASSERT_TRUE(a->WaitUntilRelaying(kStartMs)) << a->Process().Err();
    ASSERT_TRUE(b.WaitUntilRelaying(kStartMs)) << b.Process().Err();
    // Each relays to its own UPS only.
    const uint32_t heardA = m_UpsA->Count(0x31), heardB = m_UpsB.Count(0x31);
    EXPECT_TRUE(IsIdentification(a->Exchange(XcpFrame(0x31), kAnswerMs)));
    EXPECT_EQ(m_UpsA->Count(0x31), heardA + 1);
    EXPECT_EQ(m_UpsB.Count(0x31), heardB);
    EXPECT_TRUE(IsIdentification(b.Exchange(XcpFrame(0x31), kAnswerMs)));
    EXPECT_EQ(m_UpsB.Count(0x31), heardB + 1);

    ProgramResult json;
    ASSERT_TRUE(WaitFor(
        [&] {
            json = HostStatus(true);
            return JsonObjects(json.out).size() == 2 && json.exitCode == kStatusRelaying;
        },
        kAnswerMs))
        << json.out << json.err;
    ExpectHost({{"a", "attached", a->Port()}, {"b", "attached", b.Port()}}, kStatusRelaying);
    // "-n NAME" alone finds the instance by its record, wherever its INI file is.
    ProgramResult one = Status({"status", "-n", "b", "--json"});
    EXPECT_EQ(one.exitCode, kStatusRelaying) << one.out << one.err;
    EXPECT_EQ(JsonField(one.out, "agent_port"), std::to_string(b.Port())) << one.out;
    EXPECT_EQ(JsonField(one.out, "instance"), "b") << one.out;

    // A's UPS gone: a searches, b goes on relaying and its record stays as it was.
    auto recordB = [&] {
        for (const std::string& o : JsonObjects(HostStatus(true).out)) {
            if (JsonField(o, "instance") == "b") return o;
        }
        return std::string();
    };
    const std::string before = recordB();
    m_UpsA.reset();
    ASSERT_TRUE(WaitFor(
        [&] {
            json = HostStatus(true);
            return json.exitCode == kStatusSearching;
        },
        kRecoverMs))
        << json.exitCode << " " << json.err << json.out;
    ExpectHost({{"a", "searching", a->Port()}, {"b", "attached", b.Port()}}, kStatusSearching);
    const std::string after = recordB();
    for (const char* field :
         {"state", "attached_since", "last_loss", "losses", "detections", "ups_timeouts", "pid"}) {
        EXPECT_EQ(JsonField(after, field), JsonField(before, field)) << field << ": " << after;
    }
    EXPECT_TRUE(IsIdentification(b.Exchange(XcpFrame(0x31), kAnswerMs)));

    // A stopped: b runs and relays on, alone in the listing.
    a->Process().Stop();
    EXPECT_EQ(a->Process().ExitCode(), 0);
    EXPECT_TRUE(IsIdentification(b.Exchange(XcpFrame(0x31), kAnswerMs)));
    ExpectHost({{"b", "attached", b.Port()}}, kStatusRelaying);
    a.reset();

    b.Process().Stop();
    ExpectHost({}, kStatusNotRunning);
}

}  // namespace
