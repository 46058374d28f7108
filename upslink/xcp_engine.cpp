#include "upslink/xcp_engine.h"

#include <chrono>
#include <cstring>

#include "common/resources/message_ids.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "upslink/link_error.h"
#include "upslink/serial_link.h"

namespace {

[[noreturn]] void Fail(uint32_t id) { throw new UpsLinkError(id); }

}  // namespace

uint8_t XcpChecksum(const uint8_t* bytes, uint32_t count) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(0x100 - sum);
}

std::vector<uint8_t> BuildXcpRequest(uint8_t command, const uint8_t* data, uint32_t length) {
    if (length > kXcpMaxRequestData) Fail(plat::kErrInvalidParameter);
    std::vector<uint8_t> frame(length + 4);
    frame[0] = kXcpStart;
    frame[1] = static_cast<uint8_t>(length + 1);
    frame[2] = command;
    if (length) std::memcpy(&frame[3], data, length);
    frame[length + 3] = XcpChecksum(frame.data(), length + 3);
    return frame;
}

XcpEngine::XcpEngine(SerialLink& link) : m_Link(link) {}

XcpEngine::~XcpEngine() = default;

bool XcpEngine::NeedsAuthorization(uint8_t command) const {
    if (command == kXcpCmdNull || command == kXcpCmdCancelAuthorization ||
        command == kXcpCmdAuthorize)
        return false;
    return m_bAuthorizationNeeded && command > kXcpLastUnauthorizedCommand;
}

bool XcpEngine::IsCommandSupported(uint8_t command) const {
    if (command == kXcpCmdNull) return true;
    for (uint8_t i = 0; i < m_nSupportedCount; ++i)
        if (m_pSupported[i] == command) return true;
    return false;
}

void XcpEngine::SetSupportedCommands(const uint8_t* commands, uint8_t count) {
    std::unique_ptr<uint8_t[]> list(count ? new uint8_t[count] : nullptr);
    if (count) std::memcpy(list.get(), commands, count);
    m_pSupported = std::move(list);
    m_nSupportedCount = count;
}

void XcpEngine::ReadExact(void* buffer, uint32_t count) {
    uint8_t* at = static_cast<uint8_t*>(buffer);
    uint32_t missing = count;
    while (missing != 0) {
        uint32_t got = 0;
        m_Link.Read(at, missing, got);
        at += got;
        missing -= got;
        if (missing == 0) break;
        if (m_Link.DeadlinePassed()) Fail(MSG_UPS_TIMEOUT);
        // The port's reads return at once; block on its readiness instead of
        // spinning until the deadline.
        if (got == 0) m_Link.WaitReadable(m_Link.DeadlineRemaining() + 1);
    }
}

namespace {

// Marks the end of a read of an answer however it ends (an answer, a bad
// one, none): the guard counts from there. The steady clock, not the tick
// count: on Windows (and under Wine) the tick count moves in steps of about
// 16 ms, which could cut the guard short by as much.
class AnswerEnd {
public:
    AnswerEnd(bool& seen, std::chrono::steady_clock::time_point& end) : m_Seen(seen), m_End(end) {}
    ~AnswerEnd() {
        m_Seen = true;
        m_End = std::chrono::steady_clock::now();
    }
    AnswerEnd(const AnswerEnd&) = delete;
    AnswerEnd& operator=(const AnswerEnd&) = delete;

private:
    bool& m_Seen;
    std::chrono::steady_clock::time_point& m_End;
};

}  // namespace

void XcpEngine::WaitOutGuard() {
    if (m_Timing != XcpTiming::kPrompt || !m_bAnswerSeen) return;
    const auto guardEnd = m_AnswerEnd + std::chrono::milliseconds(kXcpRelayPauseMs);
    // A sleep may end a little early on some systems: sleep again for what is
    // left.
    for (;;) {
        const auto left = guardEnd - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        plat::SleepMs(static_cast<uint32_t>(ms));
    }
}

int XcpEngine::Answered(int result) {
    m_bAnswered = true;
    m_LastAnswer = std::chrono::steady_clock::now();
    return result;
}

uint32_t XcpEngine::QuietMs() const {
    if (!m_bAnswered) return UINT32_MAX;
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - m_LastAnswer)
                           .count();
    return quiet >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(quiet);
}

int XcpEngine::ReceiveAnswer(uint8_t expected, uint32_t timeoutMs, uint32_t held) {
    AnswerEnd end(m_bAnswerSeen, m_AnswerEnd);
    if (held == 0) {
        m_Answer.clear();
        m_nAnswerLength = 0;
    }
    uint32_t strays = 0;
    uint32_t blocks = 0;
    for (;;) {
        // Every block gets the full time; a prompt read of a forwarded frame
        // also keeps the lead that literal timing would have waited first.
        uint32_t wait = timeoutMs;
        if (m_bReadFloor) {
            const uint32_t now = plat::TickCount();
            if (!DeadlineExpired(m_nReadFloor, now)) wait += m_nReadFloor - now;
        }
        m_Link.SetDeadline(wait);
        uint8_t header[4];
        ReadExact(header, sizeof header);
        if (header[0] != kXcpStart) Fail(MSG_UPS_INVALID_RESPONSE);
        const uint32_t n = header[2];
        m_Answer.resize(held + n);
        if (n) ReadExact(&m_Answer[held], n);
        uint8_t check = 0;
        ReadExact(&check, 1);
        // Sound when header, data and checksum add up to 0 modulo 256.
        uint8_t total = check;
        for (uint8_t b : header) total = static_cast<uint8_t>(total + b);
        for (uint32_t i = 0; i < n; ++i) total = static_cast<uint8_t>(total + m_Answer[held + i]);
        if (total != 0) Fail(MSG_UPS_INVALID_RESPONSE);
        held += n;
        m_nAnswerLength = held;

        if ((header[3] & kXcpLastBlockMark) == 0) {
            // More blocks follow; an answer that never ends is not one.
            if (++blocks >= kXcpMaxBlocks) Fail(MSG_UPS_INVALID_RESPONSE);
            continue;
        }
        if (header[1] == expected) return Answered(0);
        if (header[1] == kXcpAckBlock) {
            // An acknowledge without its code is no answer at all.
            if (m_nAnswerLength == 0) Fail(MSG_UPS_INVALID_RESPONSE);
            return Answered(m_Answer[0] == kXcpAckDone ? kXcpAckAccepted : m_Answer[0]);
        }
        // The last block of some other answer: drop what was gathered and
        // wait again, but not for ever.
        if (++strays > kXcpMaxStrayAnswers) Fail(MSG_UPS_INVALID_RESPONSE);
        held = 0;
        blocks = 0;
        m_Answer.clear();
        m_nAnswerLength = 0;
    }
}

void XcpEngine::WriteFrame(const uint8_t* frame, uint32_t count) {
    WaitOutGuard();
    DiscardPending();
    uint32_t written = 0;
    m_Link.Write(frame, count, written);
}

// Bytes still waiting from an earlier answer (the rest of a block given up on
// as invalid, an answer that came after its time) belong to no request sent
// from here on. Left in place they would be read as the start of the next
// answer and spoil it as well, and so on for every request after it.
void XcpEngine::DiscardPending() {
    uint8_t scratch[256];
    for (int i = 0; i < 64; ++i) {  // a line that never falls quiet is left to the deadline
        uint32_t got = 0;
        m_Link.Read(scratch, sizeof scratch, got);
        if (got == 0) return;
    }
}

void XcpEngine::Authorize() {
    SendShortCommand(kXcpCmdAuthorize, kXcpShortAnswerMs);
    plat::SleepMs(kXcpSettleMs);
}

int XcpEngine::SendShortCommand(uint8_t command, uint32_t timeoutMs) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (NeedsAuthorization(command)) Authorize();
        int result = 0;
        if (command == kXcpCmdNull || command == kXcpCmdAuthorize) {
            // A plain wait and the authorization: no answer, or a bad one,
            // counts as none.
            if (command == kXcpCmdAuthorize) {
                std::vector<uint8_t> frame = BuildXcpRequest(
                    kXcpCmdAuthorize, kXcpAuthorizationCode, sizeof kXcpAuthorizationCode);
                WriteFrame(frame.data(), static_cast<uint32_t>(frame.size()));
            }
            try {
                result = ReceiveAnswer(ExpectedBlock(command), timeoutMs, 0);
            } catch (UpsLinkError* e) {
                delete e;
                result = 0;
            }
            if (result == kXcpAckAuthorized) m_bAuthorizationNeeded = false;
        } else {
            std::vector<uint8_t> frame = BuildXcpRequest(command, nullptr, 0);
            WriteFrame(frame.data(), static_cast<uint32_t>(frame.size()));
            result = ReceiveAnswer(ExpectedBlock(command), kXcpAnswerMs, 0);
        }
        if (result != kXcpAckBusy) return result;
    }
    return kXcpAckBusy;
}

int XcpEngine::SendCommand(uint8_t command, const uint8_t* data, uint32_t length,
                           uint32_t timeoutMs) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (NeedsAuthorization(command)) Authorize();
        {
            std::vector<uint8_t> frame = BuildXcpRequest(command, data, length);
            WriteFrame(frame.data(), static_cast<uint32_t>(frame.size()));
        }
        int result = ReceiveAnswer(ExpectedBlock(command), timeoutMs, 0);
        if (result != kXcpAckBusy) return result;
    }
    return kXcpAckBusy;
}

std::vector<uint8_t> ReframeXcpAnswer(const uint8_t* answer, uint32_t answered,
                                      uint8_t blockNumber) {
    const uint32_t blocks = (answered + kXcpRelayBlockData - 1) / kXcpRelayBlockData;
    const uint32_t total = answered + kXcpBlockOverhead * blocks;
    if (total > kNetXcpMaxDatagram) Fail(MSG_UPS_INVALID_RESPONSE);
    std::vector<uint8_t> out(total);
    uint32_t taken = 0;
    for (uint32_t k = 0; k < blocks; ++k) {
        uint8_t* block = out.data() + kXcpRelayBlockSize * k;
        const uint32_t n =
            answered - taken < kXcpRelayBlockData ? answered - taken : kXcpRelayBlockData;
        block[0] = kXcpStart;
        block[1] = blockNumber;
        block[2] = static_cast<uint8_t>(n);
        block[3] = static_cast<uint8_t>((k + 1) | (k + 1 == blocks ? kXcpLastBlockMark : 0));
        std::memcpy(block + 4, answer + taken, n);
        block[4 + n] = XcpChecksum(block, 4 + n);
        taken += n;
    }
    return out;
}

// Prompt timing reads a forwarded frame's answer from the moment of the write.
// Each block's deadline is the answer time counted from the later of the
// block's start and the end of the lead literal timing would have waited: a
// one-block answer has the lead and the deadline from the write, and a
// longer one exactly the time literal timing gives it, so no answer that
// literal timing takes is refused, while one that is done returns at once.
int XcpEngine::ReceivePromptAnswer(uint8_t expected) {
    m_nReadFloor = plat::TickCount() + kXcpRelayLeadMs;
    m_bReadFloor = true;
    try {
        const int result = ReceiveAnswer(expected, kXcpAnswerMs, 0);
        m_bReadFloor = false;
        return result;
    } catch (...) {
        m_bReadFloor = false;
        throw;
    }
}

std::vector<uint8_t> XcpEngine::RelayRequest(const uint8_t* request) {
    const uint8_t command = request[2];
    const bool prompt = m_Timing == XcpTiming::kPrompt;
    if (NeedsAuthorization(command)) Authorize();
    WriteFrame(request, static_cast<uint32_t>(request[1]) + 3);
    int result = 0;
    if (prompt) {
        result = ReceivePromptAnswer(ExpectedBlock(command));
    } else {
        plat::SleepMs(kXcpRelayLeadMs);
        result = ReceiveAnswer(ExpectedBlock(command), kXcpAnswerMs, 0);
    }

    const uint8_t blockNumber = result != 0 ? static_cast<uint8_t>(result) : ExpectedBlock(command);
    std::vector<uint8_t> out = ReframeXcpAnswer(m_Answer.data(), m_nAnswerLength, blockNumber);
    // Prompt timing leaves the pause to the guard before the next write.
    if (!prompt) plat::SleepMs(kXcpRelayPauseMs);
    return out;
}
