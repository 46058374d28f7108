// The port layer and the link on a real pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/errors.h"
#include "test_pty_posix.h"
#include "thrown_id.h"
#include "upslink/serial_link.h"
#include "upslink/serial_port.h"
#include "wait_for.h"

namespace {

struct PortCloser {
    void operator()(void* p) const { ClosePort(p); }
};
using OwnedPort = std::unique_ptr<void, PortCloser>;

}  // namespace

TEST(SerialPortPosix, RawLineWithImmediateReadsAndTheFormatOnTheWire) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    // A line left with every kind of flow control on by an earlier host.
    termios tio{};
    ASSERT_TRUE(pty.LineSettings(tio));
    tio.c_iflag |= IXON | IXOFF | IXANY;
    tio.c_cflag |= CRTSCTS;
    ASSERT_EQ(::tcsetattr(pty.Master(), TCSANOW, &tio), 0);
    OwnedPort port(OpenPort(pty.SlavePath().c_str()));
    ASSERT_NE(port.get(), InvalidPort());
    ASSERT_TRUE(ConfigurePort(port.get(), 19200, 8, 2, 0));

    ASSERT_TRUE(pty.LineSettings(tio));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);

    // Nothing there: the read returns at once, successfully, with nothing.
    char buf[64];
    uint32_t got = 99;
    uint32_t before = plat::TickCount();
    EXPECT_TRUE(ReadPort(port.get(), buf, sizeof buf, got));
    EXPECT_EQ(got, 0u);
    EXPECT_LT(plat::TickCount() - before, 500u);

    // Bytes a terminal would act on pass through unchanged both ways.
    const std::string special("\x03\x0D\x11\x13\x1A\x7F\x0A\xAB", 8);
    pty.Send(special);
    std::string in;
    ASSERT_TRUE(WaitFor([&] {
        uint32_t n = ReadAvailable(port.get(), buf, sizeof buf);
        in.append(buf, n);
        return in.size() >= special.size();
    }));
    EXPECT_EQ(in, special);
    uint32_t written = 0;
    ASSERT_TRUE(
        WritePort(port.get(), special.data(), static_cast<uint32_t>(special.size()), written));
    EXPECT_EQ(written, special.size());
    EXPECT_EQ(pty.Receive(2000), special);

    // Speeds a port cannot take are refused rather than silently replaced.
    EXPECT_FALSE(ConfigurePort(port.get(), 12345, 8, 2, 0));
    EXPECT_TRUE(ConfigurePort(port.get(), 1200, 7, 0, 2));
    ASSERT_TRUE(pty.LineSettings(tio));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B1200));
}

TEST(SerialPortPosix, ModemLinesOfAPseudoTerminalDoNotAnswer) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    OwnedPort port(OpenPort(pty.SlavePath().c_str()));
    ASSERT_NE(port.get(), InvalidPort());
    for (int pin : {kPinDcd, kPinDtr, kPinDsr, kPinRts, kPinCts, kPinRi, 0, 42})
        EXPECT_FALSE(GetModemLine(port.get(), pin)) << pin;
    EXPECT_FALSE(SetControlLine(port.get(), kPinDtr, true));
    EXPECT_FALSE(SetControlLine(port.get(), kPinDcd, true));
}

TEST(SerialPortPosix, APortHeldElsewhereFailsToOpenLikeAMissingOne) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    OwnedPort first(OpenPort(pty.SlavePath().c_str()));
    ASSERT_NE(first.get(), InvalidPort());
    ASSERT_TRUE(ConfigurePort(first.get(), 9600, 8, 2, 0));
    errno = 0;
    EXPECT_EQ(OpenPort(pty.SlavePath().c_str()), InvalidPort());
    EXPECT_EQ(plat::LastError(), static_cast<uint32_t>(EBUSY));

    // Through the link: the open fails with the busy code, the enumeration
    // with the invalid-handle code, and the holder keeps its port. The link
    // keeps the busy code for the agent's report either way.
    SerialLink link(pty.SlavePath(), 1200, 8, 2, 0);
    EXPECT_EQ(link.OpenFailure(), 0u);
    EXPECT_EQ(ThrownId([&] { link.Open(); }), static_cast<uint32_t>(EBUSY));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.OpenFailure(), static_cast<uint32_t>(EBUSY));
    link.Close();
    EXPECT_EQ(link.OpenFailure(), static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(ThrownId([&] { link.EnumeratePnp(); }), plat::kErrInvalidHandle);
    EXPECT_EQ(link.OpenFailure(), static_cast<uint32_t>(EBUSY));
    pty.Send("x");
    char c = 0;
    EXPECT_TRUE(WaitFor([&] { return ReadAvailable(first.get(), &c, 1) == 1; }));

    // Released: the next open succeeds, and the reason is gone.
    first.reset();
    EXPECT_EQ(ThrownId([&] { link.Open(); }), 0u);
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.OpenFailure(), 0u);
}

TEST(SerialPortPosix, MissingPortLeavesTheSystemReason) {
    errno = 0;
    EXPECT_EQ(OpenPort("/dev/qln-no-such-port"), InvalidPort());
    EXPECT_EQ(plat::LastError(), static_cast<uint32_t>(ENOENT));
    SerialLink link("/dev/qln-no-such-port", 1200, 8, 2, 0);
    EXPECT_EQ(ThrownId([&] { link.Open(); }), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(ThrownId([&] { link.EnumeratePnp(); }), plat::kErrInvalidHandle);
    EXPECT_EQ(link.OpenFailure(), static_cast<uint32_t>(ENOENT));
}

TEST(SerialPortPosix, WaitBlocksUntilInputOrTimeAndSurvivesAHangUp) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    OwnedPort port(OpenPort(pty.SlavePath().c_str()));
    ASSERT_NE(port.get(), InvalidPort());
    ASSERT_TRUE(ConfigurePort(port.get(), 19200, 8, 2, 0));

    uint32_t before = plat::TickCount();
    EXPECT_FALSE(WaitReadable(port.get(), 150));
    EXPECT_GE(plat::TickCount() - before, 140u);

    std::thread device([&] {
        plat::SleepMs(50);
        pty.Send("A");
    });
    before = plat::TickCount();
    EXPECT_TRUE(WaitReadable(port.get(), 5000));
    EXPECT_LT(plat::TickCount() - before, 4000u);
    device.join();
    char c = 0;
    EXPECT_EQ(ReadAvailable(port.get(), &c, 1), 1u);

    // After the far end hangs up, a wait still takes its time (it neither
    // spins nor returns at once), and reads deliver nothing.
    pty.CloseMaster();
    before = plat::TickCount();
    EXPECT_FALSE(WaitReadable(port.get(), 150));
    EXPECT_GE(plat::TickCount() - before, 140u);
    uint32_t got = 1;
    ReadPort(port.get(), &c, 1, got);
    EXPECT_EQ(got, 0u);
}

// A link that records how it drives the control lines.
class RecordingLink : public SerialLink {
public:
    using SerialLink::SerialLink;
    void SetControlLine(int pin, bool on) override {
        m_Calls.push_back((pin == kPinDtr   ? "DTR"
                           : pin == kPinRts ? "RTS"
                                            : "?") +
                          std::string(on ? "+" : "-"));
        SerialLink::SetControlLine(pin, on);
    }
    std::vector<std::string> m_Calls;
};

TEST(SerialLinkPosix, EnumerationDrivesTheLinesAndReadsTheIdentity) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    RecordingLink link(pty.SlavePath(), 19200, 8, 4, 1);
    // The device answers once the line is at 1200 baud.
    std::thread device([&] {
        if (WaitFor([&] { return pty.Speed() == B1200; })) {
            plat::SleepMs(300);
            pty.Send(
                "\x01\x02(\x01\x02"
                "ABC0A1F\\01234567\\MODEM\\XYZ0001,QRS0002\\My UPS\\3D)junk");
        }
    });
    uint32_t before = plat::TickCount();
    link.EnumeratePnp();
    device.join();
    EXPECT_GE(plat::TickCount() - before, 1400u);
    const std::vector<std::string> expected{"RTS-", "DTR+", "RTS-", "DTR-", "DTR+",
                                            "RTS+", "RTS-", "DTR-", "RTS+", "DTR+"};
    EXPECT_EQ(link.m_Calls, expected);
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.GetBaud(), 1200u);

    const PnpIdentity& id = link.GetPnpIdentity();
    EXPECT_EQ(id.revision, 0x0102);
    EXPECT_EQ(std::string(id.manufacturer, 3), "ABC");
    EXPECT_EQ(id.product, 0x0116);  // 'A' and 'F' contribute their low bits: 1 and 6
    EXPECT_EQ(id.serialNumber, 0x01234567u);
    EXPECT_STREQ(id.className, "MODEM");
    EXPECT_EQ(std::string(id.compatible[1].manufacturer, 3), "QRS");
    EXPECT_EQ(id.compatible[1].product, 0x0002);
    EXPECT_STREQ(id.userName, "My UPS");
    EXPECT_EQ(id.checksum, 0x34);  // ('3' << 4) | ('D' & 0x0F), in eight bits

    // A pseudo-terminal shows neither character size nor parity; the speed
    // and the raw mode are what can be seen.
    termios tio{};
    ASSERT_TRUE(pty.LineSettings(tio));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B1200));
    EXPECT_EQ(tio.c_lflag & ICANON, 0u);
}

TEST(SerialLinkPosix, EnumerationOfASilentPortLeavesAnEmptyIdentityAndTheLineOpen) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    SerialLink link(pty.SlavePath(), 9600, 8, 2, 0);
    link.Open();
    link.EnumeratePnp();
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.GetBaud(), 1200u);
    const PnpIdentity& id = link.GetPnpIdentity();
    const PnpIdentity zero{};
    EXPECT_EQ(std::memcmp(&id, &zero, sizeof id), 0);
    EXPECT_EQ(pty.Speed(), static_cast<speed_t>(B1200));
}

TEST(SerialLinkPosix, DrainTakesItsTimeKeepsReadingAndStopsAtItsBound) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    SerialLink link(pty.SlavePath(), 19200, 8, 2, 0);
    link.Open();

    pty.Send("stale bytes");
    uint32_t before = plat::TickCount();
    link.Drain(100);
    EXPECT_GE(plat::TickCount() - before, 100u);
    char buf[32];
    EXPECT_EQ(link.ReadRaw(buf, sizeof buf), 0u);

    // A line that never stops talking does not hold the drain for good.
    std::atomic<bool> stop{false};
    ASSERT_EQ(::fcntl(pty.Master(), F_SETFL, O_NONBLOCK), 0);
    std::thread chatter([&] {
        const char burst[64] = {};
        while (!stop) {
            pollfd p{pty.Master(), POLLOUT, 0};
            if (::poll(&p, 1, 10) == 1) (void)!::write(pty.Master(), burst, sizeof burst);
        }
    });
    before = plat::TickCount();
    link.Drain(100);
    uint32_t spent = plat::TickCount() - before;
    stop = true;
    chatter.join();
    EXPECT_GE(spent, 100u);
    EXPECT_LT(spent, 4000u);
}

TEST(SerialLinkPosix, ReadPacedGathersUntilALateReadBringsNothing) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    SerialLink link(pty.SlavePath(), 19200, 8, 2, 0);
    link.Open();
    pty.Send("abc");
    std::thread device([&] {
        plat::SleepMs(60);
        pty.Send("def");
    });
    char buf[16] = {};
    uint32_t before = plat::TickCount();
    uint32_t got = link.ReadPaced(buf, sizeof buf, 200);
    device.join();
    // 20 ms before the first read, 200 after each short one: the second
    // read finds the late bytes, the third finds nothing and ends it.
    EXPECT_EQ(std::string(buf, got), "abcdef");
    EXPECT_GE(plat::TickCount() - before, 420u);
    // A full buffer ends it without the pause after the last read.
    pty.Send("0123456789");
    ASSERT_TRUE(WaitFor([&] { return link.WaitReadable(0); }));
    before = plat::TickCount();
    got = link.ReadPaced(buf, 4, 200);
    EXPECT_EQ(std::string(buf, got), "0123");
    EXPECT_LT(plat::TickCount() - before, 200u);
}
