// Password guessing against the relay, measured from outside as an attacker
// would: datagrams of 116 password frames (115 wrong, the right one last)
// and one privileged command. An answer proves that every guess in it was
// compared, so the guesses per second are 116 for each answered datagram.
// Runs once with no limit on wrong passwords (the relay as it was) and once
// with the default limit, and also times an honest client with the right
// password alone, who must not be slowed down. Prints one table.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_relay_posix.h"
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

void Row(const char* what, const std::string& a, const std::string& b) {
    std::printf("| %-44s | %-18s | %-18s |\n", what, a.c_str(), b.c_str());
}

}  // namespace

int main() {
    struct Setting {
        const char* name;
        const char* ini;
        Phase guessing;
        double honestMs = -1;
        int honestLost = 0;
    } settings[] = {{"no limit", "PasswordTries=0\n", {}, -1, 0},
                    {"default limit", "", {}, -1, 0}};
    for (Setting& s : settings) {
        BenchRelay relay;
        if (!relay.Start(s.ini)) return 1;
        // The honest client first: it speaks from the guesser's address.
        s.honestMs = Honest(relay.Port(), 10, s.honestLost);
        s.guessing = Guess(relay.Port());
        relay.Stop();
    }
    std::printf("qln password-guess benchmark: %d guesses per datagram, %u s each\n\n",
                kGuessesPerDatagram, kPhaseMs / 1000);
    Row("measure", settings[0].name, settings[1].name);
    std::printf("|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(20, '-').c_str(),
                std::string(20, '-').c_str());
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
    return 0;
}
