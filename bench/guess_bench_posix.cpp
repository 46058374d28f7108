// Password guessing against the relay, measured from outside as an attacker
// would: datagrams of 116 password frames (115 wrong, the right one last)
// and one privileged command. An answer proves that every guess in it was
// compared, so the guesses per second are 116 for each answered datagram.
// Runs once with no limit on wrong passwords (the relay as it was) and once
// with the default limits, and also times an honest client with the right
// password alone, who must not be slowed down. Then the same from many
// addresses, in prompt timing: 508 loopback addresses (127.1.x.y) send
// datagrams of 4 wrong guesses each, under every address's own limit, as
// fast as they can; the relay's own count of wrong passwords (its status
// file) gives the guesses compared per second. Meanwhile an honest client
// that gave the right password before, and new clients that never did, ask
// for a privileged command every two seconds. Prints one table.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_relay_posix.h"
#include "loopback_udp.h"
#include "platform/clock.h"
#include "tools/netxcp/netxcp_client.h"

namespace {

constexpr int kGuessesPerDatagram = 116;
constexpr uint32_t kPhaseMs = 20000;

ByteString Cat(const ByteString& a, const ByteString& b) {
    ByteString both = a;
    both.insert(both.end(), b.begin(), b.end());
    return both;
}

ByteString PasswordFrame(const std::string& password) {
    return XcpFrame(0xCF, ByteString(password.begin(), password.end()));
}

struct Phase {
    double guessesPerSecond = 0;
    int sent = 0;
    int answered = 0;
};

Phase Guess(uint16_t port) {
    ByteString datagram;
    for (int i = 0; i < kGuessesPerDatagram - 1; ++i) {
        std::string wrong = "g" + std::to_string(10000 + i);
        datagram = Cat(datagram, PasswordFrame(wrong));
    }
    datagram = Cat(datagram, Cat(PasswordFrame("Wopra3"), XcpFrame(0x8A)));
    NetXcpClient client("127.0.0.1", port);
    Phase phase;
    uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < kPhaseMs) {
        client.Send(datagram);
        ++phase.sent;
        ByteString answer;
        if (client.Receive(answer, 4000)) ++phase.answered;
    }
    double seconds = static_cast<double>(plat::TickCount() - start) / 1000.0;
    phase.guessesPerSecond = kGuessesPerDatagram * phase.answered / seconds;
    return phase;
}

// The honest client's privileged requests: the median answer time.
double Honest(uint16_t port, int count, int& lost) {
    std::vector<double> ms;
    ByteString request = Cat(PasswordFrame("Wopra3"), XcpFrame(0x8A));
    for (int i = 0; i < count; ++i) {
        double t = TimedExchange(port, request, 10000);
        if (t < 0) {
            ++lost;
        } else {
            ms.push_back(t);
        }
    }
    if (ms.empty()) return -1;
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

constexpr int kAddresses = 508;
constexpr uint32_t kLoopback1 = 0x7F000001u;

// A counter of the relay's status file; -1 when it is not there.
long long StatusCounter(const std::string& path, const std::string& name) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    size_t at = all.find(name);
    if (at == std::string::npos) return -1;
    at = all.find_first_of("0123456789", at + name.size());
    return at == std::string::npos ? -1 : std::atoll(all.c_str() + at);
}

struct ManyPhase {
    double comparedPerSecond = 0;
    int honestAnswered = 0, honestAsked = 0;
    int newAnswered = 0, newAsked = 0;
    std::vector<double> honestMs;
};

// The n-th guess: six characters, as the relay compares (a frame of another
// length is no password frame at all).
std::string Guess6(int n) {
    std::string text = "w";
    for (int i = 0; i < 5; ++i, n /= 36) text += "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36];
    return text;
}

const ByteString& PrivilegedRequest() {
    static const ByteString request = Cat(PasswordFrame("Wopra3"), XcpFrame(0x8A));
    return request;
}

// A client's privileged request with the right password, sent while the
// attack goes on and watched without stopping it.
struct Ask {
    std::unique_ptr<LoopbackUdp> client;
    uint32_t sentMs = 0;
    bool open = false;

    void Send(uint16_t port) {
        client->Send(PrivilegedRequest(), kLoopback1, port);
        sentMs = plat::TickCount();
        open = true;
    }
    // The answer time in ms once it came, -1 once it is lost, else -2.
    double Poll() {
        if (!open) return -2;
        if (!client->Receive(0).empty()) {
            open = false;
            return static_cast<double>(plat::TickCount() - sentMs);
        }
        if (plat::TickCount() - sentMs < 2000) return -2;
        open = false;
        return -1;
    }
};

// The relay's count once the status file has caught up: it is written at
// most once a second, when the worker has served something.
long long SettledCount(uint16_t port, const std::string& statusPath) {
    plat::SleepMs(1100);
    (void)TimedExchange(port, XcpFrame(0x00), 2000);
    plat::SleepMs(200);
    return StatusCounter(statusPath, "wrong_passwords");
}

ManyPhase ManyAddresses(uint16_t port, const std::string& statusPath) {
    std::vector<std::unique_ptr<LoopbackUdp>> guessers;
    for (int i = 0; i < kAddresses; ++i) {
        guessers.push_back(
            std::make_unique<LoopbackUdp>(0x7F010000u + ((i / 250) << 8) + i % 250 + 1));
    }
    ManyPhase phase;
    Ask honest, fresh;
    honest.client = std::make_unique<LoopbackUdp>(0x7F000002u);
    // The honest client gave the right password before the attack.
    (void)TimedExchange(port, XcpFrame(0x00), 2000);
    honest.Send(port);
    while (honest.Poll() == -2) plat::SleepMs(5);
    const long long before = SettledCount(port, statusPath);
    const uint32_t start = plat::TickCount();
    uint32_t nextAsk = start + 1000;
    for (int sent = 0; plat::TickCount() - start < kPhaseMs; ++sent) {
        LoopbackUdp& guesser = *guessers[static_cast<size_t>(sent % kAddresses)];
        ByteString guesses;
        for (int g = 0; g < 4; ++g) guesses = Cat(guesses, PasswordFrame(Guess6(sent * 4 + g)));
        guesser.Send(guesses, kLoopback1, port);
        // Not faster than the relay takes them: a full socket queue would
        // only measure the kernel.
        if (sent % 64 == 63) plat::SleepMs(1);
        if (!honest.open && !fresh.open && plat::TickCount() - nextAsk < 0x80000000u) {
            nextAsk += 2000;
            ++phase.honestAsked;
            honest.Send(port);
            // A new client each time: one that never gave the password.
            fresh.client = std::make_unique<LoopbackUdp>(0x7F020000u +
                                                         static_cast<uint32_t>(++phase.newAsked));
            fresh.Send(port);
        }
        const double honestMs = honest.Poll();
        if (honestMs >= 0) {
            ++phase.honestAnswered;
            phase.honestMs.push_back(honestMs);
        }
        if (fresh.Poll() >= 0) ++phase.newAnswered;
    }
    const double seconds = static_cast<double>(plat::TickCount() - start) / 1000.0;
    const long long after = SettledCount(port, statusPath);
    // What the relay made of it, for the record.
    std::fprintf(stderr, "bench: 508 addresses:");
    for (const char* name : {"received", "wrong_passwords", "ignored_passwords", "dropped_stale",
                             "dropped_queue_full", "receive_errors"}) {
        std::fprintf(stderr, " %s %lld", name, StatusCounter(statusPath, name));
    }
    std::fprintf(stderr, "\n");
    if (before >= 0 && after >= before)
        phase.comparedPerSecond = static_cast<double>(after - before) / seconds;
    return phase;
}

void Row(const char* what, const std::string& a, const std::string& b) {
    std::printf("| %-44s | %-22s | %-22s |\n", what, a.c_str(), b.c_str());
}

}  // namespace

int main() {
    struct Setting {
        const char* name;
        const char* ini;
        Phase guessing;
        double honestMs = -1;
        int honestLost = 0;
        ManyPhase many;
    } settings[] = {{"no limit", "PasswordTries=0\nPasswordGuessesPerMinute=0\n", {}, -1, 0, {}},
                    {"default limits", "", {}, -1, 0, {}}};
    const std::string statusPath = "/tmp/qln-guess-bench-" + std::to_string(::getpid()) + ".status";
    for (Setting& s : settings) {
        BenchRelay relay;
        if (!relay.Start(s.ini)) return 1;
        // The honest client first: it speaks from the guesser's address.
        s.honestMs = Honest(relay.Port(), 10, s.honestLost);
        s.guessing = Guess(relay.Port());
        relay.Stop();
        BenchRelay many;
        if (!many.Start(std::string(s.ini) +
                        "[Communications]\nTiming=prompt\n[Status]\nStatusFile=" + statusPath +
                        "\n")) {
            return 1;
        }
        s.many = ManyAddresses(many.Port(), statusPath);
        many.Stop();
        ::unlink(statusPath.c_str());
    }
    std::printf("qln password-guess benchmark: %d guesses per datagram, %u s each\n\n",
                kGuessesPerDatagram, kPhaseMs / 1000);
    Row("measure", settings[0].name, settings[1].name);
    std::printf("|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(24, '-').c_str(),
                std::string(24, '-').c_str());
    auto fixed = [](double v, const char* unit) {
        char text[48];
        std::snprintf(text, sizeof text, "%.2f %s", v, unit);
        return std::string(text);
    };
    Row("guesses confirmed per second", fixed(settings[0].guessing.guessesPerSecond, "/s"),
        fixed(settings[1].guessing.guessesPerSecond, "/s"));
    Row("guessing datagrams answered / sent",
        std::to_string(settings[0].guessing.answered) + " / " +
            std::to_string(settings[0].guessing.sent),
        std::to_string(settings[1].guessing.answered) + " / " +
            std::to_string(settings[1].guessing.sent));
    Row("honest client, right password: median answer", fixed(settings[0].honestMs, "ms"),
        fixed(settings[1].honestMs, "ms"));
    Row("honest client: requests lost of 10", std::to_string(settings[0].honestLost),
        std::to_string(settings[1].honestLost));
    auto many = [&](const Setting& s, int which) {
        const ManyPhase& m = s.many;
        if (which == 0) return fixed(m.comparedPerSecond, "/s");
        if (which == 1) {
            std::vector<double> ms = m.honestMs;
            std::sort(ms.begin(), ms.end());
            return std::to_string(m.honestAnswered) + " / " + std::to_string(m.honestAsked) +
                   (ms.empty() ? std::string() : ", " + fixed(ms[ms.size() / 2], "ms"));
        }
        return std::to_string(m.newAnswered) + " / " + std::to_string(m.newAsked);
    };
    Row("508 addresses: guesses compared per second", many(settings[0], 0), many(settings[1], 0));
    Row("508 addresses: earlier client answered", many(settings[0], 1), many(settings[1], 1));
    Row("508 addresses: new clients answered", many(settings[0], 2), many(settings[1], 2));
    return 0;
}
