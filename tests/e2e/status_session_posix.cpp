#include "status_session_posix.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "tools/netxcp/netxcp_client.h"
#include "wait_for.h"

namespace {

constexpr uint32_t kStatusRunMs = 60000;  // one "qln status", under Wine too
constexpr uint32_t kOversized = 1200;     // above the largest NetXCP datagram

}  // namespace

StatusProbe::StatusProbe(std::vector<std::string> command, std::string ini,
                         std::vector<std::string> env)
    : m_Command(std::move(command)), m_Ini(std::move(ini)), m_Env(std::move(env)) {}

ProgramResult StatusProbe::Run(bool json) const {
    std::string program = m_Command.empty() ? BinPath("qln") : m_Command[0];
    std::vector<std::string> args;
    if (!m_Command.empty()) args.assign(m_Command.begin() + 1, m_Command.end());
    args.push_back("status");
    if (json) args.push_back("--json");
    args.push_back("-c");
    args.push_back(m_Ini);
    ProgramResult result;
    ChildProcess qln;
    if (!qln.Start(program, args, m_Env)) {
        result.exitCode = -2000;
        return result;
    }
    if (!qln.WaitForExit(kStatusRunMs)) {
        qln.Stop();
        result.exitCode = -3000;
    } else {
        // The status as a shell sees it: 0 to 255.
        result.exitCode = qln.ExitCode() & 0xFF;
    }
    result.out = qln.Out();
    result.err = qln.Err();
    return result;
}

bool StatusProbe::WaitFor(const std::string& name, const std::string& value, uint32_t ms,
                          ProgramResult& last) const {
    return ::WaitFor(
        [&] {
            last = Json();
            return JsonField(last.out, name) == value;
        },
        ms);
}

std::string JsonField(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\": ";
    size_t at = json.find(key);
    if (at == std::string::npos) return "";
    at += key.size();
    if (at < json.size() && json[at] == '"') {
        size_t end = json.find('"', at + 1);
        return end == std::string::npos ? "" : json.substr(at + 1, end - at - 1);
    }
    size_t end = json.find_first_of(",}", at);
    return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

uint64_t JsonCount(const std::string& json, const std::string& name) {
    return std::strtoull(JsonField(json, name).c_str(), nullptr, 10);
}

std::string RunScriptedSession(RelayAgent& agent, LinkedUps& ups, const StatusProbe& status,
                               uint32_t recoverMs, uint32_t answerMs) {
    ProgramResult json;
    EXPECT_TRUE(status.WaitFor("state", "attached", recoverMs, json)) << json.out << json.err;
    EXPECT_EQ(json.exitCode, kStatusRelaying);

    // A first request answered: nothing went to the UPS before it, so once
    // the report shows it forwarded, it holds every datagram before it too.
    EXPECT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), answerMs)));
    EXPECT_TRUE(status.WaitFor("forwarded", "1", answerMs, json)) << json.out;
    const std::string before = json.out;
    auto grew = [&](const std::string& text, const char* name) {
        return JsonCount(text, name) - JsonCount(before, name);
    };

    // A privileged request with its password answered, one refused for want
    // of a password (the relay's own answer behind it is answered), then one
    // datagram too long to be a request.
    EXPECT_FALSE(agent.Exchange(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A)}), answerMs).empty());
    ByteString answer;
    EXPECT_TRUE(agent.Unanswered(XcpFrame(0x8A), answer, answerMs));
    NetXcpClient client("127.0.0.1", agent.Port());
    client.Send(ByteString(kOversized, 0xAB));

    EXPECT_TRUE(::WaitFor(
        [&] {
            json = status.Json();
            return JsonCount(json.out, "privileged_refused") == 1 &&
                   grew(json.out, "answered") >= 2 && JsonCount(json.out, "dropped_oversized") == 1;
        },
        answerMs))
        << json.out;
    EXPECT_EQ(JsonCount(json.out, "dropped_oversized"), 1u) << json.out;
    EXPECT_EQ(grew(json.out, "received"), 3u) << json.out;
    EXPECT_EQ(grew(json.out, "answered"), 2u) << json.out;
    // 0x31, 0x8A and the frame for the UPS in Unanswered's probe.
    EXPECT_EQ(JsonCount(json.out, "forwarded"), 3u) << json.out;
    EXPECT_EQ(JsonCount(json.out, "privileged_admitted"), 1u) << json.out;
    EXPECT_EQ(JsonCount(json.out, "privileged_refused"), 1u) << json.out;
    EXPECT_EQ(grew(json.out, "ups_timeouts"), 0u) << json.out;
    EXPECT_EQ(grew(json.out, "dropped_not_allowed"), 0u) << json.out;
    EXPECT_EQ(JsonField(json.out, "ups_model"), "1500 RT");
    EXPECT_EQ(JsonField(json.out, "ups_versions"), "1.0 2.5");
    EXPECT_EQ(JsonField(json.out, "baud"), "19200");
    EXPECT_EQ(JsonField(json.out, "running"), "true");
    ProgramResult text = status.Text();
    EXPECT_EQ(text.exitCode, kStatusRelaying) << text.out << text.err;
    EXPECT_NE(text.out.find("attached to the UPS"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Quillon 1500 RT, versions 1.0 2.5, at 19200 baud"), std::string::npos)
        << text.out;

    // Unplugged: searching, one loss; plugged in again: attached, found once more.
    EXPECT_TRUE(ups.Control("unplug"));
    EXPECT_TRUE(status.WaitFor("state", "searching", recoverMs, json)) << json.out;
    EXPECT_EQ(json.exitCode, kStatusSearching);
    EXPECT_EQ(JsonCount(json.out, "losses"), 1u);
    EXPECT_NE(JsonCount(json.out, "last_loss"), 0u);
    text = status.Text();
    EXPECT_EQ(text.exitCode, kStatusSearching);
    EXPECT_NE(text.out.find("searching for the UPS"), std::string::npos) << text.out;
    EXPECT_TRUE(ups.Control("plug"));
    EXPECT_TRUE(status.WaitFor("state", "attached", recoverMs, json)) << json.out;
    EXPECT_EQ(json.exitCode, kStatusRelaying);
    EXPECT_EQ(grew(json.out, "detections"), 1u);
    EXPECT_EQ(JsonCount(json.out, "losses"), 1u);
    // And relaying again, that answer counted with the others.
    const uint64_t answeredBefore = JsonCount(json.out, "answered");
    EXPECT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), answerMs)));
    EXPECT_TRUE(::WaitFor(
        [&] {
            json = status.Json();
            return JsonCount(json.out, "answered") == answeredBefore + 1;
        },
        answerMs))
        << json.out;
    return json.out;
}

NotifyListener::NotifyListener(const ScratchDir& dir) : m_Path(dir.Path() + "/notify") {
    m_nSocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", m_Path.c_str());
    if (::bind(m_nSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(m_nSocket);
        m_nSocket = -1;
    }
}

NotifyListener::~NotifyListener() {
    if (m_nSocket >= 0) ::close(m_nSocket);
}

bool NotifyListener::WaitFor(const std::string& text, uint32_t ms) {
    const uint32_t start = plat::TickCount();
    char message[1024];
    while (m_nSocket >= 0 && plat::TickCount() - start < ms) {
        pollfd p{m_nSocket, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        ssize_t n = ::recv(m_nSocket, message, sizeof message, 0);
        if (n > 0 && std::string(message, n).find(text) != std::string::npos) return true;
    }
    return false;
}
