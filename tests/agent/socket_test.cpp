// The socket layer on loopback: datagram exchange, readiness, failures.
#include "agent/socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comm_failure.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "tcp_listener.h"

namespace {

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network order on a little-endian host

// A datagram socket bound to a free port of 127.0.0.1.
std::unique_ptr<Socket> BoundDatagramSocket() {
    auto s = std::make_unique<Socket>(SocketAddress("127.0.0.1", 0, kSocketDatagram));
    s->Create();
    s->Bind();
    return s;
}

std::unique_ptr<Socket> DatagramTo(uint16_t port) {
    auto s = std::make_unique<Socket>(SocketAddress("127.0.0.1", port, kSocketDatagram));
    s->Open();
    return s;
}

TEST(SocketAddressTest, DottedTextFromNetworkOrderAddress) {
    SocketAddress a(kLoopback, 7010, kSocketDatagram);
    EXPECT_EQ(a.m_Host, "127.0.0.1");
    EXPECT_EQ(a.m_nPort, 7010);
    EXPECT_EQ(a.m_nFamily, kFamilyIPv4);
    std::unique_ptr<Socket> s(a.CreateSocket());
    EXPECT_FALSE(s->IsOpen());
}

TEST(DatagramSocket, ReadOnEmptyQueueReturnsAtOnceAndWriteAnswersTheSender) {
    auto server = BoundDatagramSocket();
    uint16_t port = server->LocalPort();
    ASSERT_NE(port, 0);
    char buffer[64];
    EXPECT_EQ(server->Read(buffer, sizeof buffer), 0);
    EXPECT_FALSE(server->IsReadable());

    auto client = DatagramTo(port);
    ASSERT_EQ(client->Write("ping", 4), 4);
    ASSERT_TRUE(server->WaitReadable(5000));
    sockapi::PeerAddress from{};
    ASSERT_EQ(server->ReadFrom(buffer, sizeof buffer, from), 4);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    EXPECT_EQ(from.port, sockapi::HostToNet16(client->LocalPort()));

    // The reply goes to whoever sent the last datagram.
    ASSERT_EQ(server->Write("pong", 4), 4);
    ASSERT_TRUE(client->WaitReadable(5000));
    EXPECT_EQ(client->Read(buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(buffer, 4), "pong");
    server->Close();
    client->Close();
}

TEST(DatagramSocket, ReadinessTestsOnAnOpenSocket) {
    auto server = BoundDatagramSocket();
    bool trouble = true;
    EXPECT_FALSE(server->CheckReadable(trouble));
    EXPECT_FALSE(trouble);
    EXPECT_TRUE(server->IsWritable());
    auto client = DatagramTo(server->LocalPort());
    client->Write("x", 1);
    ASSERT_TRUE(server->WaitReadable(5000));
    EXPECT_TRUE(server->CheckReadable(trouble));
    EXPECT_FALSE(trouble);
}

// The prompt worker's wait: a datagram or an event ends it, the event is
// still there for its owner afterwards, and a closed socket leaves the
// events alone to end it.
TEST(DatagramSocket, WaitReadableOrEndsOnADatagramOrAnEventAndLeavesTheEventSet) {
    auto server = BoundDatagramSocket();
    plat::Event stop, pause;
    void* const handles[] = {stop.NativeHandle(), pause.NativeHandle()};
    EXPECT_EQ(server->WaitReadableOr(handles, 2, 50), -1);

    pause.Set();
    EXPECT_EQ(server->WaitReadableOr(handles, 2, 5000), 2);
    EXPECT_TRUE(pause.TryConsume());
    EXPECT_FALSE(pause.TryConsume());

    auto client = DatagramTo(server->LocalPort());
    ASSERT_EQ(client->Write("ping", 4), 4);
    EXPECT_EQ(server->WaitReadableOr(handles, 2, 5000), 0);
    char buffer[16];
    EXPECT_EQ(server->Read(buffer, sizeof buffer), 4);
    EXPECT_EQ(server->WaitReadableOr(handles, 2, 50), -1);
    // The socket still answers as before.
    EXPECT_EQ(server->Write("pong", 4), 4);

    server->Close();
    stop.Set();
    EXPECT_EQ(server->WaitReadableOr(handles, 2, 5000), 1);
    EXPECT_TRUE(stop.TryConsume());
}

TEST(DatagramSocket, WaitReadableGivesUpAfterItsTime) {
    auto server = BoundDatagramSocket();
    EXPECT_FALSE(server->WaitReadable(50));
}

TEST(DatagramSocket, OversizeDatagramIsLostWithWhatWaitedBehindIt) {
    auto server = BoundDatagramSocket();
    auto client = DatagramTo(server->LocalPort());
    std::vector<char> whole(1172, 'a');
    std::vector<char> buffer(1172);
    ASSERT_EQ(client->Write(whole.data(), 1172), 1172);
    ASSERT_TRUE(server->WaitReadable(5000));
    EXPECT_EQ(server->Read(buffer.data(), 1172), 1172);

    std::vector<char> longer(1173, 'b');
    ASSERT_EQ(client->Write(longer.data(), 1173), 1173);
    ASSERT_EQ(client->Write("after", 5), 5);
    ASSERT_TRUE(server->WaitReadable(5000));
    // The receive fails; the drain throws away the datagram queued behind it.
    EXPECT_EQ(server->Read(buffer.data(), 1172), 0);
    EXPECT_EQ(server->Read(buffer.data(), 1172), 0);
    EXPECT_FALSE(server->IsReadable());

    // The socket still works afterwards.
    ASSERT_EQ(client->Write("again", 5), 5);
    ASSERT_TRUE(server->WaitReadable(5000));
    EXPECT_EQ(server->Read(buffer.data(), 1172), 5);
}

TEST(DatagramSocket, DrainSurvivesARunOfFailingReceives) {
    auto server = BoundDatagramSocket();
    auto client = DatagramTo(server->LocalPort());
    std::vector<char> longer(2000, 'c');
    for (int i = 0; i < 3; ++i) ASSERT_EQ(client->Write(longer.data(), 2000), 2000);
    client->Write("tail", 4);
    ASSERT_TRUE(server->WaitReadable(5000));
    char small[8];
    EXPECT_EQ(server->Read(small, sizeof small), 0);
    EXPECT_FALSE(server->IsReadable());
}

// A sender that mixes datagrams too long for the drain's buffer with a
// steady trickle must not hold the reader: the drain ends on its own, long
// before the sender stops (about 10 s here).
TEST(DatagramSocket, DrainEndsWhileInputKeepsArriving) {
    auto server = BoundDatagramSocket();
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        auto client = DatagramTo(server->LocalPort());
        std::vector<char> longer(1173, 'd');
        uint32_t start = plat::TickCount();
        for (int i = 0; !stop && plat::TickCount() - start < 10000; ++i) {
            if (i % 4 == 0) client->Write(longer.data(), 1173);
            client->Write("trickle", 7);
            plat::SleepMs(5);
        }
    });
    std::vector<char> longer(1173, 'e');
    auto client = DatagramTo(server->LocalPort());
    ASSERT_EQ(client->Write(longer.data(), 1173), 1173);
    ASSERT_TRUE(server->WaitReadable(5000));
    std::vector<char> buffer(1172);
    uint32_t start = plat::TickCount();
    for (int i = 0; i < 3; ++i) server->Read(buffer.data(), 1172);
    uint32_t spent = plat::TickCount() - start;
    stop = true;
    sender.join();
    EXPECT_LT(spent, 5000u);
}

TEST(SocketFailures, IdentifiersOfTheFailures) {
    // Kind 2 and a non-zero family are rejected when the socket is created.
    Socket badKind(SocketAddress("127.0.0.1", 0, 2));
    EXPECT_EQ(CommFailureId([&] { badKind.Create(); }), brx::kCommTypeError);
    EXPECT_FALSE(badKind.IsOpen());
    EXPECT_EQ(CommFailureId([&] { badKind.Open(); }), brx::kCommTypeError);
    Socket badFamily(SocketAddress("127.0.0.1", 0, kSocketDatagram, 1));
    EXPECT_EQ(CommFailureId([&] { badFamily.Open(); }), brx::kCommTypeError);

    // Operations that need an open socket.
    Socket closed(SocketAddress("127.0.0.1", 0, kSocketDatagram));
    char b[4];
    bool trouble = false;
    EXPECT_EQ(CommFailureId([&] { closed.Bind(); }), brx::kCommOpenError);
    EXPECT_EQ(CommFailureId([&] { closed.Read(b, 4); }), brx::kCommOpenError);
    EXPECT_EQ(CommFailureId([&] { closed.Write(b, 4); }), brx::kCommOpenError);
    EXPECT_EQ(CommFailureId([&] { closed.IsReadable(); }), brx::kCommOpenError);
    EXPECT_EQ(CommFailureId([&] { closed.CheckReadable(trouble); }), brx::kCommOpenError);
    EXPECT_FALSE(closed.IsWritable());

    // A port in use cannot be bound again.
    auto first = BoundDatagramSocket();
    Socket second(SocketAddress("127.0.0.1", first->LocalPort(), kSocketDatagram));
    second.Create();
    EXPECT_EQ(CommFailureId([&] { second.Bind(); }), brx::kCommBindError);
    second.Close();

    // The failure names the channel that raised it.
    try {
        closed.Bind();
        FAIL() << "no failure";
    } catch (brx::CCommunicationsExceptionObject* raised) {
        std::unique_ptr<brx::CCommunicationsExceptionObject> owned(raised);
        EXPECT_EQ(owned->GetChannel(), &closed);
    }
}

TEST(SocketFailures, CloseIsIdempotentAndClearsTheConnectedFlag) {
    auto s = BoundDatagramSocket();
    s->Close();
    EXPECT_FALSE(s->IsOpen());
    s->Close();
    EXPECT_FALSE(s->IsConnected());
}

TEST(StreamSocket, BlockingOpenAndConnectWithTimeOutReachAListener) {
    TcpListener listener;
    for (uint32_t ms : {0u, 1500u}) {
        Socket s(SocketAddress("localhost", listener.Port(), kSocketStream));
        s.Connect(ms);
        ASSERT_TRUE(s.IsOpen()) << ms;
        ASSERT_EQ(s.Write("echo", 4), 4);
        ASSERT_TRUE(listener.AcceptAndEcho());
        ASSERT_TRUE(s.WaitReadable(5000));
        char buffer[8];
        EXPECT_EQ(s.Read(buffer, sizeof buffer), 4) << ms;
        s.Close();
    }
}

TEST(StreamSocket, RefusedConnectionsFail) {
    uint16_t port = UnusedTcpPort();
    Socket s(SocketAddress("127.0.0.1", port, kSocketStream));
    EXPECT_EQ(CommFailureId([&] { s.Open(); }), brx::kCommOpenError);
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(CommFailureId([&] { s.Connect(1500); }), brx::kCommOpenError);
    EXPECT_FALSE(s.IsOpen());
}

// Polls ConnectFinished, bounded: at most about five seconds.
bool FinishConnect(Socket& s) {
    for (int i = 0; i < 500; ++i) {
        if (s.ConnectFinished()) return true;
        plat::SleepMs(10);
    }
    return false;
}

TEST(StreamSocket, TwoStepConnect) {
    TcpListener listener;
    Socket good(SocketAddress("127.0.0.1", listener.Port(), kSocketStream));
    good.BeginConnect();
    ASSERT_TRUE(FinishConnect(good));
    EXPECT_TRUE(good.IsOpen());
    EXPECT_TRUE(good.IsConnected());
    good.Close();

    // A refused attempt is over, and the socket is left closed.
    Socket refused(SocketAddress("127.0.0.1", UnusedTcpPort(), kSocketStream));
    // Refused at once (a failure, socket closed) or later (ConnectFinished).
    if (CommFailureId([&] { refused.BeginConnect(); }) == -1) {
        ASSERT_TRUE(FinishConnect(refused));
    }
    EXPECT_FALSE(refused.IsOpen());

    // Datagram sockets are done at once.
    Socket datagram(SocketAddress("127.0.0.1", 9, kSocketDatagram));
    datagram.BeginConnect();
    EXPECT_TRUE(datagram.ConnectFinished());
    datagram.Close();
}

}  // namespace
