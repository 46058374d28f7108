// netxcp: sends NetXCP requests to a relay agent and shows the answer.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/product_names.h"
#include "tools/netxcp/netxcp_client.h"
#include "tools/netxcp/netxcp_decode.h"

namespace {

constexpr int kExitAnswered = 0;
constexpr int kExitNoAnswer = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSocket = 3;

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "netxcp: %s\n", problem);
    std::fprintf(
        stderr,
        "Usage: netxcp [-h host] [-p port] [-w password] [-t ms] [-x] request...\n"
        "  request    relay | ident | status | caps | cmd:XX[,DATA] | hex bytes (sent as given)\n"
        "             several requests go out as one datagram, in order\n"
        "  -h host    agent host (default 127.0.0.1)\n"
        "  -p port    agent port (default %u)\n"
        "  -w pass    put a password frame first (admits one privileged command)\n"
        "  -t ms      how long to wait for the answer (default 5000)\n"
        "  -x         print the answer in hex only\n"
        "Exit status: 0 answered, 1 no answer in time, 2 bad arguments, 3 socket failure.\n",
        static_cast<unsigned>(plat::kAgentDefaultPort));
    return kExitUsage;
}

bool ParseNumber(const char* text, unsigned long max, unsigned long& out) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || v > max) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    unsigned long port = plat::kAgentDefaultPort, timeoutMs = 5000;
    bool hexOnly = false;
    ByteString datagram;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--help") return Usage(nullptr);
        if (a == "-h" || a == "-p" || a == "-w" || a == "-t") {
            if (!hasValue) return Usage(("option " + a + " needs a value").c_str());
            const char* v = argv[++i];
            if (a == "-h") {
                host = v;
            } else if (a == "-p") {
                if (!ParseNumber(v, 65535, port) || port == 0) return Usage("bad port");
            } else if (a == "-t") {
                if (!ParseNumber(v, 3600000, timeoutMs)) return Usage("bad time-out");
            } else {
                ByteString f = PasswordFrame(v);
                datagram.insert(datagram.end(), f.begin(), f.end());
            }
        } else if (a == "-x") {
            hexOnly = true;
        } else {
            std::string error;
            if (!ParseRequestWord(a, datagram, error)) return Usage(error.c_str());
        }
    }
    if (datagram.empty()) return Usage("no request given");

    try {
        NetXcpClient client(host, static_cast<uint16_t>(port));
        if (!hexOnly)
            std::printf("sent %zu bytes: %s\n", datagram.size(), HexText(datagram).c_str());
        std::fflush(stdout);
        uint32_t start = plat::TickCount();
        if (client.Send(datagram) < 0) {
            std::fprintf(stderr, "netxcp: could not send to %s:%lu\n", host.c_str(), port);
            return kExitSocket;
        }
        ByteString answer;
        if (!client.Receive(answer, static_cast<uint32_t>(timeoutMs))) {
            std::fprintf(stderr, "netxcp: no answer from %s:%lu within %lu ms\n", host.c_str(),
                         port, timeoutMs);
            return kExitNoAnswer;
        }
        uint32_t elapsed = plat::TickCount() - start;
        if (hexOnly) {
            std::printf("%s\n", HexText(answer).c_str());
            return kExitAnswered;
        }
        std::printf("answer %zu bytes after %u ms: %s\n", answer.size(), elapsed,
                    HexText(answer).c_str());
        for (const std::string& line : DecodeAnswer(answer, datagram)) {
            std::printf("  %s\n", line.c_str());
        }
        return kExitAnswered;
    } catch (brx::CCommunicationsExceptionObject* failure) {
        std::unique_ptr<brx::CCommunicationsExceptionObject> owned(failure);
        std::fprintf(stderr, "netxcp: socket failure %d with %s:%lu (unknown host?)\n",
                     owned->GetIdentifier(), host.c_str(), port);
        return kExitSocket;
    } catch (const brx::CCommunicationsExceptionObject& failure) {
        std::fprintf(stderr, "netxcp: the socket library did not start (%d)\n",
                     failure.GetIdentifier());
        return kExitSocket;
    }
}
