// Identification through a named port that a driver outside the test has
// connected to a simulated UPS (under Wine: a COM port of the prefix that
// leads to the simulator's pseudo-terminal). Skipped when no port is named.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "platform/clock.h"
#include "thrown_id.h"
#include "upslink/serial_link.h"
#include "upslink/ups_device.h"
#include "upslink/xcp_engine.h"
#include "wait_for.h"

TEST(NamedUpsPort, IdentifiesTheUpsBehindIt) {
    const char* port = std::getenv("QLN_TEST_UPS_PORT");
    if (port == nullptr || *port == '\0') GTEST_SKIP() << "QLN_TEST_UPS_PORT names no port";
    const UpsIdentity identity{"Named port", ""};

    // What the worker does on its first pass.
    SerialLink link(port, 9600, 8, 2, 0);
    uint32_t failure = ThrownId([&] { link.EnumeratePnp(); });
    ASSERT_EQ(failure, 0u) << "enumeration failed with " << failure;
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(std::string(link.GetPnpIdentity().manufacturer, 3), "OMB");
    std::unique_ptr<UpsDevice> device(DetectUps(link, identity));
    device->Identify();
    EXPECT_EQ(device->commsLost, 0);
    EXPECT_EQ(link.GetBaud(), 19200u);
    EXPECT_EQ(device->m_FamilyName, "Quillon");
    EXPECT_EQ(device->m_ModelName, "1500 RT");
    EXPECT_EQ(device->m_ConfiguredName, "Named port");

    // Waits end with the line's news, not with their time: a quiet line
    // holds a short wait for its time, an answer ends a long one, and the
    // byte that ended it is still the first one read.
    uint32_t before = plat::TickCount();
    EXPECT_FALSE(link.WaitReadable(200));
    EXPECT_GE(plat::TickCount() - before, 150u);
    const std::vector<uint8_t> request = BuildXcpRequest(0x31, nullptr, 0);
    uint32_t written = 0;
    link.Write(request.data(), static_cast<uint32_t>(request.size()), written);
    before = plat::TickCount();
    ASSERT_TRUE(link.WaitReadable(30000));
    EXPECT_LT(plat::TickCount() - before, 15000u);
    std::vector<uint8_t> answer;
    ASSERT_TRUE(WaitFor([&] {
        uint8_t buf[64];
        uint32_t got = 0;
        link.Read(buf, sizeof buf, got);
        answer.insert(answer.end(), buf, buf + got);
        return answer.size() >= 3 && answer.size() >= 5u + answer[2];
    }));
    std::string hex;
    for (uint8_t b : answer) hex += " " + std::to_string(b);
    EXPECT_EQ(answer[0], 0xAB) << hex;
    uint8_t sum = 0;
    for (size_t i = 0; i < 5u + answer[2]; ++i) sum = static_cast<uint8_t>(sum + answer[i]);
    EXPECT_EQ(sum, 0) << hex;
}

namespace {

bool FileExists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) std::fclose(f);
    return f != nullptr;
}

}  // namespace

// The driver pulls the port away when asked (a file "unplug" in the folder
// QLN_TEST_UPS_HANDSHAKE) and says so (a file "unplugged"): the polls fail
// from then on, and the sixth gives the device up.
TEST(NamedUpsPort, AVanishedPortFailsThePollsUntilLost) {
    const char* port = std::getenv("QLN_TEST_UPS_PORT");
    const char* handshake = std::getenv("QLN_TEST_UPS_HANDSHAKE");
    if (port == nullptr || *port == '\0' || handshake == nullptr || *handshake == '\0')
        GTEST_SKIP() << "QLN_TEST_UPS_PORT and QLN_TEST_UPS_HANDSHAKE name no port";
    const UpsIdentity identity{"Named port", ""};
    SerialLink link(port, 9600, 8, 2, 0);
    uint32_t failure = ThrownId([&] { link.EnumeratePnp(); });
    ASSERT_EQ(failure, 0u) << "enumeration failed with " << failure;
    std::unique_ptr<UpsDevice> device(DetectUps(link, identity));
    device->Identify();
    ASSERT_EQ(device->commsLost, 0);
    device->Poll();
    ASSERT_EQ(device->commsLost, 0);  // a working port polls quietly

    const std::string dir = handshake;
    std::ofstream(dir + "\\unplug") << "now\n";
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir + "\\unplugged"); }, 30000));
    ASSERT_TRUE(WaitFor(
        [&] {
            try {
                link.CheckPort();
                return false;
            } catch (UpsLinkError* e) {
                delete e;
                return true;
            }
        },
        10000));
    for (int i = 1; i <= 5; ++i) {
        device->Poll();
        EXPECT_EQ(device->commsLost, i);
    }
    device->Poll();
    EXPECT_EQ(device->commsLost, -1);
}
