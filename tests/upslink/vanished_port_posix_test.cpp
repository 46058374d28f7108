// A port that goes away under the device (a USB adapter pulled out, here the
// simulator hanging its pseudo-terminal up) fails the polls until the device
// is given up, and a port that comes back under the same name is found again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "sim_fixture_posix.h"
#include "upslink/xcp_ups_device.h"
#include "wait_for.h"

namespace {

class VanishedPort : public ::testing::Test {
protected:
    VanishedPort() : m_LinkPath("/tmp/qln-vanished-port-" + std::to_string(::getpid())) {}
    ~VanishedPort() override {
        m_pDevice.reset();
        m_pLink.reset();
        m_Sim.Stop();
        ::unlink(m_LinkPath.c_str());
    }

    // The port is a symbolic link that the simulator keeps pointing at its
    // current line, as a device name stays while the adapter behind changes.
    void StartAndIdentify() {
        std::string error;
        ASSERT_TRUE(m_Sim.Start(error)) << error;
        ASSERT_TRUE(m_Sim.SetLink(m_LinkPath, error)) << error;
        m_pLink.reset(new SerialLink(m_LinkPath, 9600, 8, 2, 0));
        Detect();
    }
    // What the worker's detection pass does.
    void Detect() {
        m_pLink->Close();
        m_pLink->EnumeratePnp();
        m_pDevice.reset(DetectUps(*m_pLink, m_Identity));
        m_pDevice->Identify();
    }
    void Sim(const std::string& line) { ASSERT_EQ(m_Sim.Control(line).substr(0, 2), "ok") << line; }

    UpsSim m_Sim;
    std::string m_LinkPath;
    const UpsIdentity m_Identity{"Rack 9", ""};
    std::unique_ptr<SerialLink> m_pLink;
    std::unique_ptr<UpsDevice> m_pDevice;
};

}  // namespace

TEST_F(VanishedPort, AHealthyPortKeepsPollingQuietly) {
    StartAndIdentify();
    ASSERT_EQ(m_pDevice->commsLost, 0);
    const uint32_t statusBefore = m_Sim.Count(0x33);
    for (int i = 0; i < 8; ++i) {
        m_pDevice->Poll();
        EXPECT_EQ(m_pDevice->commsLost, 0);
    }
    // The agent knows no commands of its UPS: the poll sends nothing.
    EXPECT_EQ(m_Sim.Count(0x33), statusBefore);
    EXPECT_NO_THROW(m_pLink->CheckPort());
}

TEST_F(VanishedPort, PollsFailUntilLostOnTheSixthAndTheReturnedPortIsFoundAgain) {
    StartAndIdentify();
    ASSERT_EQ(m_pDevice->commsLost, 0);

    Sim("unplug");
    // The hang-up reaches the port as soon as the simulator's line is closed
    // for good (its reader may hold it a moment longer).
    ASSERT_TRUE(WaitFor([&] { return ThrownId([&] { m_pLink->CheckPort(); }) != 0; }));
    for (int i = 1; i <= 5; ++i) {
        m_pDevice->Poll();
        EXPECT_EQ(m_pDevice->commsLost, i);
    }
    m_pDevice->Poll();
    EXPECT_EQ(m_pDevice->commsLost, -1);
    m_pDevice.reset();  // as the worker does with a lost device

    // While the port is away a detection pass finds nothing.
    EXPECT_NE(ThrownId([&] { Detect(); }), 0u);

    Sim("plug");
    ASSERT_TRUE(WaitFor([&] { return !m_Sim.SlavePath().empty(); }));
    Detect();
    EXPECT_EQ(m_pDevice->commsLost, 0);
    EXPECT_EQ(m_pDevice->m_FamilyName, "Quillon");
    m_pDevice->Poll();
    EXPECT_EQ(m_pDevice->commsLost, 0);
}

TEST_F(VanishedPort, AFailedTransferMarksThePortUntilItIsOpenedAgain) {
    StartAndIdentify();
    Sim("unplug");
    // A write to a line that hung up fails with the system's error ...
    const uint8_t frame[4] = {0xAB, 0x01, 0x31, 0x23};
    uint32_t written = 0;
    uint32_t failure = 0;
    ASSERT_TRUE(WaitFor([&] {
        failure = ThrownId([&] { m_pLink->Write(frame, sizeof frame, written); });
        return failure != 0;
    }));
    // ... and the port stays failed with it, whatever the line does next.
    EXPECT_EQ(ThrownId([&] { m_pLink->CheckPort(); }), failure);
    Sim("plug");
    EXPECT_EQ(ThrownId([&] { m_pLink->CheckPort(); }), failure);
    // Opening it again starts afresh.
    ASSERT_TRUE(WaitFor([&] { return !m_Sim.SlavePath().empty(); }));
    m_pLink->Open();
    EXPECT_EQ(ThrownId([&] { m_pLink->CheckPort(); }), 0u);
    m_pLink->Close();
    EXPECT_NE(ThrownId([&] { m_pLink->CheckPort(); }), 0u);
}
