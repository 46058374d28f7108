#include "upslink/xcp_ups_device.h"

#include "platform/clock.h"
#include "upslink/serial_link.h"
#include "upslink/xcp_identification.h"
#include "upslink/xcp_protocol.h"

namespace {
// Sent before a conversation: whatever the UPS half heard is thrown away.
constexpr uint8_t kEscape = 0x1B;
}  // namespace

XcpUpsDevice::XcpUpsDevice(SerialLink& link, const UpsIdentity& identity)
    : UpsDevice(link, identity), m_pEngine(new XcpEngine(link)) {}

XcpUpsDevice::~XcpUpsDevice() = default;

std::vector<uint8_t> XcpUpsDevice::RelayRequest(const uint8_t* request) {
    return m_pEngine->RelayRequest(request);
}

int XcpUpsDevice::DeviceKind() { return 2; }

void XcpUpsDevice::WriteEscape() {
    m_pEngine->WaitOutGuard();  // a byte to the UPS like any request
    uint32_t written = 0;
    m_Link.Write(&kEscape, 1, written);
    m_Link.Drain(100);
}

void XcpUpsDevice::IdentifyUps() {
    XcpEngine& xcp = *m_pEngine;
    m_Link.SetBaud(kXcpStartBaud);
    WriteEscape();

    // The fastest rate the UPS offers.
    const uint8_t query = 0x00;
    xcp.SendCommand(kXcpCmdCapabilities, &query, 1, kXcpAnswerMs);
    plat::SleepMs(kXcpSettleMs);
    const uint32_t rate = ChooseXcpBaud(xcp.Answer(), xcp.AnswerLength());
    if (rate != 0) {
        const uint8_t change[4] = {0x00, 0x01, static_cast<uint8_t>(rate & 0xFF),
                                   static_cast<uint8_t>(rate >> 8)};
        xcp.SendCommand(kXcpCmdBaudSwitch, change, sizeof change, kXcpAnswerMs);
        plat::SleepMs(kXcpSettleMs);
        m_Link.SetBaud(rate);
    }
    plat::SleepMs(kXcpSettleMs);

    WriteEscape();
    int result = xcp.SendShortCommand(kXcpCmdIdentify, kXcpShortAnswerMs);
    if (result != 0) {
        plat::SleepMs(kXcpSettleMs);
        result = xcp.SendShortCommand(kXcpCmdIdentification, kXcpShortAnswerMs);
    }
    // Only an identification block is read as one; an acknowledge in its
    // place (busy to the end, say) leaves the identity as it was.
    if (result == 0) {
        XcpIdentification id = ParseXcpIdentification(xcp.Answer(), xcp.AnswerLength());
        m_Versions = id.versions;
        SplitModelText(id.modelText, m_FamilyName, m_ModelName);
    }
    plat::SleepMs(kXcpSettleMs);
    RequestStatus();
}

void XcpUpsDevice::RequestStatus() {
    XcpEngine& xcp = *m_pEngine;
    if (!xcp.IsCommandSupported(kXcpCmdStatus)) return;
    xcp.SendCommand(kXcpCmdStatus, nullptr, 0, kXcpAnswerMs);
    m_nState = xcp.AnswerLength() ? UpsStateForStatus(xcp.Answer()[0]) : 1;
}

void XcpUpsDevice::PollStatus() {
    try {
        // The status request alone would never fail while the UPS's commands
        // are unknown (it is not sent then), and a port that has gone away
        // (an adapter pulled out) would be held for good. A failed port fails
        // the poll as a failed request does, so the device is given up after
        // the sixth and the port re-opened by the next detection.
        m_Link.CheckPort();
        RequestStatus();
    } catch (...) {
        m_nState = 1;
        throw;
    }
}

void XcpUpsDevice::AskForLife() {
    // Any sound answer will do, an acknowledge (busy, unknown) as well: what
    // it proves is that something on the line still speaks the protocol.
    const uint8_t query = 0x00;
    m_pEngine->SendCommand(kXcpCmdCapabilities, &query, 1, kXcpAnswerMs);
}
