// The NetXCP endpoint on loopback with a fake UPS device: the frame walk,
// the password rule, the reply assembly, and what it does with bad input.
#include "agent/netxcp_endpoint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/netxcp_endpoint.h"
#include "comm_failure.h"
#include "common/resources/message_ids.h"
#include "fake_ups_device.h"
#include "upslink/link_error.h"
#include "upslink/serial_link.h"
#include "xcp_frames.h"

namespace {

const Bytes kQln{0x71, 0x6C, 0x6E, 0x00};

class EndpointTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pEndpoint = std::make_unique<NetXcpEndpoint>(m_Password, 0);
        m_pClient = std::make_unique<Socket>(
            SocketAddress("127.0.0.1", m_pEndpoint->LocalPort(), kSocketDatagram));
        m_pClient->Open();
    }
    void TearDown() override { m_pClient->Close(); }

    // Sends one datagram and lets the endpoint serve it.
    void Serve(const Bytes& datagram, UpsDevice* device) {
        ASSERT_EQ(m_pClient->Write(datagram.data(), static_cast<int>(datagram.size())),
                  static_cast<int>(datagram.size()));
        ASSERT_TRUE(m_pEndpoint->WaitForRequest(5000));
        m_pEndpoint->ServeRequest(device);
    }

    // The next answer datagram; empty when none comes within the wait.
    Bytes Answer(uint32_t waitMs = 5000) {
        if (!m_pClient->WaitReadable(waitMs)) return {};
        Bytes b(2048);
        int got = m_pClient->Read(b.data(), static_cast<int>(b.size()));
        b.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return b;
    }

    // Sends `datagram`, then a relay identification: the first answer that
    // arrives tells whether the datagram itself was answered.
    Bytes AnswerOrNothing(const Bytes& datagram, UpsDevice* device) {
        Serve(datagram, device);
        Serve(Frame(0x00), device);
        Bytes first = Answer();
        if (first == kQln) return {};
        Bytes probe = Answer();
        EXPECT_EQ(probe, kQln);
        return first;
    }

    std::string m_Password = "Wopra3";
    SerialLink m_Link{"COM9:", 9600, 8, 2, 0};
    FakeUpsDevice m_Device{m_Link};
    std::unique_ptr<NetXcpEndpoint> m_pEndpoint;
    std::unique_ptr<Socket> m_pClient;
};

TEST_F(EndpointTest, RelayIdentificationAnswersQlnAndSaysSoOnStandardOutput) {
    testing::internal::CaptureStdout();
    Serve(Frame(0x00), &m_Device);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "requested qln\n");
    EXPECT_EQ(Answer(), kQln);
    EXPECT_TRUE(m_Device.m_Frames.empty());
}

TEST_F(EndpointTest, OrdinaryCommandsAreForwardedAndAnswersJoinedInFrameOrder) {
    Serve(Join({Frame(0x31), Frame(0x00), Frame(0x42, {0x00})}), &m_Device);
    Bytes expected = Join({EchoBlock(0x31), kQln, EchoBlock(0x42)});
    EXPECT_EQ(Answer(), expected);
    ASSERT_EQ(m_Device.m_Frames.size(), 2u);
    EXPECT_EQ(m_Device.m_Frames[1], Frame(0x42, {0x00}));
}

TEST_F(EndpointTest, PasswordAdmitsExactlyOnePrivilegedCommand) {
    // Without the password: skipped, and nothing at all is sent back.
    EXPECT_EQ(AnswerOrNothing(Frame(0x8A), &m_Device), Bytes{});
    EXPECT_TRUE(m_Device.m_Frames.empty());

    // With it: the first privileged command only.
    EXPECT_EQ(AnswerOrNothing(Join({PasswordFrame("Wopra3"), Frame(0x8A), Frame(0x8B)}), &m_Device),
              EchoBlock(0x8A));
    EXPECT_EQ(m_Device.Commands(), Bytes{0x8A});

    // A password in one datagram does not authorise the next one.
    EXPECT_EQ(AnswerOrNothing(PasswordFrame("Wopra3"), &m_Device), Bytes{});
    EXPECT_EQ(AnswerOrNothing(Frame(0x8C), &m_Device), Bytes{});
    EXPECT_EQ(m_Device.Commands(), Bytes{0x8A});
}

TEST_F(EndpointTest, CancelAndWrongPasswords) {
    // 0xCE needs no password, is forwarded, and cancels the authorisation.
    EXPECT_EQ(AnswerOrNothing(Join({PasswordFrame("Wopra3"), Frame(0xCE), Frame(0x8A)}), &m_Device),
              EchoBlock(0xCE));
    // A wrong password after a right one leaves the authorisation in force.
    EXPECT_EQ(AnswerOrNothing(Join({PasswordFrame("Wopra3"), PasswordFrame("wrong!"), Frame(0x90)}),
                              &m_Device),
              EchoBlock(0x90));
    // A password frame of another length does not authorise.
    Bytes seven = Frame(0xCF, {'W', 'o', 'p', 'r', 'a', '3', 'x'});
    EXPECT_EQ(AnswerOrNothing(Join({seven, Frame(0x91)}), &m_Device), Bytes{});
    EXPECT_EQ(m_Device.Commands(), (Bytes{0xCE, 0x90}));
}

TEST_F(EndpointTest, OddRepliesArePaddedAndTrailingBytesIgnored) {
    m_Device.m_Answer = [](const Bytes&) { return Bytes{0xAB, 0x01, 0x00, 0x81, 0xD3}; };
    Bytes datagram = Join({Frame(0x31), Bytes{0x01, 0x02, 0x03, 0x04, 0x05}});
    EXPECT_EQ(AnswerOrNothing(datagram, &m_Device), (Bytes{0xAB, 0x01, 0x00, 0x81, 0xD3, 0x00}));
    // Fewer than four bytes after a frame, even if they start with 0xAB.
    datagram = Join({Frame(0x31), Bytes{0xAB, 0x01, 0x33}});
    EXPECT_EQ(AnswerOrNothing(datagram, &m_Device).size(), 6u);
    EXPECT_EQ(m_Device.Commands(), (Bytes{0x31, 0x31}));
}

TEST_F(EndpointTest, FrameRunningPastTheDatagramIsNotForwarded) {
    // Length 0x40 claims 67 bytes; only 8 arrived.
    Bytes cut{0xAB, 0x40, 0x31, 1, 2, 3, 4, 5};
    EXPECT_EQ(AnswerOrNothing(Join({Frame(0x33), cut}), &m_Device), EchoBlock(0x33));
    EXPECT_EQ(m_Device.Commands(), Bytes{0x33});
    // A cut-off password frame does not authorise either.
    Bytes cutPassword{0xAB, 0x07, 0xCF, 'W', 'o', 'p'};
    EXPECT_EQ(AnswerOrNothing(cutPassword, &m_Device), Bytes{});
}

TEST_F(EndpointTest, FullSizeDatagramAcceptedLongerOneDropped) {
    // 293 identification frames fill 1172 bytes exactly.
    Bytes full;
    for (int i = 0; i < 293; ++i) full = Join({full, Frame(0x00)});
    ASSERT_EQ(full.size(), 1172u);
    testing::internal::CaptureStdout();
    Serve(full, &m_Device);
    Bytes answer = Answer();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(answer.size(), 1172u);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 293);

    Bytes longer = Join({full, Frame(0x00)});
    EXPECT_EQ(AnswerOrNothing(longer, &m_Device), Bytes{});
}

TEST_F(EndpointTest, WithoutADeviceDatagramsAreReadAndDropped) {
    Serve(Frame(0x00), nullptr);
    EXPECT_FALSE(m_pEndpoint->WaitForRequest(0));
    EXPECT_EQ(AnswerOrNothing(Frame(0x31), &m_Device), EchoBlock(0x31));
}

TEST_F(EndpointTest, FailuresCostOnlyTheirOwnFrame) {
    m_Device.m_Answer = [](const Bytes& f) -> Bytes {
        if (f[2] == 0x31) throw new UpsLinkError(MSG_UPS_TIMEOUT);
        if (f[2] == 0x32) throw std::runtime_error("boom");
        if (f[2] == 0x34) return Bytes(1100, 0x11);  // does not fit after 0x33's
        return Bytes(100, f[2]);
    };
    Bytes answer = AnswerOrNothing(
        Join({Frame(0x31), Frame(0x32), Frame(0x33), Frame(0x34), Frame(0x35)}), &m_Device);
    EXPECT_EQ(answer, Join({Bytes(100, 0x33), Bytes(100, 0x35)}));
    EXPECT_EQ(m_Device.Commands(), (Bytes{0x31, 0x32, 0x33, 0x34, 0x35}));
}

// A stop between two forwarded frames leaves the rest of the datagram; what
// was answered before it is still sent. (A pause blocks inside keepRunning
// and the walk then goes on where it was.)
TEST_F(EndpointTest, StopAndPauseAreSeenBetweenForwardedFrames) {
    int asked = 0;
    Bytes datagram =
        Join({Frame(0x00), Frame(0x31), PasswordFrame("Wopra3"), Frame(0x32), Frame(0x33)});
    ASSERT_TRUE(m_pClient->Write(datagram.data(), static_cast<int>(datagram.size())) > 0);
    ASSERT_TRUE(m_pEndpoint->WaitForRequest(5000));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(m_pEndpoint->ServeRequest(&m_Device, [&] { return ++asked < 2; }));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(asked,
              2);  // before 0x31 and before 0x32, not for 0x00 or the password
    EXPECT_EQ(m_Device.Commands(), Bytes{0x31});
    EXPECT_EQ(Answer(), Join({kQln, EchoBlock(0x31)}));
}

// The walk ends once the reply cannot take another answer; a frame that got
// none counts as the shortest answer, so a datagram full of frames the UPS
// never answers is bounded too.
TEST_F(EndpointTest, WalkEndsWhenTheReplyCanTakeNoMoreAnswers) {
    m_Device.m_Answer = [](const Bytes& f) { return f[2] == 0x31 ? Bytes(1168, 0x31) : Bytes{}; };
    EXPECT_EQ(AnswerOrNothing(Join({Frame(0x31), Frame(0x32), Frame(0x33)}), &m_Device).size(),
              1168u);
    EXPECT_EQ(m_Device.Commands(), Bytes{0x31});

    m_Device.m_Frames.clear();
    Bytes unanswered;
    for (int i = 0; i < 293; ++i) unanswered = Join({unanswered, Frame(0x32)});
    EXPECT_EQ(AnswerOrNothing(unanswered, &m_Device), Bytes{});
    EXPECT_EQ(m_Device.m_Frames.size(), 1172u / 6u);
    EXPECT_EQ(m_pEndpoint->Counters().cutShort, 2u);
}

TEST_F(EndpointTest, ReopensItsSocketAfterTheSocketItselfFailed) {
    // On its own port again: the one the fixture's endpoint had.
    uint16_t port = m_pEndpoint->LocalPort();
    m_pEndpoint.reset();
    m_pEndpoint = std::make_unique<NetXcpEndpoint>(m_Password, port);
    m_pEndpoint->GetSocket().Close();              // the socket breaks
    m_pEndpoint->ServeRequest(&m_Device);          // must not throw
    EXPECT_FALSE(m_pEndpoint->WaitForRequest(0));  // the next pass opens it again
    EXPECT_TRUE(m_pEndpoint->GetSocket().IsOpen());
    Serve(Frame(0x00), &m_Device);
    EXPECT_EQ(m_pEndpoint->LocalPort(), port);
    EXPECT_EQ(Answer(), kQln);
}

// An over-long datagram costs only itself: the request behind it is served.
// (How senders take turns: netxcp_access_test.cpp.)
TEST_F(EndpointTest, AnOverLongDatagramCostsOnlyItself) {
    const Bytes overLong(1173, 0xAB), request = Frame(0x32);
    ASSERT_EQ(m_pClient->Write(overLong.data(), 1173), 1173);
    m_pClient->Write(request.data(), static_cast<int>(request.size()));
    ASSERT_TRUE(m_pEndpoint->WaitForRequest(5000));
    m_pEndpoint->ServeRequest(&m_Device);
    EXPECT_EQ(m_Device.Commands(), (Bytes{0x32}));
    EXPECT_EQ(m_pEndpoint->Counters().oversized, 1u);
    EXPECT_EQ(Answer(), EchoBlock(0x32));
}

// While the worker pauses between passes the socket's small receive queue
// is kept empty, so that a burst from one host does not make the kernel drop
// the next burst, or another client's request, on arrival.
TEST_F(EndpointTest, DatagramsArrivingWhileTheWorkerPausesAreTakenOffTheSocket) {
    const Bytes request = Frame(0x00);
    for (int burst = 0; burst < 3; ++burst) {
        for (int i = 0; i < 200; ++i) {
            ASSERT_EQ(m_pClient->Write(request.data(), static_cast<int>(request.size())), 4);
        }
        m_pEndpoint->TakeWhileWaiting(300);
    }
    EXPECT_EQ(m_pEndpoint->Counters().received, 600u);
}

TEST(EndpointPassword, ShortPasswordComparesAsZeroPadded) {
    SerialLink link("COM9:", 9600, 8, 2, 0);
    FakeUpsDevice device(link);
    NetXcpEndpoint endpoint("abc", 0);
    Socket client(SocketAddress("127.0.0.1", endpoint.LocalPort(), kSocketDatagram));
    client.Open();
    for (const Bytes& password :
         {Frame(0xCF, {'a', 'b', 'c', 0, 0, 0}), Frame(0xCF, {'a', 'b', 'c', 'x', 'y', 'z'})}) {
        Bytes d = Join({password, Frame(0x99)});
        client.Write(d.data(), static_cast<int>(d.size()));
        ASSERT_TRUE(endpoint.WaitForRequest(5000));
        endpoint.ServeRequest(&device);
    }
    EXPECT_EQ(device.Commands(), Bytes{0x99});
    client.Close();
}

TEST(EndpointPassword, UnusablePasswordAdmitsNothing) {
    // What the worker hands over when the stored password does not unscramble:
    // even six zero bytes, the padded form of an empty password, must not match.
    SerialLink link("COM9:", 9600, 8, 2, 0);
    FakeUpsDevice device(link);
    NetXcpEndpoint endpoint("", 0, false);
    Socket client(SocketAddress("127.0.0.1", endpoint.LocalPort(), kSocketDatagram));
    client.Open();
    Bytes d = Join({Frame(0xCF, {0, 0, 0, 0, 0, 0}), Frame(0x99), Frame(0x31)});
    client.Write(d.data(), static_cast<int>(d.size()));
    ASSERT_TRUE(endpoint.WaitForRequest(5000));
    endpoint.ServeRequest(&device);
    EXPECT_EQ(device.Commands(), Bytes{0x31});
    client.Close();
}

TEST(EndpointSocket, PortInUseFailsConstructionWithBindError) {
    NetXcpEndpoint first("Wopra3", 0);
    EXPECT_EQ(CommFailureId([&] { NetXcpEndpoint second("Wopra3", first.LocalPort()); }),
              brx::kCommBindError);
}

}  // namespace
