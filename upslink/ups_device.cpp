#include "upslink/ups_device.h"

#include <memory>

#include "agent/ini_file.h"
#include "agent/qln_exception.h"

UpsDevice::UpsDevice(SerialLink& link, CINIFile& profile) : m_Link(link), m_Profile(profile) {
    // Every device starts as lost until an identification succeeds.
    UpsDevice::ResetIdentity();
}

UpsDevice::~UpsDevice() = default;

void UpsDevice::Identify() {
    try {
        IdentifyUps();
        commsLost = 0;
    } catch (CQLNException* e) {
        std::unique_ptr<CQLNException> owned(e);
        ResetIdentity();
    }
}

void UpsDevice::Poll() {
    try {
        PollStatus();
        commsLost = 0;
    } catch (CQLNException* e) {
        std::unique_ptr<CQLNException> owned(e);
        // A lost device stays lost: counting on from -1 would make a failure
        // look like success (0).
        if (commsLost < 0) return;
        if (++commsLost > 5) ResetIdentity();
    }
}

void UpsDevice::ResetIdentity() {
    m_Versions = "1.1";
    m_nState = 1;
    m_ConfiguredName = m_Profile.GetString("UPSIdent", "Name", "");
    m_AttachedDevices = m_Profile.GetString("UPSIdent", "AttachedDevices", "");
    commsLost = -1;
}
