// Who the NetXCP endpoint serves: its bind address, its allowed clients, and
// the lockout of a sender that keeps guessing the password. Clients speak
// from their own loopback addresses (127.0.0.2 stands for another host).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/netxcp_endpoint.h"
#include "agent/socket_api.h"
#include "fake_ups_device.h"
#include "loopback_udp.h"
#include "platform/clock.h"
#include "upslink/serial_link.h"
#include "xcp_frames.h"

namespace {

constexpr uint32_t kLoopback1 = 0x7F000001u, kLoopback2 = 0x7F000002u, kLoopback3 = 0x7F000003u;

using Client = LoopbackUdp;

class AccessTest : public ::testing::Test {
protected:
    void Start(const NetXcpAccess& access) {
        m_pEndpoint = std::make_unique<NetXcpEndpoint>(access);
        m_nPort = m_pEndpoint->LocalPort();
    }
    // Serves once what waits; true when something did.
    bool ServeOnce(uint32_t waitMs = 5000) {
        if (!m_pEndpoint->WaitForRequest(waitMs)) return false;
        m_pEndpoint->ServeRequest(&m_Device);
        return true;
    }
    // Sends from `client` and serves what arrived; the answer, or empty.
    Bytes Exchange(Client& client, const Bytes& datagram) {
        EXPECT_TRUE(client.Send(datagram, kLoopback1, m_nPort));
        EXPECT_TRUE(m_pEndpoint->WaitForRequest(5000));
        m_pEndpoint->ServeRequest(&m_Device);
        return client.Receive(m_Device.m_Frames.empty() ? 300 : 2000);
    }

    SerialLink m_Link{"COM9:", 9600, 8, 2, 0};
    FakeUpsDevice m_Device{m_Link};
    std::unique_ptr<NetXcpEndpoint> m_pEndpoint;
    uint16_t m_nPort = 0;
};

// Wine binds a UDP socket given one address to every address of that
// interface (0.0.0.0 with the interface named): it then hears datagrams to
// other loopback addresses, and what it sends leaves from 127.0.0.1. Where
// that is so, the cases that need a second sender address are left out.
bool SecondAddressHonoured() {
    Client second(kLoopback2);
    NetXcpAccess access;
    access.port = 0;
    NetXcpEndpoint probe(access);
    if (!second.Bound() || !second.Send(Frame(0x00), kLoopback1, probe.LocalPort())) return false;
    if (!probe.WaitForRequest(2000)) return false;
    sockapi::PeerAddress from{};
    uint8_t scratch[16];
    probe.GetSocket().ReadFrom(scratch, sizeof scratch, from);
    return from.address == LoopbackAddress(kLoopback2, 0).address;
}

TEST_F(AccessTest, ServesOnlyTheAllowedClients) {
    NetXcpAccess access;
    access.port = 0;
    access.allowedClients = {ClientNetwork{kLoopback2, 0xFFFFFFFFu}};
    Start(access);
    Client stranger(kLoopback1);
    ASSERT_TRUE(stranger.Bound());
    // Refused before the frame walk: the UPS hears nothing, nothing comes back.
    EXPECT_EQ(Exchange(stranger, Join({Frame(0x31), Frame(0x00)})), Bytes{});
    EXPECT_TRUE(m_Device.m_Frames.empty());
    EXPECT_EQ(m_pEndpoint->Counters().notAllowed, 1u);

    // A network that holds the sender admits it.
    access.allowedClients = {ClientNetwork{0x0A000000u, 0xFF000000u},
                             ClientNetwork{0x7F000000u, 0xFF000000u}};
    Start(access);
    EXPECT_EQ(Exchange(stranger, Frame(0x31)), EchoBlock(0x31));
    EXPECT_EQ(m_pEndpoint->Counters().notAllowed, 0u);

    if (!SecondAddressHonoured()) GTEST_SKIP() << "this host sends from 127.0.0.1 only (Wine)";
    // Bound to 127.0.0.1 only: a datagram to another address does not reach it;
    // a second sender is told apart from the first.
    access.bindAddress = kLoopback1;
    access.allowedClients = {ClientNetwork{kLoopback2, 0xFFFFFFFFu}};
    Start(access);
    Client friendly(kLoopback2);
    ASSERT_TRUE(friendly.Send(Frame(0x00), 0x7F000003u, m_nPort));
    EXPECT_FALSE(m_pEndpoint->WaitForRequest(300));
    EXPECT_EQ(Exchange(stranger, Frame(0x31)), Bytes{});
    EXPECT_EQ(Exchange(friendly, Frame(0x31)), EchoBlock(0x31));
    EXPECT_EQ(m_pEndpoint->Counters().notAllowed, 1u);
}

TEST_F(AccessTest, AGuessingSenderIsLockedOutAndAnHonestOneNeverIs) {
    NetXcpAccess access;
    access.port = 0;
    access.password = "Secret";
    access.passwordTries = 3;
    access.passwordWindowSeconds = 60;
    access.passwordLockoutSeconds = 1;
    Start(access);
    Client guesser(kLoopback1), honest(kLoopback2);
    ASSERT_TRUE(guesser.Bound() && honest.Bound());

    // The third wrong guess starts the lockout: the right password that
    // follows in the same datagram is no longer heard, and the answer does
    // not tell whether it was right.
    testing::internal::CaptureStderr();
    Bytes guesses = Join({PasswordFrame("aaaaaa"), PasswordFrame("bbbbbb"), PasswordFrame("cccccc"),
                          PasswordFrame("dddddd"), PasswordFrame("Secret"), Frame(0x8A)});
    EXPECT_EQ(Exchange(guesser, guesses), Bytes{});
    EXPECT_EQ(Exchange(guesser, Join({PasswordFrame("Secret"), Frame(0x8A)})), Bytes{});
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(m_Device.m_Frames.empty());
    EXPECT_EQ(m_pEndpoint->Counters().wrongPasswords, 3u);
    EXPECT_EQ(m_pEndpoint->Counters().ignoredPasswords, 3u);
    EXPECT_EQ(m_pEndpoint->Counters().lockouts, 1u);
    // Said once, with the sender's address.
    EXPECT_NE(said.find("127.0.0.1"), std::string::npos) << said;
    EXPECT_EQ(said.find("127.0.0.1"), said.rfind("127.0.0.1")) << said;

    // Another sender with the right password is served every time.
    if (SecondAddressHonoured()) {
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(Exchange(honest, Join({PasswordFrame("Secret"), Frame(0x8B)})),
                      EchoBlock(0x8B));
        }
    }

    // Once the lockout is over, the guesser is heard again.
    uint32_t start = plat::TickCount();
    Bytes answer;
    while (answer.empty() && plat::TickCount() - start < 10000) {
        answer = Exchange(guesser, Join({PasswordFrame("Secret"), Frame(0x8C)}));
    }
    EXPECT_EQ(answer, EchoBlock(0x8C));
}

// One host that floods from many ports is one sender: it waits its turn
// like any other host, and a client at another address is served in the
// next turns; a relay identification never waits behind forwarded requests.
TEST_F(AccessTest, ATurnIsPerClientAddressAndTheRelaysOwnAnswersGoFirst) {
    if (!SecondAddressHonoured()) GTEST_SKIP() << "this host sends from 127.0.0.1 only (Wine)";
    NetXcpAccess access;
    access.port = 0;
    Start(access);
    // Within one default socket receive queue, so that the kernel drops none.
    constexpr int kPorts = 150;
    std::vector<std::unique_ptr<Client>> flood;
    for (int i = 0; i < kPorts; ++i) {
        flood.push_back(std::make_unique<Client>(kLoopback1));
        ASSERT_TRUE(flood.back()->Bound());
        ASSERT_TRUE(flood.back()->Send(Frame(0x31), kLoopback1, m_nPort));
    }
    Client forwarded(kLoopback2), identification(kLoopback3);
    ASSERT_TRUE(forwarded.Send(Frame(0x32), kLoopback1, m_nPort));
    ASSERT_TRUE(identification.Send(Frame(0x00), kLoopback1, m_nPort));
    testing::internal::CaptureStdout();
    // The identification and a turn of the flood, then the other host's turn.
    for (int served = 0; served < 2; ++served) ASSERT_TRUE(ServeOnce());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(identification.Receive(2000), Bytes({0x71, 0x6C, 0x6E, 0x00}));
    EXPECT_EQ(forwarded.Receive(2000), EchoBlock(0x32));
    EXPECT_EQ(m_Device.Commands(), (Bytes{0x31, 0x32}));
}

// The frames of one long datagram take turns with other senders' requests:
// another sender is answered after one frame of it, not after all of them,
// and the long datagram's answers still come back whole, in one datagram.
TEST_F(AccessTest, ALongDatagramTakesTurnsFrameByFrame) {
    if (!SecondAddressHonoured()) GTEST_SKIP() << "this host sends from 127.0.0.1 only (Wine)";
    NetXcpAccess access;
    access.port = 0;
    Start(access);
    Client longSender(kLoopback1), other(kLoopback2);
    Bytes frames, answers;
    constexpr uint8_t kLast = 0x30;
    for (uint8_t c = 0x01; c <= kLast; ++c) {
        frames = Join({frames, Frame(c)});
        answers = Join({answers, EchoBlock(c)});
    }
    ASSERT_TRUE(longSender.Send(frames, kLoopback1, m_nPort));
    ASSERT_TRUE(other.Send(Frame(0x31), kLoopback1, m_nPort));
    ASSERT_TRUE(ServeOnce());
    EXPECT_EQ(other.Receive(2000), EchoBlock(0x31));
    EXPECT_EQ(m_Device.Commands(), (Bytes{0x01, 0x31}));
    EXPECT_EQ(longSender.Receive(0), Bytes{});
    // The rest of it, in as many turns as it has frames.
    ASSERT_TRUE(ServeOnce(0));
    EXPECT_EQ(longSender.Receive(2000), answers);
    EXPECT_EQ(m_Device.m_Frames.size(), kLast + 1u);
    EXPECT_FALSE(m_pEndpoint->WaitForRequest(0));
}

// Guessing from many addresses: the whole relay compares about one wrong
// guess a second, so an attacker that rotates its address gains nothing;
// a client that gave the right password before keeps its rights meanwhile,
// and a client the relay has not seen give it is heard again a second later.
TEST_F(AccessTest, GuessesFromManyAddressesShareOneLimit) {
    if (!SecondAddressHonoured()) GTEST_SKIP() << "this host sends from 127.0.0.1 only (Wine)";
    NetXcpAccess access;  // the default limits
    access.port = 0;
    access.password = "Secret";
    Start(access);
    Client honest(kLoopback2);
    EXPECT_EQ(Exchange(honest, Join({PasswordFrame("Secret"), Frame(0x8A)})), EchoBlock(0x8A));
    // 40 addresses, 4 wrong guesses each: below every sender's own limit.
    testing::internal::CaptureStderr();
    for (uint32_t host = 0; host < 40; ++host) {
        Client guesser(0x7F010000u + host);
        ASSERT_TRUE(guesser.Bound());
        Bytes guesses = Join({PasswordFrame("aaaaaa"), PasswordFrame("bbbbbb"),
                              PasswordFrame("cccccc"), PasswordFrame("dddddd")});
        ASSERT_TRUE(guesser.Send(guesses, kLoopback1, m_nPort));
        ASSERT_TRUE(ServeOnce());
    }
    // The attacker's right guess from yet another address is not compared.
    Client attacker(0x7F010100u);
    EXPECT_EQ(Exchange(attacker, Join({PasswordFrame("Secret"), Frame(0x8B)})), Bytes{});
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_LT(m_pEndpoint->Counters().wrongPasswords, 40u) << said;
    EXPECT_EQ(m_Device.Commands(), Bytes{0x8A});
    // The honest client is served at once.
    EXPECT_EQ(Exchange(honest, Join({PasswordFrame("Secret"), Frame(0x8C)})), EchoBlock(0x8C));
    // A new client waits until the limit has room again.
    const uint32_t start = plat::TickCount();
    Bytes answer;
    while (answer.empty() && plat::TickCount() - start < 10000) {
        answer = Exchange(attacker, Join({PasswordFrame("Secret"), Frame(0x8D)}));
    }
    EXPECT_EQ(answer, EchoBlock(0x8D));
}

}  // namespace
