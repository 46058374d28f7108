// upssim: a simulated XCP UPS on a pseudo-terminal, for the demo and for
// tests that run the agent as a separate program.
//
//   upssim [--link PATH] [--verbose] [--NAME VALUE]...
//
// It prints the slave side's path on the first line of standard output, then
// reads control lines on standard input and answers each with one line,
// "ok [value]" or "error <reason>". Every --NAME VALUE option is the control
// line "NAME VALUE" given before the line opens. It ends on "quit", SIGINT or
// SIGTERM; the end of standard input leaves it running.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "upssim.h"

namespace {

int g_StopPipe[2] = {-1, -1};

void OnSignal(int) {
    char c = 1;
    (void)!::write(g_StopPipe[1], &c, 1);
}

const char kUsage[] =
    "usage: upssim [--link PATH] [--verbose] [--NAME VALUE]...\n"
    "Prints the pseudo-terminal's path, then takes control lines on standard input.\n"
    "Settings:  pnp normal|sixbit|none   pnp-text TEXT   rates 1200,2400,19200\n"
    "           versions 1.0,2.5|-   model TEXT   status HEX   auth-ack HEX\n"
    "           unknown-ack HEX   answer CMD BLOCK HEXDATA|-   ack CMD CODE   clear CMD\n"
    "           block-size N   baud N\n"
    "Faults:    silence on|off|N   badsum N   badstart N   stray N   busy N   ack37 N\n"
    "           trickle MS   delay MS   unplug   plug   reset\n"
    "Queries:   count CMD   speed   line   opens   garbled   last [CMD]   path   gap [reset]\n"
    "Other:     verbose on|off   quit\n";

}  // namespace

int main(int argc, char** argv) {
    UpsSim sim;
    std::string link;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--verbose") {
            sim.Control("verbose on");
            continue;
        }
        if (arg.compare(0, 2, "--") != 0 || i + 1 >= argc) {
            std::fprintf(stderr, "upssim: unexpected argument %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
        std::string value = argv[++i];
        if (arg == "--link") {
            link = value;
            continue;
        }
        std::string answer = sim.Control(arg.substr(2) + " " + value);
        if (answer.compare(0, 2, "ok") != 0) {
            std::fprintf(stderr, "upssim: %s\n", answer.c_str());
            return 2;
        }
    }

    std::string error;
    if (::pipe(g_StopPipe) != 0 || !sim.Start(error)) {
        std::fprintf(stderr, "upssim: %s\n", error.empty() ? std::strerror(errno) : error.c_str());
        return 1;
    }
    if (!link.empty() && !sim.SetLink(link, error)) {
        std::fprintf(stderr, "upssim: %s\n", error.c_str());
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", sim.SlavePath().c_str());
    std::fflush(stdout);

    bool input = true;
    std::string pending;
    for (;;) {
        pollfd p[2] = {{g_StopPipe[0], POLLIN, 0}, {input ? 0 : -1, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
        if (p[0].revents) break;
        if (!p[1].revents) continue;
        char buf[256];
        ssize_t n = ::read(0, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            input = false;  // keep answering the line until told to stop
            continue;
        }
        pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        bool quit = false;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line == "quit") {
                quit = true;
                break;
            }
            std::printf("%s\n", sim.Control(line).c_str());
            std::fflush(stdout);
        }
        if (quit) break;
    }
    sim.Stop();
    return 0;
}
