// The NetXCP endpoint's frame walk over any datagram, with a scripted device
// behind it. The datagram arrives on the endpoint's own socket over loopback;
// the reply is checked against a plain model of the relay's rules (frames
// walked, password gating, one privileged command per password, answers
// appended while they fit, the walk ended once no answer can fit, odd
// replies padded).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "agent/netxcp_endpoint.h"
#include "common/resources/message_ids.h"
#include "fuzz/fuzz_support.h"
#include "upslink/link_error.h"
#include "upslink/serial_link.h"
#include "upslink/ups_device.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kPassword[] = "Wopra3";

// What the scripted UPS answers to a frame: nothing, a failure, or some bytes
// made from the frame, long enough now and then to overflow the reply.
enum class Reply { None, Failure, Bytes };

Reply ScriptFor(const uint8_t* frame, Bytes& answer) {
    const uint8_t command = frame[2];
    answer.clear();
    if (command % 7 == 3) return Reply::None;
    if (command % 11 == 5) return Reply::Failure;
    const size_t length = (command * 37u + frame[1]) % 700;
    for (size_t i = 0; i < length; ++i) answer.push_back(static_cast<uint8_t>(command + i));
    return Reply::Bytes;
}

class ScriptedDevice : public UpsDevice {
public:
    explicit ScriptedDevice(SerialLink& link) : UpsDevice(link) {}
    Bytes RelayRequest(const uint8_t* request) override {
        forwarded.emplace_back(request, request + request[1] + 3);
        Bytes answer;
        if (ScriptFor(request, answer) == Reply::Failure) {
            throw new UpsLinkError(MSG_UPS_INVALID_RESPONSE);
        }
        return answer;
    }
    int DeviceKind() override { return 2; }
    void IdentifyUps() override {}
    void PollStatus() override {}

    std::vector<Bytes> forwarded;
};

// The relay's rules, written out plainly.
void Model(const Bytes& in, std::vector<Bytes>& forwarded, Bytes& reply) {
    bool authorised = false;
    size_t pos = 0;
    // Room taken by frames that brought no answer: six bytes each, the
    // shortest answer there is.
    size_t unanswered = 0;
    auto append = [&](const Bytes& a) {
        if (reply.size() + a.size() <= 1172) reply.insert(reply.end(), a.begin(), a.end());
    };
    auto forward = [&](const uint8_t* frame) {
        forwarded.emplace_back(frame, frame + frame[1] + 3);
        Bytes answer;
        const size_t before = reply.size();
        if (ScriptFor(frame, answer) == Reply::Bytes) append(answer);
        if (reply.size() == before) unanswered += 6;
    };
    while (pos + 4 <= in.size() && in[pos] == 0xAB) {
        const size_t length = in[pos + 1] + 3u;
        if (pos + length > in.size()) break;  // cut off by the datagram's end
        const uint8_t* frame = &in[pos];
        const uint8_t command = frame[2];
        const bool toUps = command != 0x00 && command != 0xCF &&
                           (command <= 0x88 || command == 0xCE || authorised);
        if (toUps && reply.size() + unanswered + 6 > 1172) break;  // no answer could fit
        if (command == 0x00) {
            append(Bytes{0x71, 0x6C, 0x6E, 0x00});
        } else if (command == 0xCF) {
            if (frame[1] == 7 && std::memcmp(frame + 3, kPassword, 6) == 0) authorised = true;
        } else if (command == 0xCE) {
            authorised = false;
            forward(frame);
        } else if (command > 0x88) {
            if (authorised) {
                authorised = false;
                forward(frame);
            }
        } else {
            forward(frame);
        }
        pos += length;
    }
    if (reply.size() % 2) reply.push_back(0);
}

struct Rig {
    Rig() : link("", 1200, 8, 2, 0), device(link) {
        // "requested qln" lines would flood the fuzzer's output.
        if (std::freopen("/dev/null", "w", stdout) == nullptr) fuzz::Fail("no /dev/null");
        // Every password frame is compared: no lockout of the one sender,
        // no relay-wide limit.
        NetXcpAccess access;
        access.password = kPassword;
        access.port = 0;
        access.passwordTries = 0;
        access.passwordBudget = 0;
        endpoint.reset(new NetXcpEndpoint(access));
        client = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (client < 0) fuzz::Fail("no client socket");
        to.sin_family = AF_INET;
        to.sin_port = htons(endpoint->LocalPort());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    SerialLink link;
    ScriptedDevice device;
    std::unique_ptr<NetXcpEndpoint> endpoint;
    int client = -1;
    sockaddr_in to{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig rig;
    if (size == 0) return 0;  // an empty datagram is no request
    if (size > 1172) size = 1172;
    const Bytes in(data, data + size);

    rig.device.forwarded.clear();
    if (::sendto(rig.client, data, size, 0, reinterpret_cast<sockaddr*>(&rig.to), sizeof rig.to) !=
        static_cast<ssize_t>(size))
        fuzz::Fail("send failed");
    rig.endpoint->ServeRequest(&rig.device);
    uint8_t buffer[2048];
    ssize_t got = ::recv(rig.client, buffer, sizeof buffer, MSG_DONTWAIT);
    const Bytes reply = got > 0 ? Bytes(buffer, buffer + got) : Bytes();

    std::vector<Bytes> expectedForwarded;
    Bytes expectedReply;
    Model(in, expectedForwarded, expectedReply);
    if (rig.device.forwarded != expectedForwarded)
        fuzz::Fail("frames forwarded differ from the rules");
    if (reply != expectedReply) fuzz::Fail("reply differs from the rules");
    if (::recv(rig.client, buffer, sizeof buffer, MSG_DONTWAIT) > 0)
        fuzz::Fail("more than one reply");
    return 0;
}
