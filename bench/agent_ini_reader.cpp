// Throughput of the agent's INI reader (CINIFile): every read opens the file
// and scans it from the top, so the figure depends on where the entry lies.
// Prints reads per second for the agent's own file and for a large one.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "agent/ini_file.h"

namespace {

template <typename Fn>
double ReadsPerSecond(double seconds, Fn fn) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    long count = 0;
    std::chrono::duration<double> took{};
    do {
        for (int i = 0; i < 100; ++i) fn();
        count += 100;
        took = Clock::now() - start;
    } while (took.count() < seconds);
    return count / took.count();
}

}  // namespace

int main() {
    const std::string small = "/tmp/qln-bench-agent-" + std::to_string(::getpid()) + ".ini";
    const std::string large = "/tmp/qln-bench-large-" + std::to_string(::getpid()) + ".ini";
    std::ofstream(small)
        << "[Communications]\nCommunicationsBaudRate=19200\nCommunicationsPort=COM2:\n"
           "[Network]\nPasswd= 12 34 56 78 90 12 34 56\n[NetXCP]\nAgentPort=7010\n"
           "[UPSIdent]\nName=Rack 4\nAttachedDevices=Server 1, Server 2\n";
    {
        std::ofstream out(large);
        for (int s = 0; s < 200; ++s) {
            out << "[Section" << s << "]\n";
            for (int k = 0; k < 20; ++k) out << "Key" << k << "=value " << s << "." << k << "\n";
        }
    }

    CINIFile agent(small.c_str());
    CINIFile big(large.c_str());
    volatile int sink = 0;
    const double first = ReadsPerSecond(
        1.0, [&] { sink += agent.GetInt("Communications", "CommunicationsBaudRate", 0); });
    const double last = ReadsPerSecond(1.0, [&] {
        sink += static_cast<int>(agent.GetString("UPSIdent", "AttachedDevices", "").size());
    });
    const double missing =
        ReadsPerSecond(1.0, [&] { sink += agent.GetInt("Nowhere", "Nothing", 1); });
    const double deep = ReadsPerSecond(
        1.0, [&] { sink += static_cast<int>(big.GetString("Section199", "Key19", "").size()); });
    std::remove(small.c_str());
    std::remove(large.c_str());

    std::printf("%-44s %12s\n", "agent INI reader (CINIFile)", "reads/s");
    std::printf("%-44s %12.0f\n", "first entry of the agent's file", first);
    std::printf("%-44s %12.0f\n", "last entry of the agent's file", last);
    std::printf("%-44s %12.0f\n", "missing section (whole file scanned)", missing);
    std::printf("%-44s %12.0f\n", "last entry of 200 sections x 20 keys", deep);
    return 0;
}
