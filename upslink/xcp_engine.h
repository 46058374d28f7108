// XcpEngine: the XCP protocol on the serial link. Request frames out, answer
// blocks in (checked, gathered, acknowledged), authorization before
// privileged commands, and answers re-framed for the network relay.
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "upslink/xcp_protocol.h"

class SerialLink;

// The sum of `count` bytes, modulo 256, negated: the byte that closes a frame.
uint8_t XcpChecksum(const uint8_t* bytes, uint32_t count);
// The request frame for `command` with `length` data bytes (at most 254).
std::vector<uint8_t> BuildXcpRequest(uint8_t command, const uint8_t* data, uint32_t length);

// The `answered` data bytes of an answer as answer blocks of at most 121
// data bytes each, all carrying `blockNumber`; empty for none. An answer too
// long for one reply datagram raises MSG_UPS_INVALID_RESPONSE.
std::vector<uint8_t> ReframeXcpAnswer(const uint8_t* answer, uint32_t answered,
                                      uint8_t blockNumber);

class XcpEngine {
public:
    explicit XcpEngine(SerialLink& link);
    virtual ~XcpEngine();
    XcpEngine(const XcpEngine&) = delete;
    XcpEngine& operator=(const XcpEngine&) = delete;

    // Whether `command` has to wait for the UPS's authorization first.
    bool NeedsAuthorization(uint8_t command) const;
    static uint8_t ExpectedBlock(uint8_t command) { return XcpAnswerBlock(command); }
    // From the list SetSupportedCommands gave; the null command always is.
    bool IsCommandSupported(uint8_t command) const;

    // Exactly `count` bytes before the deadline, or the time-out exception.
    void ReadExact(void* buffer, uint32_t count);
    // 0 when block `expected` arrived, otherwise the acknowledge code. Each
    // block gets `timeoutMs`; blocks go after the first `held` answer bytes.
    int ReceiveAnswer(uint8_t expected, uint32_t timeoutMs, uint32_t held);
    // Authorizes when needed and retries a busy UPS (three tries). No answer to
    // the null command or the authorization is 0; for others it throws.
    int SendShortCommand(uint8_t command, uint32_t timeoutMs);
    // The same with data; time-outs and bad answers throw.
    int SendCommand(uint8_t command, const uint8_t* data, uint32_t length, uint32_t timeoutMs);
    // The answer re-framed as blocks; empty for an empty answer. `request`
    // is a whole frame: request[1] + 3 bytes.
    std::vector<uint8_t> RelayRequest(const uint8_t* request);

    // The data of the last answer, blocks concatenated.
    const uint8_t* Answer() const { return m_Answer.data(); }
    uint32_t AnswerLength() const { return m_nAnswerLength; }
    bool AuthorizationNeeded() const { return m_bAuthorizationNeeded; }
    // Milliseconds since the UPS last sent a sound answer (a block or an
    // acknowledge, to any request); UINT32_MAX before the first.
    uint32_t QuietMs() const;

    // Literal unless told otherwise; see XcpTiming.
    void SetTiming(XcpTiming timing) { m_Timing = timing; }
    XcpTiming Timing() const { return m_Timing; }
    // In prompt timing, sleeps until kXcpRelayPauseMs have passed since the
    // last answer ended; at once otherwise. Every write to the UPS comes
    // after it.
    void WaitOutGuard();

    // Fills the supported-command list. Nothing in the agent learns the
    // UPS's commands yet; tests use this to exercise the status request.
    void SetSupportedCommands(const uint8_t* commands, uint8_t count);

private:
    // Writes a request frame, after discarding input no request asked for.
    void WriteFrame(const uint8_t* frame, uint32_t count);
    // Reads and drops what is waiting, 64 reads at most.
    void DiscardPending();
    // Records a sound answer as the UPS's proof of life; returns `result`.
    int Answered(int result);
    // Sends the authorization code, then pauses kXcpSettleMs.
    void Authorize();
    // A forwarded frame's answer read in prompt timing.
    int ReceivePromptAnswer(uint8_t expected);

    bool m_bAuthorizationNeeded = true;
    XcpTiming m_Timing = XcpTiming::kLiteral;
    // When the last read of an answer ended (tick count), for the guard.
    bool m_bAnswerSeen = false;
    std::chrono::steady_clock::time_point m_AnswerEnd;
    // When the last sound answer ended: the UPS's proof of life.
    bool m_bAnswered = false;
    std::chrono::steady_clock::time_point m_LastAnswer;
    // Prompt reads of a forwarded frame: no block's deadline comes before
    // this tick plus the block's time, as if the lead had been waited.
    bool m_bReadFloor = false;
    uint32_t m_nReadFloor = 0;
    uint8_t m_nSupportedCount = 0;
    uint32_t m_nAnswerLength = 0;
    std::unique_ptr<uint8_t[]> m_pSupported;
    std::vector<uint8_t> m_Answer;
    SerialLink& m_Link;
};
