#include "upslink/ups_device.h"

#include <memory>

#include "upslink/link_error.h"
#include "upslink/serial_link.h"

UpsDevice::UpsDevice(SerialLink& link, const UpsIdentity& identity)
    : m_Link(link), m_Identity(identity) {
    // Every device starts as lost until an identification succeeds.
    UpsDevice::ResetIdentity();
}

UpsDevice::~UpsDevice() = default;

void UpsDevice::Identify() {
    try {
        IdentifyUps();
        commsLost = 0;
    } catch (UpsLinkError* e) {
        std::unique_ptr<UpsLinkError> owned(e);
        ResetIdentity();
    }
}

void UpsDevice::Poll() {
    try {
        PollStatus();
        commsLost = 0;
    } catch (UpsLinkError* e) {
        std::unique_ptr<UpsLinkError> owned(e);
        // A lost device stays lost: counting on from -1 would make a failure
        // look like success (0).
        if (commsLost < 0) return;
        if (++commsLost > 5) ResetIdentity();
        return;
    }
    // An open port says nothing about the UPS behind it: a pulled cable or a
    // hung UPS leaves the line quiet, and without this the relay would go on
    // reporting a UPS that answers nothing.
    if (m_nLivenessTries == 0 || QuietMs() < kLivenessQuietMs) {
        m_nUnanswered = 0;
        return;
    }
    try {
        AskForLife();
        m_nUnanswered = 0;
    } catch (UpsLinkError* e) {
        std::unique_ptr<UpsLinkError> owned(e);
        if (++m_nUnanswered >= m_nLivenessTries) {
            m_nUnanswered = 0;
            ResetIdentity();
        }
    }
}

void UpsDevice::CheckLine() {
    if (commsLost < 0) return;
    try {
        m_Link.CheckPort();
    } catch (UpsLinkError* e) {
        std::unique_ptr<UpsLinkError> owned(e);
        ResetIdentity();
    }
}

void UpsDevice::ResetIdentity() {
    m_Versions = "1.1";
    m_nState = 1;
    m_ConfiguredName = m_Identity.name;
    m_AttachedDevices = m_Identity.attachedDevices;
    commsLost = -1;
}
