// UpsDevice: the UPS as the worker loop and the NetXCP relay know it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "upslink/xcp_protocol.h"

class SerialLink;

// What the settings say of the UPS (the agent reads them once, at start): its
// name and the devices it feeds. A device starts with them and goes back to
// them at every loss.
struct UpsIdentity {
    std::string name;
    std::string attachedDevices;
};

class UpsDevice {
public:
    explicit UpsDevice(SerialLink& link, const UpsIdentity& identity = UpsIdentity());
    virtual ~UpsDevice();
    UpsDevice(const UpsDevice&) = delete;
    UpsDevice& operator=(const UpsDevice&) = delete;

    // Passes one request frame to the UPS; its answer re-framed as XCP
    // blocks, empty for none.
    virtual std::vector<uint8_t> RelayRequest(const uint8_t* request) = 0;
    // The protocol family: 2 for XCP.
    virtual int DeviceKind() = 0;
    // How requests are paced; devices without that choice ignore it.
    virtual void SetTiming(XcpTiming) {}
    // IdentifyUps without throwing: success marks the device communicating,
    // failure resets its identity (lost).
    virtual void Identify();
    // PollStatus without throwing: after six failures in a row the device is
    // lost. With the liveness check on, a UPS that has sent no sound answer
    // for kLivenessQuietMs is then asked something it must answer
    // (AskForLife); after `livenessTries` unanswered asks in a row it is lost.
    virtual void Poll();
    // Proof of life: unanswered asks in a row that lose the UPS; 0 turns the
    // check off.
    void SetLiveness(uint32_t tries) { m_nLivenessTries = tries; }
    // Whether the last ask went unanswered: the caller may ask again sooner
    // than its poll cadence.
    bool InDoubt() const { return m_nUnanswered != 0; }
    // A port that has gone (hung up, pulled out) loses the device at once.
    void CheckLine();
    // Throw a new UpsLinkError (upslink/link_error.h) when the UPS does not answer.
    virtual void IdentifyUps() = 0;
    virtual void PollStatus() = 0;
    // Milliseconds since the UPS last answered anything; 0 where the device
    // cannot tell, which never asks.
    virtual uint32_t QuietMs() const { return 0; }
    // Sends a request the UPS must answer; throws a new UpsLinkError when no
    // sound answer comes.
    virtual void AskForLife() {}
    // Back to the identity it was made with, state 1, communication lost.
    virtual void ResetIdentity();

    // 0 communicating, 1 to 5 failed polls, -1 communication lost.
    int32_t commsLost = -1;

    // A UPS that answered within this long needs no ask: at the poll cadence
    // (every 2.5 s) an idle UPS is asked at every poll.
    static constexpr uint32_t kLivenessQuietMs = 2000;

protected:
    SerialLink& m_Link;
    const UpsIdentity m_Identity;

public:
    std::string m_FamilyName;
    std::string m_ModelName;
    std::string m_Versions;
    int32_t m_nState = 1;
    std::string m_ConfiguredName;
    std::string m_AttachedDevices;

private:
    uint32_t m_nLivenessTries = 0;
    uint32_t m_nUnanswered = 0;
};

// A new device (the caller deletes it) on `link`; nothing is sent to the UPS yet.
UpsDevice* CreateUpsDevice(SerialLink& link, const UpsIdentity& identity);
UpsDevice* DetectUps(SerialLink& link, const UpsIdentity& identity);
