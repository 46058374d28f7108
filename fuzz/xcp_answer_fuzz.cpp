// XCP answer gathering and re-framing over whatever bytes the "UPS" sends.
// The first input byte is the command whose answer is awaited; the rest is
// the line. A gathered answer is re-framed as the relay does it, and the
// blocks are checked to carry exactly the gathered data.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/scripted_port.h"
#include "upslink/link_error.h"
#include "upslink/serial_link.h"
#include "upslink/xcp_engine.h"

namespace {

void CheckReframed(const uint8_t* answer, uint32_t answered, uint8_t blockNumber) {
    std::vector<uint8_t> out;
    try {
        out = ReframeXcpAnswer(answer, answered, blockNumber);
    } catch (UpsLinkError* e) {
        delete e;
        if (answered + 5 * ((answered + 120) / 121) <= 1172) fuzz::Fail("a fitting answer refused");
        return;
    }
    const uint32_t total = static_cast<uint32_t>(out.size());
    if (total > 1172) fuzz::Fail("re-framed answer over 1172 bytes");
    uint32_t at = 0, taken = 0, k = 0;
    while (at < total) {
        const uint8_t* b = out.data() + at;
        const uint32_t n = b[2];
        if (at + n + 5 > total) fuzz::Fail("block runs past the end");
        if (b[0] != 0xAB || b[1] != blockNumber) fuzz::Fail("block header wrong");
        ++k;
        const bool last = at + n + 5 == total;
        if (b[3] != static_cast<uint8_t>(k | (last ? 0x80 : 0))) fuzz::Fail("sequence byte wrong");
        uint8_t sum = 0;
        for (uint32_t i = 0; i < n + 5; ++i) sum = static_cast<uint8_t>(sum + b[i]);
        if (sum != 0) fuzz::Fail("block checksum wrong");
        if (taken + n > answered || std::memcmp(b + 4, answer + taken, n) != 0)
            fuzz::Fail("block data differ from the answer");
        taken += n;
        at += n + 5;
    }
    if (taken != answered) fuzz::Fail("answer data lost in re-framing");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t command = data[0];
    // An exact-size copy, so that a read past the line's end shows.
    std::unique_ptr<uint8_t[]> line(new uint8_t[size - 1 ? size - 1 : 1]);
    if (size > 1) std::memcpy(line.get(), data + 1, size - 1);
    fuzz::ScriptPort(line.get(), size - 1);

    static SerialLink* link = [] {
        auto* l = new SerialLink("fuzz", 9600, 8, 2, 0);
        l->Open();
        return l;
    }();
    XcpEngine engine(*link);
    try {
        const int result = engine.ReceiveAnswer(XcpEngine::ExpectedBlock(command), 1500, 0);
        if (engine.AnswerLength() == 0 && result != 0) fuzz::Fail("acknowledge without its code");
        const uint8_t block =
            result != 0 ? static_cast<uint8_t>(result) : XcpEngine::ExpectedBlock(command);
        CheckReframed(engine.Answer(), engine.AnswerLength(), block);
    } catch (UpsLinkError* e) {
        // A time-out, an invalid answer or the port's end: all the same here.
        delete e;
    }
    return 0;
}
