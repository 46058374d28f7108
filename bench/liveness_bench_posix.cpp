// How soon the relay notices that its UPS is gone and that it is back, in
// both timings: the port vanishing (an adapter pulled out) and coming back
// under the same name, and a UPS that falls silent with its line open and
// answers again. The clock runs from the fault (or its end) to the agent's
// report on standard error: "UPS communications lost." and "UPS found:",
// written at the moment the status file changes too.
//
//   liveness_bench [--runs N]   (default 1; each run takes about 3 minutes)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_relay_posix.h"
#include "platform/clock.h"
#include "upssim.h"

namespace {

const char* const kLost = "UPS communications lost.";
const char* const kFound = "UPS found:";
constexpr uint32_t kLimitMs = 120000;  // a figure beyond this is "never"

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Milliseconds from now until the agent's standard error holds `what` `count`
// times; -1 when it does not within the limit.
double MsUntil(ChildProcess& agent, const char* what, int count) {
    const uint32_t start = plat::TickCount();
    if (!agent.WaitForText(true, what, count, kLimitMs)) return -1;
    return static_cast<double>(plat::TickCount() - start);
}

struct Figures {
    std::vector<double> portLost, portFound, silentLost, silentFound;
};

// One run of the four faults against one agent in `timing`.
bool Run(const std::string& timing, Figures& figures) {
    UpsSim sim;
    std::string error;
    const std::string link = "/tmp/qln-liveness-bench-" + std::to_string(::getpid());
    if (!sim.Start(error) || !sim.SetLink(link, error)) {
        std::fprintf(stderr, "liveness_bench: %s\n", error.c_str());
        return false;
    }
    BenchRelay relay;
    bool ok = relay.StartAgent("Timing=" + timing + "\n", link);
    if (ok) {
        ChildProcess& agent = relay.Agent();
        const int lost = Count(agent.Err(), kLost);
        const int found = Count(agent.Err(), kFound);
        // The port goes; once the agent has also failed to find it, it
        // comes back.
        sim.Control("unplug");
        figures.portLost.push_back(MsUntil(agent, kLost, lost + 1));
        agent.WaitForText(true, kLost, lost + 2, kLimitMs);
        sim.Control("plug");
        figures.portFound.push_back(MsUntil(agent, kFound, found + 1));
        // The UPS falls silent, then answers again.
        const int lostNow = Count(agent.Err(), kLost);
        sim.Control("silence on");
        figures.silentLost.push_back(MsUntil(agent, kLost, lostNow + 1));
        sim.Control("silence off");
        figures.silentFound.push_back(MsUntil(agent, kFound, found + 2));
    }
    relay.Stop();
    sim.Stop();
    ::unlink(link.c_str());
    return ok;
}

std::string Text(std::vector<double> ms) {
    if (ms.empty()) return "-";
    if (std::find(ms.begin(), ms.end(), -1.0) != ms.end()) return "never (>120 s)";
    std::sort(ms.begin(), ms.end());
    char text[64];
    if (ms.size() == 1) {
        std::snprintf(text, sizeof text, "%.1f s", ms[0] / 1000);
    } else {
        std::snprintf(text, sizeof text, "%.1f / %.1f s", ms[ms.size() / 2] / 1000,
                      ms.back() / 1000);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: liveness_bench [--runs N]\n");
            return 2;
        }
    }
    Figures literal, prompt;
    for (int run = 0; run < runs; ++run) {
        if (!Run("literal", literal) || !Run("prompt", prompt)) return 1;
    }
    std::printf("%d run(s); %s\n\n", runs, runs > 1 ? "median / max" : "one each");
    std::printf("| measure | Timing=literal | Timing=prompt |\n|---|---|---|\n");
    std::printf("| port vanished: reported lost after | %s | %s |\n",
                Text(literal.portLost).c_str(), Text(prompt.portLost).c_str());
    std::printf("| port back: UPS found after | %s | %s |\n", Text(literal.portFound).c_str(),
                Text(prompt.portFound).c_str());
    std::printf("| UPS silent (line open): reported lost after | %s | %s |\n",
                Text(literal.silentLost).c_str(), Text(prompt.silentLost).c_str());
    std::printf("| UPS answers again: found after | %s | %s |\n", Text(literal.silentFound).c_str(),
                Text(prompt.silentFound).c_str());
    return 0;
}
