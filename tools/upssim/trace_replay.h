// Replaying the UPS side of a wire trace (see upslink/wire_trace.h): what the
// host writes is matched against the requests of the trace, and the UPS
// bytes that followed the matching request in the trace are the answer. So a
// UPS recorded at a customer's site can be brought up on a pseudo-terminal.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TraceReplay {
public:
    // One request the host wrote (the bytes between two UPS answers) and
    // everything the UPS sent after it, at the line settings of the time. An
    // empty request holds bytes the UPS sent unasked (the Plug and Play
    // identification at 7 data bits).
    struct Exchange {
        uint32_t baud = 0;
        uint32_t dataBits = 8;
        std::vector<uint8_t> request;
        std::vector<uint8_t> answer;
    };

    // A trace the agent writes stays under twice its TraceLimit; the default
    // limit is 10 MiB. A file larger than this is not read at all.
    static constexpr uint64_t kMaxTraceBytes = 64ull * 1024 * 1024;

    // Reads the trace; false with "line N: why" (or the system's reason)
    // for a file that is not a trace or holds no UPS bytes at all, and for
    // anything but a regular file of at most kMaxTraceBytes.
    bool Load(const std::string& path, std::string& error);
    // The same from text, for tests.
    bool Parse(const std::string& text, std::string& error);

    // Bytes the host sent at `lineBaud`; the recorded answers go to `out`.
    // Matching takes the next recorded request in order when it fits, and
    // otherwise looks the bytes up anywhere in the trace (from the current
    // place on, then from the start), so a host that asks in another order
    // or repeats itself is still answered as the UPS answered it.
    void Hear(const uint8_t* bytes, size_t count, uint32_t lineBaud, std::vector<uint8_t>& out);
    bool HasPartial() const { return !m_Pending.empty(); }
    // Drops the start of a request that never came in full.
    void ForgetPartial() { m_Pending.clear(); }

    // The recorded Plug and Play identification; empty when the trace holds none.
    std::string PnpAnswer() const;

    const std::vector<Exchange>& Exchanges() const { return m_Exchanges; }
    uint32_t Answered() const { return m_nAnswered; }
    // Bytes of the host that matched no recorded request.
    uint32_t Unmatched() const { return m_nUnmatched; }

private:
    // The recorded request that `m_Pending` starts with, -1 when none.
    long Match(uint32_t lineBaud) const;
    // The next recorded request in order, -1 past the last.
    long NextRequest() const;
    // Whether `m_Pending` is the start of `e`'s longer request.
    bool StartsRequest(const Exchange& e, uint32_t lineBaud) const;
    bool StartsSomeRequest(uint32_t lineBaud) const;

    std::vector<Exchange> m_Exchanges;
    size_t m_nNext = 0;  // where in-order matching goes on
    std::vector<uint8_t> m_Pending;
    uint32_t m_nAnswered = 0;
    uint32_t m_nUnmatched = 0;
};
