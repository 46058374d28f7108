// The relay side by side, in one run on one machine: qln in literal and in
// prompt timing, a plain serial-over-UDP proxy (ser2net with a UDP accepter)
// on a second simulator at the same line speed, and the floor that the line
// itself sets (the bytes each way at 10 bits a byte). The Win32 build under
// Wine gets the forwarded request's row in both timings. Prints one table.
//
//   prompt_bench [random-requests]
//   prompt_bench senders    (only the rows of other senders under load, both timings)
//
// ser2net comes from Debian; it is installed here (apt-get) when missing.
// The Wine rows need QLN_WIN32_BIN, the bin folder of either Windows build
// (and a prefix of its architecture, as scripts/test.sh makes).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench_relay_posix.h"
#include "child_process.h"
#include "loopback_udp.h"
#include "platform/clock.h"
#include "tools/netxcp/netxcp_client.h"
#include "tools/netxcp/netxcp_request.h"
#include "upslink/xcp_protocol.h"
#include "wine_prefix_posix.h"

namespace {

constexpr uint32_t kBaud = 19200;           // the line speed of every column
constexpr uint32_t kAnswerLimitMs = 10000;  // an answer later than this is lost
constexpr uint32_t kBackToBackMs = 20000;   // how long back-to-back requests go on
constexpr uint32_t kFloodWaitMs = 60000;    // how long the second sender waits
constexpr int kFlood = 10000;

std::string Text(const char* format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// Bytes of the first XCP answer in `bytes` when it is whole, else 0.
size_t WholeAnswer(const ByteString& bytes) {
    if (bytes.size() < 5 || bytes[0] != 0xAB) return 0;
    size_t n = 5u + bytes[2];
    return bytes.size() >= n ? n : 0;
}

// One request, timed until its whole answer is in: qln sends it in one
// datagram, a serial proxy in as many as its reads of the line gave. -1 when
// it did not come within the limit. The client keeps its socket from request
// to request, as a management program does (ser2net opens the line anew for
// every new sender address).
double Exchange(NetXcpClient& client, const ByteString& request, size_t* answerBytes = nullptr) {
    ByteString all, part;
    while (client.Receive(part, 0)) {  // what came too late for an earlier request
    }
    // Finer than the millisecond tick: the fast columns answer within one.
    const auto sent = std::chrono::steady_clock::now();
    uint32_t start = plat::TickCount();
    client.Send(request);
    for (;;) {
        uint32_t spent = plat::TickCount() - start;
        if (spent >= kAnswerLimitMs || !client.Receive(part, kAnswerLimitMs - spent)) return -1;
        all.insert(all.end(), part.begin(), part.end());
        // The relay's own answer to 0x00 is no XCP block: one datagram is all.
        size_t whole = WholeAnswer(all);
        if (whole != 0 || all == kQln) {
            if (answerBytes) *answerBytes = whole != 0 ? whole : all.size();
            return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                             sent)
                .count();
        }
    }
}

double Exchange(uint16_t port, const ByteString& request, size_t* answerBytes = nullptr) {
    NetXcpClient client("127.0.0.1", port);
    return Exchange(client, request, answerBytes);
}

struct Timing {
    std::vector<double> ms;
    int lost = 0;
    double At(double q) const {
        if (ms.empty()) return 0;
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        return s[static_cast<size_t>(q * static_cast<double>(s.size() - 1))];
    }
    std::string Show() const {
        if (ms.empty()) return lost ? "all lost" : "n/a";
        char text[96];
        std::snprintf(text, sizeof text, "%.2f / %.2f / %.2f ms", At(0.5), At(0.95), At(1.0));
        std::string s = text;
        if (lost) s += " (" + std::to_string(lost) + " lost)";
        return s;
    }
};

// `count` requests at random moments (so that they meet every phase of the
// agent's pass), each timed. Each comes at least the guard after the answer
// before it: a client that asks sooner waits out the UPS's breathing room by
// design, which the back-to-back row shows; here the question is what the
// relay adds at a moment of its own cycle the client cannot know.
Timing AtRandomMoments(uint16_t port, const ByteString& request, int count, std::mt19937& random) {
    NetXcpClient client("127.0.0.1", port);
    Timing t;
    std::uniform_int_distribution<uint32_t> gap(kXcpRelayPauseMs, kXcpRelayPauseMs + 1500);
    for (int i = 0; i < count; ++i) {
        plat::SleepMs(gap(random));
        double ms = Exchange(client, request);
        if (ms < 0) {
            ++t.lost;
        } else {
            t.ms.push_back(ms);
        }
    }
    return t;
}

// Each request sent the moment the one before was answered.
double BackToBack(uint16_t port, const ByteString& request) {
    NetXcpClient client("127.0.0.1", port);
    uint32_t start = plat::TickCount();
    int answered = 0;
    while (plat::TickCount() - start < kBackToBackMs) {
        if (Exchange(client, request) >= 0) ++answered;
    }
    return answered * 1000.0 / static_cast<double>(plat::TickCount() - start);
}

// 10,000 datagrams of 0x00 from one sender; 1 s after the last, a second
// sender's single 0x00. How long until that one is answered.
std::string Flood(uint16_t port) {
    const ByteString request = XcpFrame(0x00);
    NetXcpClient flood("127.0.0.1", port);
    NetXcpClient second("127.0.0.1", port);
    for (int i = 0; i < kFlood; ++i) flood.Send(request);
    plat::SleepMs(1000);
    uint32_t sent = plat::TickCount();
    second.Send(request);
    ByteString answer;
    // The flood's answers are left to pile up in its own socket.
    while (plat::TickCount() - sent < kFloodWaitMs) {
        if (second.Receive(answer, 100) && !answer.empty())
            return Text("%.0f ms", static_cast<double>(plat::TickCount() - sent));
    }
    return "no answer in " + Text("%.0f s", kFloodWaitMs / 1000.0);
}

constexpr uint32_t kOtherWaitMs = 60000;  // how long another sender waits at most
constexpr uint32_t kLoopback1 = 0x7F000001u;

// Waits for `client`'s answer to the request it sent at `sent`, asking again
// every second as a client would; the time from the first ask.
std::string AnsweredAfter(LoopbackUdp& client, const ByteString& request, uint16_t port,
                          uint32_t sent, const std::function<void()>& meanwhile) {
    uint32_t asked = sent;
    while (plat::TickCount() - sent < kOtherWaitMs) {
        if (!client.Receive(20).empty())
            return Text("%.0f ms", static_cast<double>(plat::TickCount() - sent));
        if (meanwhile) meanwhile();
        if (plat::TickCount() - asked >= 1000) {
            asked = plat::TickCount();
            client.Send(request, kLoopback1, port);
        }
    }
    return "no answer in " + Text("%.0f s", kOtherWaitMs / 1000.0);
}

// One datagram of 293 forwarded frames (1172 bytes, the most there is) from
// one sender; 2 s into its walk a second sender asks for 0x31.
std::string LongDatagram(uint16_t port) {
    ByteString frames;
    for (int i = 0; i < 293; ++i) {
        ByteString f = XcpFrame(0x30);
        frames.insert(frames.end(), f.begin(), f.end());
    }
    LoopbackUdp holder(0x7F000003u), other(0x7F000002u);
    holder.Send(frames, kLoopback1, port);
    plat::SleepMs(2000);  // a bench: the walk is under way by then
    const uint32_t sent = plat::TickCount();
    other.Send(XcpFrame(0x31), kLoopback1, port);
    return AnsweredAfter(other, XcpFrame(0x31), port, sent, nullptr);
}

// One host (127.0.0.9) asks for 0x31 from 300 ports, each port again every
// second as a client would; 3 s into it a client at another address asks.
std::string ManyPorts(uint16_t port) {
    std::vector<std::unique_ptr<LoopbackUdp>> flood;
    for (int i = 0; i < 300; ++i) flood.push_back(std::make_unique<LoopbackUdp>(0x7F000009u));
    uint32_t lastRound = plat::TickCount() - 1000;
    auto floodOn = [&] {
        for (auto& p : flood) (void)p->Receive(0);
        if (plat::TickCount() - lastRound < 1000) return;
        lastRound = plat::TickCount();
        for (auto& p : flood) p->Send(XcpFrame(0x31), kLoopback1, port);
    };
    const uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < 3500) {
        floodOn();
        plat::SleepMs(20);
    }
    LoopbackUdp other(0x7F000002u);
    const uint32_t sent = plat::TickCount();
    other.Send(XcpFrame(0x31), kLoopback1, port);
    return AnsweredAfter(other, XcpFrame(0x31), port, sent, floodOn);
}

// One column of the table: row name -> figure.
using Column = std::map<std::string, std::string>;

const char* const kRows[] = {
    "0x00, random moments: median / p95 / max",
    "0x31 forwarded, random moments: median / p95 / max",
    "0x31 forwarded back to back: requests per second",
    "CPU per 100 forwarded requests",
    "resident memory (VmRSS / VmHWM)",
    "second sender's 0x00, 1 s after a 10,000-datagram flood",
    "Wine: 0x31 forwarded, random moments: median / p95 / max",
    "another sender's 0x31 while a 293-frame datagram is walked",
    "another host's 0x31 while one host asks from 300 ports",
};

// The figures of one program that answers NetXCP on `port` (process `pid`).
void MeasureAll(uint16_t port, int pid, int count, Column& column) {
    std::mt19937 random(7010);  // fixed seed: the same moments in every column
    column[kRows[0]] = AtRandomMoments(port, XcpFrame(0x00), count, random).Show();
    double cpu0 = ThreadCpuSeconds(pid);
    Timing forwarded = AtRandomMoments(port, XcpFrame(0x31), count, random);
    double cpu = ThreadCpuSeconds(pid) - cpu0;
    column[kRows[1]] = forwarded.Show();
    column[kRows[3]] = Text("%.4f s", cpu * 100.0 / std::max<size_t>(1, forwarded.ms.size()));
    column[kRows[2]] = Text("%.2f / s", BackToBack(port, XcpFrame(0x31)));
    column[kRows[4]] = std::to_string(StatusKb(pid, "VmRSS:")) + " / " +
                       std::to_string(StatusKb(pid, "VmHWM:")) + " KiB";
    column[kRows[5]] = Flood(port);
}

// Whether this qln reads `[Communications] Timing`: the settings are parsed
// strictly, so a value it does not know stops it at start with an error that
// names the key; an agent that ignores the key runs on.
bool TimingBuilt() {
    char dir[] = "/tmp/qln-timing-XXXXXX";
    if (!mkdtemp(dir)) return false;
    const std::string ini = std::string(dir) + "/qln.ini";
    std::ofstream(ini) << "[Communications]\nCommunicationsPort=" << dir
                       << "/no-port\nTiming=no-such-timing\n[NetXCP]\nAgentPort=" << FreeUdpPort()
                       << "\n";
    ChildProcess agent;
    bool refused = agent.Start(BinPath("qln"), {"daemon", "-c", ini}) && agent.WaitForExit(10000) &&
                   agent.Err().find("Timing") != std::string::npos;
    agent.Stop();
    ::unlink(ini.c_str());
    ::rmdir(dir);
    return refused;
}

std::string TimingIni(bool prompt) {
    return std::string("[Communications]\nTiming=") + (prompt ? "prompt" : "literal") + "\n";
}

void MeasureQln(bool prompt, int count, Column& column) {
    BenchRelay relay;
    if (!relay.StartUps() || !relay.StartAgent(TimingIni(prompt))) return;
    MeasureAll(relay.Port(), relay.Agent().Pid(), count, column);
    relay.Stop();
}

// The rows of other senders under load, each on a relay of its own.
void MeasureSenders(bool prompt, Column& column) {
    {
        BenchRelay relay;
        if (!relay.StartUps() || !relay.StartAgent(TimingIni(prompt))) return;
        column[kRows[7]] = LongDatagram(relay.Port());
    }
    BenchRelay relay;
    if (!relay.StartUps() || !relay.StartAgent(TimingIni(prompt))) return;
    column[kRows[8]] = ManyPorts(relay.Port());
}

// Which Windows build the Wine row measured (win32 or win64), for the table.
std::string g_WineArch;

// qln.exe under Wine, its COM port a link in the prefix to the simulator;
// either Windows build, under the Wine of its architecture.
void MeasureWine(bool prompt, int count, Column& column) {
    WinePrefix wine;
    if (!wine.Missing().empty()) {
        column[kRows[6]] = "n/a (" + wine.Missing() + ")";
        return;
    }
    g_WineArch = wine.Arch();
    wine.Export();
    BenchRelay relay;
    if (!relay.StartUps()) return;
    WineComPort com(wine, relay.Pty());
    if (com.Name().empty() || !relay.StartAgent(TimingIni(prompt), com.Name(),
                                                {"wine", wine.Bin() + "/qln.exe"}, 180000)) {
        column[kRows[6]] = "n/a (qln.exe did not relay)";
        return;
    }
    std::mt19937 random(7010);
    column[kRows[6]] = AtRandomMoments(relay.Port(), XcpFrame(0x31), count, random).Show();
    relay.Stop();
}

bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// ser2net relays the UDP port to the simulator's line, raw, at its speed. Its
// UDP accepter serves one remote address at a time.
void MeasureSer2net(int count, Column& column) {
    if (!OnPath("ser2net")) {
        std::fprintf(stderr, "bench: installing ser2net (apt-get)\n");
        (void)std::system(
            "DEBIAN_FRONTEND=noninteractive apt-get install -y -q ser2net >/dev/null 2>&1");
    }
    if (!OnPath("ser2net")) {
        for (const char* row : kRows) column[row] = "n/a (no ser2net)";
        return;
    }
    BenchRelay ups;
    if (!ups.StartUps({"--baud", std::to_string(kBaud)})) return;
    char dir[] = "/tmp/qln-ser2net-XXXXXX";
    if (!mkdtemp(dir)) return;
    const std::string conf = std::string(dir) + "/ser2net.yaml";
    const std::string pidFile = std::string(dir) + "/ser2net.pid";
    const uint16_t port = FreeUdpPort();
    std::ofstream(conf) << "connection: &ups\n"
                        << "  accepter: udp,127.0.0.1," << port << "\n"
                        << "  connector: serialdev," << ups.Pty() << "," << kBaud << "n81,local\n"
                        << "  options:\n"
                        << "    kickolduser: true\n"
                        // Each read of the line goes out at once, as a plain
                        // proxy's should, not held for a pause in the line.
                        << "    chardelay: false\n";
    ChildProcess proxy;
    if (!proxy.Start("ser2net", {"-n", "-c", conf, "-P", pidFile})) return;
    // Up once a request is answered through it.
    uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < 20000 && proxy.Running() &&
           Exchange(port, XcpFrame(0x31)) < 0) {
    }
    if (!proxy.Running()) {
        std::fprintf(stderr, "bench: ser2net ended:\n%s", proxy.Err().c_str());
    } else {
        MeasureAll(port, proxy.Pid(), count, column);
    }
    proxy.Stop();
    ups.Stop();
    ::unlink(conf.c_str());
    ::unlink(pidFile.c_str());
    ::rmdir(dir);
}

// The line's own time for one exchange: every byte out and back at 10 bits
// (start, 8 data, stop) at the line speed.
void Floor(Column& column) {
    BenchRelay relay;
    size_t answerBytes = 0;
    if (relay.Start()) (void)Exchange(relay.Port(), XcpFrame(0x31), &answerBytes);
    relay.Stop();
    const double outBytes = static_cast<double>(XcpFrame(0x31).size());
    const double ms = (outBytes + static_cast<double>(answerBytes)) * 10.0 * 1000.0 / kBaud;
    column[kRows[0]] = "0 (no line)";
    if (answerBytes == 0) return;
    column[kRows[1]] = Text("%.1f ms", ms) + " (" + std::to_string(static_cast<int>(outBytes)) +
                       " out, " + std::to_string(answerBytes) + " back)";
    column[kRows[2]] = Text("%.1f / s", 1000.0 / ms);
}

}  // namespace

int main(int argc, char** argv) {
    const bool sendersOnly = argc > 1 && std::string(argv[1]) == "senders";
    const int count = argc > 1 && !sendersOnly ? std::max(1, std::atoi(argv[1])) : 20;
    const bool prompt = TimingBuilt();
    const std::string notBuilt = "n/a (Timing=prompt not built)";

    Column literal, promptColumn, proxy, floor;
    if (!sendersOnly) MeasureQln(false, count, literal);
    if (!sendersOnly) MeasureWine(false, count, literal);
    MeasureSenders(false, literal);
    if (prompt) {
        if (!sendersOnly) MeasureQln(true, count, promptColumn);
        if (!sendersOnly) MeasureWine(true, count, promptColumn);
        MeasureSenders(true, promptColumn);
    } else {
        for (const char* row : kRows) promptColumn[row] = notBuilt;
    }
    if (!sendersOnly) MeasureSer2net(count, proxy);
    if (!sendersOnly) Floor(floor);

    std::printf(
        "qln side by side: upssim on pseudo-terminals at %u baud, NetXCP on 127.0.0.1; "
        "%d requests per random-moment row\n\n",
        kBaud, count);
    if (!g_WineArch.empty())
        std::printf("Wine row: qln.exe of the %s build under %s Wine\n\n", g_WineArch.c_str(),
                    g_WineArch == "win64" ? "64-bit" : "32-bit");
    std::printf("| %-56s | %-30s | %-30s | %-30s | %-30s |\n", "measure", "qln, Timing=literal",
                "qln, Timing=prompt", "ser2net (UDP accepter)", "line floor");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(58, '-').c_str(), std::string(32, '-').c_str(),
                std::string(32, '-').c_str(), std::string(32, '-').c_str(),
                std::string(32, '-').c_str());
    for (const char* row : kRows) {
        auto cell = [&](Column& c) { return c.count(row) ? c[row] : std::string("-"); };
        std::printf("| %-56s | %-30s | %-30s | %-30s | %-30s |\n", row, cell(literal).c_str(),
                    cell(promptColumn).c_str(), cell(proxy).c_str(), cell(floor).c_str());
    }
    return 0;
}
