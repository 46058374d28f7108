// Throughput of the NetXCP endpoint's frame walk: datagrams served per
// second over loopback, with a device that answers at once (no serial line),
// so that the figure is the endpoint's own cost plus one UDP round trip.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "agent/netxcp_endpoint.h"
#include "upslink/serial_link.h"
#include "upslink/ups_device.h"

namespace {

using Bytes = std::vector<uint8_t>;

class InstantDevice : public UpsDevice {
public:
    explicit InstantDevice(SerialLink& link) : UpsDevice(link) {}
    Bytes RelayRequest(const uint8_t*) override {
        return {0xAB, 0x01, 0x05, 0x81, 1, 2, 3, 4, 5, 0};
    }
    int DeviceKind() override { return 2; }
    void IdentifyUps() override {}
    void PollStatus() override {}
};

Bytes Frame(uint8_t command, const Bytes& data = {}) {
    Bytes f;
    f.reserve(data.size() + 4);
    f.push_back(0xAB);
    f.push_back(static_cast<uint8_t>(data.size() + 1));
    f.push_back(command);
    for (uint8_t b : data) f.push_back(b);
    uint8_t sum = 0;
    for (uint8_t b : f) sum = static_cast<uint8_t>(sum + b);
    f.push_back(static_cast<uint8_t>(-sum));
    return f;
}

}  // namespace

int main() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;  // "requested qln" lines
    SerialLink link("", 1200, 8, 2, 0);
    InstantDevice device(link);
    NetXcpEndpoint endpoint("Wopra3", 0);
    int client = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(endpoint.LocalPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    struct Case {
        const char* name;
        Bytes datagram;
    };
    Bytes full, mixed;
    for (int i = 0; i < 293; ++i) {
        Bytes f = Frame(0x00);
        full.insert(full.end(), f.begin(), f.end());
    }
    Bytes pw = Frame(0xCF, Bytes{'W', 'o', 'p', 'r', 'a', '3'});
    mixed.insert(mixed.end(), pw.begin(), pw.end());
    for (int i = 0; i < 10; ++i) {
        Bytes f = Frame(static_cast<uint8_t>(i == 0 ? 0x8A : 0x31));
        mixed.insert(mixed.end(), f.begin(), f.end());
    }
    const Case cases[] = {{"one relay identification (4 bytes)", Frame(0x00)},
                          {"293 relay identifications (1172 bytes)", full},
                          {"password, privileged and 9 forwarded frames", mixed}};

    std::fprintf(stderr, "%-46s %14s %12s\n", "NetXCP frame walk (loopback)", "datagrams/s",
                 "frames/s");
    for (const Case& c : cases) {
        size_t frames = 0;
        for (size_t p = 0; p + 3 < c.datagram.size(); p += c.datagram[p + 1] + 3u) ++frames;
        uint8_t reply[2048];
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        long served = 0;
        std::chrono::duration<double> took{};
        do {
            for (int i = 0; i < 200; ++i) {
                ::sendto(client, c.datagram.data(), c.datagram.size(), 0,
                         reinterpret_cast<sockaddr*>(&to), sizeof to);
                endpoint.ServeRequest(&device);
                (void)::recv(client, reply, sizeof reply, MSG_DONTWAIT);
            }
            served += 200;
            took = Clock::now() - start;
        } while (took.count() < 1.0);
        const double rate = served / took.count();
        std::fprintf(stderr, "%-46s %14.0f %12.0f\n", c.name, rate, rate * frames);
    }
    ::close(client);
    return 0;
}
