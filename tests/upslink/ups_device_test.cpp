// The device's bookkeeping: identity from the INI file, and how failed
// identifications and polls are counted.
#include "upslink/ups_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "agent/ini_file.h"
#include "agent/qln_exception.h"
#include "upslink/serial_link.h"
#include "upslink/xcp_engine.h"

namespace {

// An INI file of the test's own, removed afterwards.
class TempIni {
public:
    TempIni(const std::string& name, const std::string& text) : m_Path(name + ".ini") {
        std::ofstream(m_Path, std::ios::binary) << text;
    }
    ~TempIni() { std::remove(m_Path.c_str()); }
    const char* Path() const { return m_Path.c_str(); }
    std::string Contents() const {
        std::ifstream in(m_Path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    std::string m_Path;
};

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
        if (m_nNext == kFailAgent) throw new CQLNException(kMsgUpsTimeout);
        if (m_nNext == kFailOther) throw 42;
    }
};

}  // namespace

TEST(UpsDevice, ANewDeviceIsLostAndCarriesTheIniIdentity) {
    TempIni ini("ups_device_new", "[UPSIdent]\nName=Server room\nAttachedDevices=db1, db2\n");
    const std::string before = ini.Contents();
    CINIFile profile(ini.Path());
    SerialLink link("", 1200, 8, 2, 0);
    std::unique_ptr<UpsDevice> device(DetectUps(link, profile));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->commsLost, -1);
    EXPECT_EQ(device->m_Versions, "1.1");
    EXPECT_EQ(device->m_nState, 1);
    EXPECT_EQ(device->m_ConfiguredName, "Server room");
    EXPECT_EQ(device->m_AttachedDevices, "db1, db2");
    EXPECT_EQ(device->DeviceKind(), 2);
    // Detection talks to nobody and writes nothing.
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(ini.Contents(), before);

    TempIni empty("ups_device_empty", "[Other]\nName=x\n");
    CINIFile none(empty.Path());
    std::unique_ptr<UpsDevice> bare(CreateUpsDevice(link, none));
    EXPECT_EQ(bare->m_ConfiguredName, "");
    EXPECT_EQ(bare->m_AttachedDevices, "");
}

TEST(UpsDevice, FailedPollsCountToLostOnTheSixth) {
    TempIni ini("ups_device_polls", "");
    CINIFile profile(ini.Path());
    SerialLink link("", 1200, 8, 2, 0);
    ScriptedDevice device(link, profile);
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
    TempIni ini("ups_device_identify", "");
    CINIFile profile(ini.Path());
    SerialLink link("", 1200, 8, 2, 0);
    ScriptedDevice device(link, profile);
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
    TempIni ini("ups_device_xcp", "");
    CINIFile profile(ini.Path());
    SerialLink link("", 1200, 8, 2, 0);  // nothing would answer
    std::unique_ptr<UpsDevice> device(CreateUpsDevice(link, profile));
    device->commsLost = 0;
    for (int i = 0; i < 7; ++i) device->Poll();
    EXPECT_EQ(device->commsLost, 0);
    // Without a port name nothing answers: identification times out.
    device->Identify();
    EXPECT_EQ(device->commsLost, -1);
}
