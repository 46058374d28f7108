// Identification and polling of the XCP device against the simulated UPS on
// a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "common/resources/message_ids.h"
#include "sim_fixture_posix.h"
#include "upslink/xcp_engine.h"
#include "upslink/xcp_ups_device.h"
#include "wait_for.h"

namespace {

class UpsDeviceSim : public SimTest {
protected:
    // As the worker does: enumerate (which opens the port), then detect.
    void Detect(std::initializer_list<const char*> settings) {
        StartSim(settings, 19200);
        m_pLink->Close();
        m_pLink->EnumeratePnp();
        m_pDevice.reset(static_cast<XcpUpsDevice*>(DetectUps(*m_pLink, m_Identity)));
    }

    const UpsIdentity m_Identity{"Rack 4", ""};
    std::unique_ptr<XcpUpsDevice> m_pDevice;
};

}  // namespace

TEST_F(UpsDeviceSim, IdentificationNegotiatesTheFastestRateAndReadsTheModel) {
    Detect({});
    EXPECT_EQ(std::string(m_pLink->GetPnpIdentity().manufacturer, 3), "OMB");
    m_pDevice->Identify();
    EXPECT_EQ(m_pDevice->commsLost, 0);
    EXPECT_EQ(m_pLink->GetBaud(), 19200u);
    EXPECT_EQ(m_Sim.Speed(), 19200u);
    EXPECT_TRUE(WaitFor([&] { return m_Sim.LineBaud() == 19200; }));
    EXPECT_EQ(m_Sim.Control("last 98"), "ok AB05980001004B6C");
    EXPECT_EQ(m_pDevice->m_FamilyName, "Quillon");
    EXPECT_EQ(m_pDevice->m_ModelName, "1500 RT");
    EXPECT_EQ(m_pDevice->m_Versions, "1.0 2.5");
    EXPECT_EQ(m_pDevice->m_ConfiguredName, "Rack 4");
    // The UPS answers at the new rate.
    EXPECT_EQ(m_pDevice->Engine().SendShortCommand(0x31, 750), 0);
}

TEST_F(UpsDeviceSim, OnlyTheStartingRateOnOfferSendsNoSwitch) {
    Detect({"rates 1200", "model  Quillon  Mini\t", "versions -"});
    m_pDevice->Identify();
    EXPECT_EQ(m_pDevice->commsLost, 0);
    EXPECT_EQ(m_Sim.Count(0x98), 0u);
    EXPECT_EQ(m_pLink->GetBaud(), 1200u);
    EXPECT_EQ(m_pDevice->m_FamilyName, "Quillon");
    EXPECT_EQ(m_pDevice->m_ModelName, "Mini");
    EXPECT_EQ(m_pDevice->m_Versions, "");
}

TEST_F(UpsDeviceSim, IdentificationSurvivesBusyAnswersAndSixBitPlugAndPlay) {
    Detect({"pnp sixbit", "busy 2"});
    EXPECT_EQ(std::string(m_pLink->GetPnpIdentity().manufacturer, 3), "OMB");
    EXPECT_STREQ(m_pLink->GetPnpIdentity().userName, "Simulated UPS");
    m_pDevice->Identify();
    EXPECT_EQ(m_pDevice->commsLost, 0);
    EXPECT_EQ(m_pLink->GetBaud(), 19200u);
    EXPECT_EQ(m_pDevice->m_FamilyName, "Quillon");
}

TEST_F(UpsDeviceSim, ASilentUpsTimesOut) {
    Detect({"pnp none", "silence on"});
    EXPECT_EQ(m_pLink->GetPnpIdentity().manufacturer[0], 0);
    EXPECT_EQ(ThrownId([&] { m_pDevice->IdentifyUps(); }), MSG_UPS_TIMEOUT);
    m_pDevice->commsLost = 0;
    m_pDevice->Identify();
    EXPECT_EQ(m_pDevice->commsLost, -1);
}

TEST_F(UpsDeviceSim, ABadChecksumIsAnInvalidResponse) {
    Detect({"badsum 1"});
    EXPECT_EQ(ThrownId([&] { m_pDevice->IdentifyUps(); }), MSG_UPS_INVALID_RESPONSE);
}

TEST_F(UpsDeviceSim, AnAcknowledgeInPlaceOfTheIdentityKeepsTheOldOne) {
    Detect({"ack 31 35"});
    m_pDevice->Identify();
    EXPECT_EQ(m_pDevice->commsLost, 0);
    EXPECT_EQ(m_pDevice->m_Versions, "1.1");
    EXPECT_EQ(m_pDevice->m_FamilyName, "");
}

TEST_F(UpsDeviceSim, PollsCountFailuresToLostOnTheSixth) {
    Detect({"status 50"});
    // The agent learns no commands of its UPS; tell the engine of the status
    // request so that polls talk to the line.
    const uint8_t status = 0x33;
    m_pDevice->Engine().SetSupportedCommands(&status, 1);
    m_pDevice->Identify();
    ASSERT_EQ(m_pDevice->commsLost, 0);
    EXPECT_EQ(m_pDevice->m_nState, 3);
    Sim("status 63");
    m_pDevice->Poll();
    EXPECT_EQ(m_pDevice->m_nState, 7);

    Sim("silence on");
    for (int i = 1; i <= 5; ++i) {
        m_pDevice->Poll();
        EXPECT_EQ(m_pDevice->commsLost, i);
        EXPECT_EQ(m_pDevice->m_nState, 1);
    }
    m_pDevice->Poll();
    EXPECT_EQ(m_pDevice->commsLost, -1);
}

TEST_F(UpsDeviceSim, AfterTheLineIsReopenedTheUpsIsFoundAgain) {
    Detect({});
    m_pDevice->Identify();
    ASSERT_EQ(m_pDevice->commsLost, 0);
    // The UPS stays at 19200 while the line is open: a second identification
    // on the same line starts at 1200 and is not understood.
    std::unique_ptr<UpsDevice> again(DetectUps(*m_pLink, m_Identity));
    again->Identify();
    EXPECT_EQ(again->commsLost, -1);
    // As the worker recovers: close, enumerate, detect.
    m_pLink->Close();
    m_pLink->EnumeratePnp();
    again.reset(DetectUps(*m_pLink, m_Identity));
    again->Identify();
    EXPECT_EQ(again->commsLost, 0);
    EXPECT_EQ(m_pLink->GetBaud(), 19200u);
}
