// The simulated UPS itself, apart from any line: what it answers to the bytes
// it hears, its settings, and the faults it shows on demand. Every setting is
// changed through a control line (see Control), the same words the command
// takes as options.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "upslink/xcp_protocol.h"

class UpsModel {
public:
    UpsModel();

    // One control line, "name arguments". Returns "ok" (with a value for
    // queries) or "error <reason>". Actions that touch the line (unplug,
    // plug, path) belong to the line's owner and are refused here.
    std::string Control(const std::string& line);

    // Bytes the host sent while its line ran at `lineBaud`. What the UPS
    // answers is appended to `out`.
    void Hear(const uint8_t* bytes, size_t count, uint32_t lineBaud, std::vector<uint8_t>& out);
    // Drops a request cut short (nothing more came for a while).
    void ForgetPartial() { m_Pending.clear(); }
    bool HasPartial() const { return !m_Pending.empty(); }

    // The line was opened anew (a DTR drop on a real line): back to the
    // starting speed.
    void LineReopened() { m_nSpeed = m_nStartBaud; }

    // The Plug and Play answer in the configured form; empty when silent.
    std::string PnpAnswer() const;

    uint32_t Speed() const { return m_nSpeed; }
    uint32_t TrickleMs() const { return m_nTrickleMs; }
    // How long the UPS thinks before it answers a request.
    uint32_t DelayMs() const { return m_nDelayMs; }
    uint32_t Count(uint8_t command) const;

private:
    struct Answer {
        bool ack = false;
        uint8_t code = 0;   // acknowledge code
        uint8_t block = 0;  // block number of a data answer
        std::vector<uint8_t> data;
    };

    void HandleRequest(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out);
    Answer AnswerFor(uint8_t command, const std::vector<uint8_t>& data);
    void Emit(uint8_t block, const std::vector<uint8_t>& data, std::vector<uint8_t>& out);
    std::vector<uint8_t> IdentificationBlock() const;

    // Settings.
    std::string m_PnpMode = "normal";
    std::string m_PnpText;
    std::vector<uint32_t> m_Rates{1200, 2400, 19200};
    std::vector<std::pair<int, int>> m_Versions{{1, 0}, {2, 5}};
    std::string m_Model = "Quillon 1500 RT";
    uint8_t m_nStatus = 0x10;
    uint8_t m_nAuthAck = kXcpAckAuthorized;
    uint8_t m_nUnknownAck = kXcpAckUnknownCommand;
    uint32_t m_nBlockSize = 255;
    uint32_t m_nStartBaud = kXcpStartBaud;
    std::map<uint8_t, Answer> m_Answers;

    // Faults.
    bool m_bSilent = false;
    uint32_t m_nSilence = 0, m_nBadSum = 0, m_nBadStart = 0, m_nStray = 0, m_nBusy = 0,
             m_nAck37 = 0, m_nTrickleMs = 0, m_nDelayMs = 0;

    // State.
    uint32_t m_nSpeed = kXcpStartBaud;
    std::vector<uint8_t> m_Pending;
    std::map<uint8_t, uint32_t> m_Counts;
    std::vector<uint8_t> m_LastRequest;
    std::map<uint8_t, std::vector<uint8_t>> m_LastOf;
    uint32_t m_nGarbled = 0;
};
