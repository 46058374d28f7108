// UpsDevice: the UPS as the worker loop and the NetXCP relay know it.
#pragma once
#include <cstdint>
#include <string>

#include "upslink/xcp_protocol.h"

class SerialLink;
class CINIFile;

class UpsDevice {
public:
    UpsDevice(SerialLink& link, CINIFile& profile);
    virtual ~UpsDevice();
    UpsDevice(const UpsDevice&) = delete;
    UpsDevice& operator=(const UpsDevice&) = delete;

    // Passes one request frame to the UPS; a new buffer (delete[]) with the
    // answer re-framed as XCP blocks, or null; its length through `length`.
    virtual uint8_t* RelayRequest(const uint8_t* request, uint32_t& length) = 0;
    // The protocol family: 2 for XCP.
    virtual int DeviceKind() = 0;
    // How requests are paced; devices without that choice ignore it.
    virtual void SetTiming(XcpTiming) {}
    // IdentifyUps without throwing: success marks the device communicating,
    // failure resets its identity (lost).
    virtual void Identify();
    // PollStatus without throwing: after six failures in a row the device is lost.
    virtual void Poll();
    // Throw a new CQLNException when the UPS does not answer.
    virtual void IdentifyUps() = 0;
    virtual void PollStatus() = 0;
    // Back to the configured name and devices, state 1, communication lost.
    virtual void ResetIdentity();

    // 0 communicating, 1 to 5 failed polls, -1 communication lost.
    int32_t commsLost = -1;

protected:
    SerialLink& m_Link;
    CINIFile& m_Profile;

public:
    std::string m_FamilyName;
    std::string m_ModelName;
    std::string m_Versions;
    int32_t m_nState = 1;
    std::string m_ConfiguredName;
    std::string m_AttachedDevices;
};

// A new device (the caller deletes it) on `link`; nothing is sent to the UPS yet.
UpsDevice* CreateUpsDevice(SerialLink& link, CINIFile& profile);
UpsDevice* DetectUps(SerialLink& link, CINIFile& profile);
