// The link's rules that need no device: line format texts, port names, the
// deadline, failures on a closed or unnamed link, and the identity parser.
#include "upslink/serial_link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "platform/errors.h"
#include "thrown_id.h"
#include "upslink/pnp_identity.h"
#include "upslink/serial_port.h"

namespace {

PnpIdentity Parse(const std::string& bytes) {
    PnpIdentity id;
    std::memset(&id, 0x5A, sizeof id);  // the parser must clear what it does not fill
    ParsePnpIdentity(reinterpret_cast<const uint8_t*>(bytes.data()),
                     static_cast<uint32_t>(bytes.size()), id);
    return id;
}

bool IsZero(const PnpIdentity& id) {
    const PnpIdentity zero{};
    return std::memcmp(&id, &zero, sizeof id) == 0;
}

// The six-bit form of a normal-form string: every byte minus 0x20, "(" as 0x08.
std::string SixBit(const std::string& normal) {
    std::string s = normal;
    for (char& c : s) c = static_cast<char>(c - 0x20);
    return s;
}

}  // namespace

TEST(SerialLine, ModeStringsFromTheFourNumbers) {
    EXPECT_EQ(BuildModeString(9600, 8, 2, 0), "baud=9600 parity=N data=8 stop=1");
    EXPECT_EQ(BuildModeString(1200, 7, 0, 1), "baud=1200 parity=E data=7 stop=1.5");
    EXPECT_EQ(BuildModeString(19200, 8, 4, 2), "baud=19200 parity=S data=8 stop=2");
    EXPECT_EQ(ParityLetter(1), 'M');
    EXPECT_EQ(ParityLetter(3), 'O');
}

TEST(SerialLine, PortNamesLeadToDevicePaths) {
    EXPECT_EQ(PortDevicePath("COM1:"), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath("com12:"), "/dev/ttyS11");
    // Not a COM name: used as given.
    EXPECT_EQ(PortDevicePath("COM0"), "COM0");
    EXPECT_EQ(PortDevicePath("COM"), "COM");
    EXPECT_EQ(PortDevicePath("COM1x"), "COM1x");
    EXPECT_EQ(PortDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath("COM99999999999999999999"), "COM99999999999999999999");
}

TEST(SerialLine, DeadlineSurvivesTheTickCountWrapping) {
    EXPECT_FALSE(DeadlineExpired(1000, 999));
    EXPECT_FALSE(DeadlineExpired(1000, 1000));
    EXPECT_TRUE(DeadlineExpired(1000, 1001));
    // Set just before the wrap, due just after it.
    EXPECT_FALSE(DeadlineExpired(0x00000010u, 0xFFFFFFF0u));
    EXPECT_TRUE(DeadlineExpired(0x00000010u, 0x00000011u));
    // Set before the wrap, now after it and past.
    EXPECT_TRUE(DeadlineExpired(0xFFFFFFF0u, 0x00000005u));

    // Each link keeps its own deadline.
    SerialLink link("", 1200, 8, 2, 0), other("", 1200, 8, 2, 0);
    link.SetDeadline(60000);
    other.SetDeadline(60000);
    EXPECT_FALSE(link.DeadlinePassed());
    EXPECT_GT(link.DeadlineRemaining(), 50000u);
    link.SetDeadline(0);
    // Wine advances its tick count in coarse steps, and late under load: wait
    // for the next tick with a bounded poll rather than a fixed sleep.
    for (int i = 0; i < 400 && !link.DeadlinePassed(); ++i) plat::SleepMs(5);
    EXPECT_TRUE(link.DeadlinePassed());
    EXPECT_EQ(link.DeadlineRemaining(), 0u);
    EXPECT_FALSE(other.DeadlinePassed());
}

TEST(SerialLink, ClosedAndUnnamedLinksFailWithTheirCodes) {
    SerialLink link("", 2400, 8, 2, 0);
    EXPECT_FALSE(link.IsOpen());
    link.SetBaud(19200);  // closed: only stored
    EXPECT_EQ(link.GetBaud(), 19200u);
    EXPECT_EQ(ThrownId([&] { link.Open(); }), plat::kErrInvalidParameter);
    // Without a name, reads and writes move nothing and do not fail.
    char buf[4];
    uint32_t n = 7;
    link.Read(buf, sizeof buf, n);
    EXPECT_EQ(n, 0u);
    n = 7;
    link.Write("ab", 2, n);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(ThrownId([&] { link.ReadRaw(buf, sizeof buf); }), plat::kErrInvalidHandle);
    EXPECT_EQ(ThrownId([&] { link.ApplySettings(); }), plat::kErrInvalidHandle);
    EXPECT_EQ(ThrownId([&] { link.EnumeratePnp(); }), plat::kErrInvalidHandle);
    EXPECT_EQ(link.GetBaud(), 1200u);
    link.Close();  // closing a closed link does nothing

    SerialLink named("COM97:", 9600, 8, 2, 0);
    EXPECT_EQ(ThrownId([&] { named.Read(buf, sizeof buf, n); }), plat::kErrInvalidHandle);
    EXPECT_EQ(ThrownId([&] { named.Write(buf, 1, n); }), plat::kErrInvalidHandle);
}

TEST(SerialLink, AMissingPortFailsWithTheSystemCodeAndEnumerationWithInvalidHandle) {
    SerialLink link("COM97:", 9600, 8, 2, 0);
    plat::SetLastError(0);
    EXPECT_EQ(OpenPort("COM97:"), InvalidPort());
    uint32_t reason = plat::LastError();
    EXPECT_NE(reason, 0u);
    EXPECT_EQ(ThrownId([&] { link.Open(); }), reason);
    EXPECT_EQ(ThrownId([&] { link.EnumeratePnp(); }), plat::kErrInvalidHandle);
    // The system's reason stays with the link for the agent's report.
    EXPECT_EQ(link.OpenFailure(), reason);
    // A failed enumeration leaves the link closed at 1200 baud.
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.GetBaud(), 1200u);
}

TEST(PnpIdentity, ShortestStringFillsRevisionManufacturerAndProduct) {
    PnpIdentity id = Parse(std::string("\x01\x02(", 3) +
                           "\x01\x3F"
                           "PNP0C0F)");
    EXPECT_EQ(id.revision, 0x013F);
    EXPECT_EQ(std::string(id.manufacturer, 3), "PNP");
    EXPECT_EQ(id.product, 0x0306);  // 'C' and 'F' contribute their low bits: 3 and 6
    EXPECT_EQ(id.serialNumber, 0u);
    EXPECT_EQ(id.className[0], 0);
    EXPECT_EQ(id.userName[0], 0);
    EXPECT_EQ(id.compatible[0].manufacturer[0], 0);
    EXPECT_EQ(id.checksum, 0);
}

TEST(PnpIdentity, StringsTooShortOrWithoutStartAreIgnored) {
    EXPECT_TRUE(IsZero(Parse("(12ABC123")));  // 9 bytes from the start
    EXPECT_TRUE(IsZero(Parse("no start here at all")));
    EXPECT_TRUE(IsZero(Parse("")));
    // A start too near the end is passed over for none.
    PnpIdentity id = Parse("xx(12ABC1234(");
    EXPECT_EQ(std::string(id.manufacturer, 3), "ABC");
}

TEST(PnpIdentity, ExtensionsWithAbsentFields) {
    // No serial number, a class name, no compatible devices, a user name.
    PnpIdentity id = Parse("(12ABC1234\\\\CLASS\\\\Jane\\AB)");
    EXPECT_EQ(id.serialNumber, 0u);
    EXPECT_STREQ(id.className, "CLASS");
    EXPECT_EQ(id.compatible[0].manufacturer[0], 0);
    EXPECT_STREQ(id.userName, "Jane");
    EXPECT_EQ(id.checksum, static_cast<uint8_t>(('A' << 4) | ('B' & 0x0F)));
    // A user name ends at ")", and ")" after "\" means no checksum.
    id = Parse("(12ABC1234\\00000001\\C\\DEF0001\\Bob)");
    EXPECT_EQ(id.serialNumber, 1u);
    EXPECT_STREQ(id.userName, "Bob");
    EXPECT_EQ(id.checksum, 0);
    id = Parse("(12ABC1234\\00000001\\C\\DEF0001\\Bob\\)");
    EXPECT_EQ(id.checksum, 0);
}

TEST(PnpIdentity, FieldsStopAtTheirCapacities) {
    std::string longClass(60, 'K');
    std::string longUser(70, 'U');
    std::string compat = "AAA0001,BBB0002,CCC0003,DDD0004,EEE0005,FFF0006,GGG0007";
    PnpIdentity id =
        Parse("(12ABC1234\\12345678\\" + longClass + "\\" + compat + "\\" + longUser + "\\99)");
    EXPECT_EQ(std::string(id.className), std::string(33, 'K'));
    EXPECT_EQ(std::string(id.userName), std::string(40, 'U'));
    EXPECT_EQ(std::string(id.compatible[4].manufacturer, 3), "EEE");
    EXPECT_EQ(id.compatible[4].product, 5);
    EXPECT_EQ(id.checksum, 0x99);  // parsing went on past the sixth entry
}

TEST(PnpIdentity, CutShortKeepsWhatWasFilled) {
    std::string full = "(12ABC1234\\87654321\\MODEMCLASS\\XYZ0001,QRS0002\\Some User\\4F)";
    for (size_t n = 0; n <= full.size(); ++n) {
        // Every prefix parses without reading past it (checked by sanitizers
        // and by the bytes after the prefix being garbage).
        std::string cut = full.substr(0, n) + std::string(200, '\\');
        PnpIdentity id;
        ParsePnpIdentity(reinterpret_cast<const uint8_t*>(cut.data()), static_cast<uint32_t>(n),
                         id);
        if (n >= 10) {
            EXPECT_EQ(std::string(id.manufacturer, 3), "ABC") << n;
        }
        if (n < full.size() - 2) {
            EXPECT_EQ(id.checksum, 0) << n;
        }
    }
    PnpIdentity id = Parse(full.substr(0, 28));  // inside the class name
    EXPECT_EQ(id.serialNumber, 0x87654321u);
    EXPECT_STREQ(id.className, "MODEMCLA");
}

TEST(PnpIdentity, SixBitFormStoresAsciiText) {
    std::string normal = "(12ABC1234\\87654321\\MODEM\\XYZ0001\\Jo\\4F)";
    std::string six = SixBit(normal);
    ASSERT_EQ(six[0], 0x08);
    PnpIdentity id = Parse("\x55" + six);
    EXPECT_EQ(std::string(id.manufacturer, 3), "ABC");
    EXPECT_EQ(id.revision, ((('1' - 0x20) & 0x3F) << 8) | (('2' - 0x20) & 0x3F));
    EXPECT_EQ(id.product, 0x1234);
    EXPECT_EQ(id.serialNumber, 0x87654321u);
    EXPECT_STREQ(id.className, "MODEM");
    EXPECT_EQ(std::string(id.compatible[0].manufacturer, 3), "XYZ");
    EXPECT_STREQ(id.userName, "Jo");
    EXPECT_EQ(id.checksum, static_cast<uint8_t>((('4' - 0x20) << 4) | (('F' - 0x20) & 0x0F)));
}
