// Identification through a named port that a driver outside the test has
// connected to a simulated UPS (under Wine: a COM port of the prefix that
// leads to the simulator's pseudo-terminal). Skipped when no port is named.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "agent/ini_file.h"
#include "agent/qln_exception.h"
#include "upslink/serial_link.h"
#include "upslink/ups_device.h"

TEST(NamedUpsPort, IdentifiesTheUpsBehindIt) {
    const char* port = std::getenv("QLN_TEST_UPS_PORT");
    if (port == nullptr || *port == '\0') GTEST_SKIP() << "QLN_TEST_UPS_PORT names no port";
    const char* iniPath = "named_ups_port.ini";
    std::ofstream(iniPath) << "[UPSIdent]\nName=Named port\n";
    CINIFile profile(iniPath);

    // What the worker does on its first pass.
    SerialLink link(port, 9600, 8, 2, 0);
    try {
        link.EnumeratePnp();
    } catch (CQLNException* e) {
        std::unique_ptr<CQLNException> owned(e);
        FAIL() << "enumeration failed with " << owned->GetMessageId();
    }
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(std::string(link.GetPnpIdentity().manufacturer, 3), "OMB");
    std::unique_ptr<UpsDevice> device(DetectUps(link, profile));
    device->Identify();
    EXPECT_EQ(device->commsLost, 0);
    EXPECT_EQ(link.GetBaud(), 19200u);
    EXPECT_EQ(device->m_FamilyName, "Quillon");
    EXPECT_EQ(device->m_ModelName, "1500 RT");
    EXPECT_EQ(device->m_ConfiguredName, "Named port");
    std::remove(iniPath);
}
