// The device's bookkeeping: the identity it is given, and how failed
// identifications and polls are counted.
#include "upslink/ups_device.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/resources/message_ids.h"
#include "upslink/link_error.h"
#include "upslink/serial_link.h"
#include "upslink/xcp_engine.h"

namespace {

// A device whose identification and status request fail or succeed on
// demand, so that the counting can be watched.
class ScriptedDevice : public UpsDevice {
public:
    using UpsDevice::UpsDevice;
    std::vector<uint8_t> RelayRequest(const uint8_t*) override { return {}; }
    int DeviceKind() override { return 99; }
    void IdentifyUps() override { Act(); }
    void PollStatus() override { Act(); }

    enum { kSucceed, kFailAgent, kFailOther } m_nNext = kSucceed;

private:
    void Act() {
        if (m_nNext == kFailAgent) throw new UpsLinkError(MSG_UPS_TIMEOUT);
        if (m_nNext == kFailOther) throw 42;
    }
};

}  // namespace

TEST(UpsDevice, ANewDeviceIsLostAndCarriesItsIdentity) {
    SerialLink link("", 1200, 8, 2, 0);
    std::unique_ptr<UpsDevice> device(DetectUps(link, UpsIdentity{"Server room", "db1, db2"}));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->commsLost, -1);
    EXPECT_EQ(device->m_Versions, "1.1");
    EXPECT_EQ(device->m_nState, 1);
    EXPECT_EQ(device->m_ConfiguredName, "Server room");
    EXPECT_EQ(device->m_AttachedDevices, "db1, db2");
    EXPECT_EQ(device->DeviceKind(), 2);
    // Detection talks to nobody.
    EXPECT_FALSE(link.IsOpen());

    // A loss brings the identity back over whatever was learned meanwhile.
    device->m_ConfiguredName = "learned";
    device->ResetIdentity();
    EXPECT_EQ(device->m_ConfiguredName, "Server room");
    EXPECT_EQ(device->m_AttachedDevices, "db1, db2");

    std::unique_ptr<UpsDevice> bare(CreateUpsDevice(link, UpsIdentity()));
    EXPECT_EQ(bare->m_ConfiguredName, "");
    EXPECT_EQ(bare->m_AttachedDevices, "");
}

TEST(UpsDevice, FailedPollsCountToLostOnTheSixth) {
    SerialLink link("", 1200, 8, 2, 0);
    ScriptedDevice device(link);
    device.Identify();
    EXPECT_EQ(device.commsLost, 0);

    device.m_nNext = ScriptedDevice::kFailAgent;
    for (int i = 1; i <= 5; ++i) {
        device.Poll();
        EXPECT_EQ(device.commsLost, i);
    }
    device.m_nNext = ScriptedDevice::kSucceed;
    device.Poll();
    EXPECT_EQ(device.commsLost, 0);

    device.m_nNext = ScriptedDevice::kFailAgent;
    for (int i = 0; i < 5; ++i) device.Poll();
    device.m_Versions = "9.9";
    device.Poll();
    EXPECT_EQ(device.commsLost, -1);
    EXPECT_EQ(device.m_Versions, "1.1");
    // A lost device stays lost when polled again, rather than counting on
    // from -1 to a "communicating" 0.
    device.Poll();
    EXPECT_EQ(device.commsLost, -1);
}

TEST(UpsDevice, IdentifyAbsorbsAgentFailuresOnly) {
    SerialLink link("", 1200, 8, 2, 0);
    ScriptedDevice device(link);
    device.Identify();
    ASSERT_EQ(device.commsLost, 0);
    device.m_nNext = ScriptedDevice::kFailAgent;
    device.Identify();  // must not throw
    EXPECT_EQ(device.commsLost, -1);

    device.m_nNext = ScriptedDevice::kFailOther;
    EXPECT_THROW(device.Identify(), int);
    EXPECT_THROW(device.Poll(), int);
}

TEST(UpsDevice, TheXcpDeviceCannotFailAPollWhileItKnowsNoCommands) {
    SerialLink link("", 1200, 8, 2, 0);  // nothing would answer
    std::unique_ptr<UpsDevice> device(CreateUpsDevice(link, UpsIdentity()));
    device->commsLost = 0;
    for (int i = 0; i < 7; ++i) device->Poll();
    EXPECT_EQ(device->commsLost, 0);
    // Without a port name nothing answers: identification times out.
    device->Identify();
    EXPECT_EQ(device->commsLost, -1);
}
