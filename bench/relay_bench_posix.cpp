// Measures the relay from outside, as an operator would see it: answer
// times, the agent's CPU time and memory, a flood of datagrams, and what the
// wire trace costs. Starts upssim and qln itself; prints one table.
//
//   relay_bench [FORWARDED]   everything (FORWARDED requests of 0x31 timed, 30)
//   relay_bench trace         the rows of the wire trace only
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench_relay_posix.h"
#include "child_process.h"
#include "platform/clock.h"
#include "tools/netxcp/netxcp_client.h"
#include "tools/netxcp/netxcp_request.h"

namespace {

// utime + stime of a process, in seconds.
double CpuSeconds(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string f;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::stoul(f);
        if (i == 15) stime = std::stoul(f);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Timing {
    std::vector<double> ms;
    int lost = 0;
    void Add(double v) { ms.push_back(v); }
    double At(double q) const {
        if (ms.empty()) return 0;
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        return s[static_cast<size_t>(q * static_cast<double>(s.size() - 1))];
    }
};

// Sends `count` requests at random moments (so that they meet every phase
// of the agent's pass), timing each answer.
Timing Measure(uint16_t port, const ByteString& datagram, int count, std::mt19937& random) {
    Timing t;
    std::uniform_int_distribution<uint32_t> gap(0, 1500);
    for (int i = 0; i < count; ++i) {
        plat::SleepMs(gap(random));
        double ms = TimedExchange(port, datagram, 10000);
        if (ms < 0) {
            ++t.lost;
        } else {
            t.Add(ms);
        }
    }
    return t;
}

void Row(const char* what, const std::string& value) {
    std::printf("| %-57s | %-34s |\n", what, value.c_str());
}

std::string Fixed(double v, int digits, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f %s", digits, v, unit);
    return text;
}

std::string TimingText(const Timing& t) {
    char text[96];
    std::snprintf(text, sizeof text, "median %.0f, p95 %.0f, max %.0f ms", t.At(0.5), t.At(0.95),
                  t.At(1.0));
    std::string s = text;
    if (t.lost) s += " (" + std::to_string(t.lost) + " lost)";
    return s;
}

// What the kernel holds for the agent's UDP socket (bound to 0.0.0.0:port),
// from /proc/net/udp: bytes waiting to be read and datagrams dropped on
// arrival because the receive buffer was full.
struct QueueState {
    bool found = false;
    unsigned long queuedBytes = 0;
    unsigned long drops = 0;
};

QueueState ReadQueue(uint16_t port) {
    char local[32];
    std::snprintf(local, sizeof local, "00000000:%04X", port);
    std::ifstream in("/proc/net/udp");
    std::string line;
    QueueState q;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, address, remote, state, queues, field;
        if (!(fields >> slot >> address >> remote >> state >> queues) || address != local) continue;
        size_t colon = queues.find(':');
        if (colon == std::string::npos) continue;
        q.queuedBytes = std::stoul(queues.substr(colon + 1), nullptr, 16);
        while (fields >> field) q.drops = std::stoul(field);  // the last column
        q.found = true;
        return q;
    }
    return q;
}

std::string Thousands(unsigned long v) {
    std::string digits = std::to_string(v);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
    return digits;
}

// A flood of 10,000 datagrams of command 0x00 from one client, which then
// collects its answers until the queue is worked off. 15 s after the flood
// a new client asks for 0x00 as a management program would: one datagram,
// sent again every 5 s until the answer comes. The kernel's counters show
// how many datagrams of the flood were queued and which of the new client's
// datagrams never reached the queue.
void Flood(uint16_t port) {
    constexpr int kFlood = 10000;
    constexpr uint32_t kNewClientAfterMs = 15000, kRetryMs = 5000, kBoundMs = 300000;
    const ByteString request = XcpFrame(0x00);
    NetXcpClient flood("127.0.0.1", port);
    NetXcpClient late("127.0.0.1", port);
    QueueState before = ReadQueue(port);
    for (int i = 0; i < kFlood; ++i) flood.Send(request);
    uint32_t floodEnd = plat::TickCount();
    QueueState after = ReadQueue(port);
    unsigned long dropped = after.drops - before.drops;
    unsigned long queued = kFlood - dropped;

    int answers = 0, answersIn15s = 0, sends = 0, lateDropped = 0;
    bool firstDropped = false;
    uint32_t lastAnswer = floodEnd, firstSend = 0, nextSend = floodEnd + kNewClientAfterMs;
    double lateAnswerMs = -1;
    unsigned long dropsSeen = after.drops;
    ByteString answer;
    for (;;) {
        uint32_t now = plat::TickCount();
        if (now - floodEnd > kBoundMs) break;
        if (answers >= static_cast<int>(queued) && lateAnswerMs >= 0) break;
        if (lateAnswerMs < 0 && static_cast<int32_t>(now - nextSend) >= 0) {
            if (sends == 0) firstSend = now;
            late.Send(request);
            ++sends;
            nextSend = now + kRetryMs;
            // Loopback delivers within the send: the drop counter has moved
            // by now if this datagram found the queue full.
            unsigned long drops = ReadQueue(port).drops;
            if (drops != dropsSeen) {
                ++lateDropped;
                if (sends == 1) firstDropped = true;
            }
            dropsSeen = drops;
        }
        if (flood.Receive(answer, 100) && answer == kQln) {
            ++answers;
            lastAnswer = plat::TickCount();
            if (lastAnswer - floodEnd <= kNewClientAfterMs) ++answersIn15s;
        }
        if (lateAnswerMs < 0 && sends > 0 && late.Receive(answer, 0) && answer == kQln) {
            lateAnswerMs = static_cast<double>(plat::TickCount() - firstSend);
        }
    }
    double workedOff = static_cast<double>(lastAnswer - floodEnd) / 1000.0;

    Row("flood of 10,000 datagrams: queued / dropped by the kernel",
        after.found ? Thousands(queued) + " / " + Thousands(dropped)
                    : "unknown (no /proc/net/udp)");
    Row("flood: answers in the first 15 s", std::to_string(answersIn15s));
    Row("flood: answers in all / time until the last",
        std::to_string(answers) + " / " + Fixed(workedOff, 0, "s"));
    Row("flood: datagrams served per second",
        Fixed(workedOff > 0 ? answers / workedOff : 0, 2, "/ s"));
    Row("new client 15 s after the flood: first datagram",
        firstDropped ? "dropped by the kernel" : "queued");
    Row("new client, re-sending every 5 s: answered after",
        lateAnswerMs < 0 ? "no answer in " + Fixed(kBoundMs / 1000.0, 0, "s")
                         : Fixed(lateAnswerMs / 1000.0, 0, "s") + " (" + std::to_string(sends) +
                               " sent, " + std::to_string(lateDropped) + " dropped)");

    // What is left of the new client's datagrams is worked off next; then a
    // fresh request meets an empty queue.
    uint32_t drainStart = plat::TickCount();
    while (ReadQueue(port).queuedBytes != 0 && plat::TickCount() - drainStart < 60000) {
        plat::SleepMs(200);
    }
    double fresh = TimedExchange(port, request, 10000);
    Row("once the queue is empty, a new client's 0x00 answered in",
        fresh < 0 ? "no answer in 10 s" : Fixed(fresh, 0, "ms"));
}

// The agent's CPU per 100 requests of 0x31 sent one after another, each
// as soon as the one before was answered.
std::string CpuPer100(BenchRelay& relay, int count) {
    int pid = relay.Agent().Pid();
    int answered = 0;
    double cpu0 = ThreadCpuSeconds(pid);
    for (int i = 0; i < count; ++i) {
        if (TimedExchange(relay.Port(), XcpFrame(0x31), 10000) >= 0) ++answered;
    }
    double cpu = ThreadCpuSeconds(pid) - cpu0;
    std::string text = Fixed(1000.0 * cpu * 100.0 / std::max(1, answered), 1, "ms");
    if (answered < count) text += " (" + std::to_string(count - answered) + " lost)";
    return text;
}

// The same relay without and with the wire trace, one after the other so
// that neither takes the other's core. The trace goes to a folder of its own.
void TraceCost() {
    constexpr int kRequests = 50;
    {
        BenchRelay plain;
        if (!plain.Start()) return;
        Row("agent CPU per 100 requests of 0x31, trace off", CpuPer100(plain, kRequests));
    }
    char dir[] = "/tmp/qln-bench-trace-XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    const std::string path = std::string(dir) + "/wire.txt";
    {
        BenchRelay traced;
        if (!traced.Start("[Trace]\nTraceFile=" + path + "\n")) return;
        std::ifstream before(path, std::ios::ate);
        long start = static_cast<long>(before.tellg());
        Row("agent CPU per 100 requests of 0x31, trace on", CpuPer100(traced, kRequests));
        std::ifstream after(path, std::ios::ate);
        long bytes = static_cast<long>(after.tellg()) - start;
        Row("trace written per request of 0x31",
            Fixed(static_cast<double>(bytes) / kRequests, 0, "bytes"));
    }
    unlink(path.c_str());
    unlink((path + ".1").c_str());
    rmdir(dir);
}

void Header() {
    std::printf("| %-57s | %-34s |\n|%s|%s|\n", "measure", "figure", std::string(59, '-').c_str(),
                std::string(36, '-').c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "trace") {
        std::printf("qln relay benchmark: the wire trace's cost\n\n");
        Header();
        TraceCost();
        return 0;
    }
    int forwarded = argc > 1 ? std::atoi(argv[1]) : 30;
    std::mt19937 random(7010);  // fixed seed: the same request moments every run
    BenchRelay bench;
    if (!bench.Start()) return 1;
    ChildProcess& agent = bench.Agent();
    uint16_t port = bench.Port();
    const std::string& pty = bench.Pty();
    int pid = agent.Pid();

    std::printf("qln relay benchmark: qln against upssim on %s, NetXCP on 127.0.0.1:%u\n\n",
                pty.c_str(), port);
    Header();

    Timing relay = Measure(port, XcpFrame(0x00), 40, random);
    Row("answer time, command 0x00 (the relay's own)", TimingText(relay));

    double cpu0 = CpuSeconds(pid);
    uint32_t wall0 = plat::TickCount();
    Timing status = Measure(port, XcpFrame(0x31), forwarded, random);
    double cpu = CpuSeconds(pid) - cpu0;
    double wall = static_cast<double>(plat::TickCount() - wall0) / 1000.0;
    Row("answer time, command 0x31 (forwarded to the UPS)", TimingText(status));
    Row("agent CPU per 100 forwarded requests",
        Fixed(cpu * 100.0 / std::max(1, forwarded - status.lost), 3, "s"));
    Row("agent CPU while relaying continuously", Fixed(100.0 * cpu / wall, 2, "% of one core"));

    // Idle: attached UPS, no requests.
    double idle0 = CpuSeconds(pid);
    plat::SleepMs(10000);
    Row("agent CPU idle with a UPS attached (10 s)",
        Fixed(100.0 * (CpuSeconds(pid) - idle0) / 10.0, 2, "% of one core"));

    long rssBefore = StatusKb(pid, "VmRSS:");
    Flood(port);
    long rssAfter = StatusKb(pid, "VmRSS:");
    Row("agent resident memory before / after the flood",
        std::to_string(rssBefore) + " / " + std::to_string(rssAfter) + " KiB");
    Row("agent peak resident memory (VmHWM)", std::to_string(StatusKb(pid, "VmHWM:")) + " KiB");
    Row("agent still running", agent.Running() ? "yes" : "no");

    bench.Stop();
    TraceCost();
    return 0;
}
