// XcpUpsDevice: the UPS that speaks XCP, through its own protocol engine on
// the device's serial link.
#pragma once
#include "upslink/ups_device.h"
#include "upslink/xcp_engine.h"

class XcpUpsDevice : public UpsDevice {
public:
    XcpUpsDevice(SerialLink& link, const UpsIdentity& identity);
    ~XcpUpsDevice() override;

    std::vector<uint8_t> RelayRequest(const uint8_t* request) override;
    int DeviceKind() override;
    void SetTiming(XcpTiming timing) override { m_pEngine->SetTiming(timing); }
    void IdentifyUps() override;
    void PollStatus() override;
    uint32_t QuietMs() const override { return m_pEngine->QuietMs(); }
    // The communication capabilities query: every identification began with it.
    void AskForLife() override;

    XcpEngine& Engine() { return *m_pEngine; }

private:
    // Sends the escape byte and drains the line for 100 ms.
    void WriteEscape();
    // Only when the UPS listed the status command; state 1 for an empty answer.
    void RequestStatus();

    std::unique_ptr<XcpEngine> m_pEngine;
};
