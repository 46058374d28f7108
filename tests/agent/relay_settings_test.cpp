// The relay's settings as read from its INI file: today's defaults, numbers
// read strictly, the stored password taken only when it is scrambled text,
// and the NetXCP access rules (bind address, allow-list, password limits).
#include "agent/relay_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "agent/ini_file.h"
#include "common/config/encryption.h"
#include "platform/errors.h"
#include "scratch_dir.h"

namespace {

class RelaySettingsTest : public ::testing::Test {
protected:
    ScratchDir m_Dir{"settings"};
    std::string m_Path = m_Dir.File("qln.ini");

    RelaySettings Read(const std::string& text) {
        EXPECT_TRUE(WriteText(m_Path, text));
        CINIFile profile(m_Path.c_str());
        return ReadRelaySettings(profile, m_Path);
    }
    // The error a settings text raises; an empty key when it raises none.
    SettingsError Refusal(const std::string& text) {
        try {
            Read(text);
        } catch (const SettingsError& error) {
            return error;
        }
        return SettingsError{};
    }
};

std::string Scrambled(const char* clear) {
    char* text = CEncryption::Encrypt(clear);
    std::string result = text ? text : "";
    std::free(text);
    return result;
}

TEST_F(RelaySettingsTest, AbsentAndEmptyValuesGiveTodaysDefaults) {
    for (const std::string& text :
         {std::string(),
          std::string("[Communications]\nCommunicationsPort=\nCommunicationsBaudRate=\n"
                      "CommunicationsBaudRateLast=\n[NetXCP]\nAgentPort=\n"
                      "BindAddress=\nAllowClients= \nPasswordTries=\n"
                      "PasswordWindow=\nPasswordLockout=\t\n")}) {
        RelaySettings s = Read(text);
        EXPECT_EQ(s.configPath, m_Path);
        EXPECT_EQ(s.portName, "COM1:");
        EXPECT_EQ(s.baud, 9600u);
        EXPECT_TRUE(s.passwordIsDefault);
        EXPECT_EQ(s.access.password, "Wopra3");
        EXPECT_TRUE(s.access.passwordUsable);
        EXPECT_EQ(s.access.port, 7010);
        EXPECT_EQ(s.access.bindAddress, 0u);
        EXPECT_TRUE(s.access.allowedClients.empty());
        EXPECT_EQ(s.access.passwordTries, 5u);
        EXPECT_EQ(s.access.passwordWindowSeconds, 60u);
        EXPECT_EQ(s.access.passwordLockoutSeconds, 60u);
    }
    // A file that cannot be read is the same as an empty one.
    CINIFile missing(m_Dir.File("missing.ini").c_str());
    EXPECT_EQ(ReadRelaySettings(missing, "missing.ini").access.port, 7010);
}

// The UPS's identity is read with the rest, once, as written; the devices of
// the run are made with it.
TEST_F(RelaySettingsTest, TheUpsIdentityComesWithTheSettings) {
    RelaySettings s = Read("[UPSIdent]\nName=Server room\nAttachedDevices=db1, db2\n");
    EXPECT_EQ(s.upsIdentity.name, "Server room");
    EXPECT_EQ(s.upsIdentity.attachedDevices, "db1, db2");
    s = Read("[Other]\nName=x\n");
    EXPECT_EQ(s.upsIdentity.name, "");
    EXPECT_EQ(s.upsIdentity.attachedDevices, "");
}

TEST_F(RelaySettingsTest, TheBaudFallsBackAsItAlwaysHas) {
    auto baud = [this](const std::string& keys) { return Read("[Communications]\n" + keys).baud; };
    EXPECT_EQ(baud("CommunicationsBaudRate=19200\nCommunicationsBaudRateLast=2400\n"), 19200u);
    EXPECT_EQ(baud("CommunicationsBaudRate=0\nCommunicationsBaudRateLast=2400\n"), 2400u);
    EXPECT_EQ(baud("CommunicationsBaudRateLast=1200\n"), 1200u);
    EXPECT_EQ(baud("CommunicationsBaudRate=0\nCommunicationsBaudRateLast=0\n"), 9600u);
    // The second key is read only when the first is not set.
    EXPECT_EQ(baud("CommunicationsBaudRate=4800\nCommunicationsBaudRateLast=junk\n"), 4800u);
    SettingsError e = Refusal("[Communications]\nCommunicationsBaudRate=9600 baud\n");
    EXPECT_EQ(e.section, "Communications");
    EXPECT_EQ(e.key, "CommunicationsBaudRate");
    EXPECT_EQ(e.value, "9600 baud");
    EXPECT_EQ(e.allowed, "0-4294967295");
    EXPECT_EQ(
        Refusal("[Communications]\nCommunicationsBaudRate=0\nCommunicationsBaudRateLast=-1\n").key,
        "CommunicationsBaudRateLast");
}

TEST_F(RelaySettingsTest, NumbersAreStrictDecimalsInTheirRange) {
    EXPECT_EQ(Read("[NetXCP]\nAgentPort= 7011 \n").access.port, 7011);
    EXPECT_EQ(Read("[NetXCP]\nAgentPort=\t07012\n").access.port, 7012);
    EXPECT_EQ(Read("[NetXCP]\nAgentPort=65535\n").access.port, 65535);
    // Numbers that wrap through "%u", carry trailing text, have a sign or
    // another base, or lie outside the setting's range.
    for (const char* value : {"4294967297", "4294967296", "99999999999999999999999", "7010x", "abc",
                              "70 10", "-1", "+7010", "0x1B62", "0", "65536", "7010.0"}) {
        SettingsError e = Refusal(std::string("[NetXCP]\nAgentPort=") + value + "\n");
        EXPECT_EQ(e.section, "NetXCP") << value;
        EXPECT_EQ(e.key, "AgentPort") << value;
        EXPECT_EQ(e.value, value);
        EXPECT_EQ(e.allowed, "1-65535") << value;
    }
    SettingsError e = Refusal("[NetXCP]\nPasswordTries=1001\n");
    EXPECT_EQ(e.key, "PasswordTries");
    EXPECT_EQ(e.allowed, "0-1000");
    EXPECT_EQ(Refusal("[NetXCP]\nPasswordWindow=0\n").allowed, "1-86400");
    EXPECT_EQ(Refusal("[NetXCP]\nPasswordLockout=86401\n").key, "PasswordLockout");
    EXPECT_EQ(Refusal("[NetXCP]\nPasswordGuessesPerMinute=60001\n").allowed, "0-60000");
    EXPECT_EQ(Read("[NetXCP]\nPasswordGuessesPerMinute=\n").access.passwordBudget, 60u);

    RelaySettings s = Read(
        "[NetXCP]\nPasswordTries=0\nPasswordWindow=600\nPasswordLockout=86400\n"
        "PasswordGuessesPerMinute=0\n");
    EXPECT_EQ(s.access.passwordBudget, 0u);
    EXPECT_EQ(s.access.passwordTries, 0u);
    EXPECT_EQ(s.access.passwordWindowSeconds, 600u);
    EXPECT_EQ(s.access.passwordLockoutSeconds, 86400u);
}

TEST_F(RelaySettingsTest, TheRequestQueueSettings) {
    RelaySettings s = Read("[NetXCP]\nRequestMaxAge=\nRequestQueueSize=\n");
    EXPECT_EQ(s.access.requestMaxAgeSeconds, 3u);
    EXPECT_EQ(s.access.requestQueueSize, 256u);
    s = Read("[NetXCP]\nRequestMaxAge=0\nRequestQueueSize=4096\n");
    EXPECT_EQ(s.access.requestMaxAgeSeconds, 0u);  // no limit
    EXPECT_EQ(s.access.requestQueueSize, 4096u);
    EXPECT_EQ(Refusal("[NetXCP]\nRequestMaxAge=3s\n").allowed, "0-86400");
    EXPECT_EQ(Refusal("[NetXCP]\nRequestQueueSize=0\n").allowed, "1-4096");
    EXPECT_EQ(Refusal("[NetXCP]\nRequestQueueSize=4097\n").key, "RequestQueueSize");
}

TEST_F(RelaySettingsTest, TheLivenessCheck) {
    EXPECT_EQ(Read("[Communications]\nLivenessTries=\n").livenessTries, 3u);
    EXPECT_EQ(Read("[Communications]\nLivenessTries=0\n").livenessTries, 0u);  // off
    EXPECT_EQ(Read("[Communications]\nLivenessTries=20\n").livenessTries, 20u);
    SettingsError e = Refusal("[Communications]\nLivenessTries=21\n");
    EXPECT_EQ(e.key, "LivenessTries");
    EXPECT_EQ(e.allowed, "0-20");
}

// The status file goes to the agent's runtime folder under a name of its
// port unless [Status] names an absolute path; the Prometheus file is off
// unless named.
TEST_F(RelaySettingsTest, StatusFilesAreAbsolutePathsOrTheDefaults) {
    RelaySettings s = Read("[NetXCP]\nAgentPort=7011\n");
    EXPECT_EQ(s.statusFile, DefaultStatusFile(7011));
    EXPECT_NE(s.statusFile.find("qln-7011.status"), std::string::npos);
    EXPECT_EQ(s.prometheusFile, "");
    s = Read("[Status]\nStatusFile= /var/lib/qln/status \nPrometheusFile=C:\\metrics\\qln.prom\n");
    EXPECT_EQ(s.statusFile, "/var/lib/qln/status");
    EXPECT_EQ(s.prometheusFile, "C:\\metrics\\qln.prom");
    for (const char* value : {"status", "./qln.status", "C:qln.status"}) {
        SettingsError e = Refusal(std::string("[Status]\nPrometheusFile=") + value + "\n");
        EXPECT_EQ(e.section, "Status") << value;
        EXPECT_EQ(e.key, "PrometheusFile") << value;
        EXPECT_EQ(e.allowed, "an absolute file path") << value;
    }
}

TEST_F(RelaySettingsTest, CarriageReturnLineEndsReadAsOnWindows) {
    // Written byte for byte: the POSIX runtime leaves the CR on each value.
    ASSERT_TRUE(WriteBytes(m_Path,
                           "[Communications]\r\nCommunicationsPort=/dev/ttyS1\r\n"
                           "CommunicationsBaudRate=2400\r\n[Network]\r\nPasswd=" +
                               Scrambled("S3cret") +
                               "\r\n[NetXCP]\r\nAgentPort=7020\r\n"
                               "AllowClients=10.0.0.0/8\r\n"));
    CINIFile profile(m_Path.c_str());
    RelaySettings s = ReadRelaySettings(profile, m_Path);
    EXPECT_EQ(s.portName, "/dev/ttyS1");
    EXPECT_EQ(s.baud, 2400u);
    EXPECT_EQ(s.access.password, "S3cret");
    EXPECT_EQ(s.access.port, 7020);
    ASSERT_EQ(s.access.allowedClients.size(), 1u);
}

TEST_F(RelaySettingsTest, ScrambledPasswordsAreUnscrambledAndTheDefaultIsRecognised) {
    RelaySettings s = Read("[Network]\nPasswd=" + Scrambled("S3cret") + "\n");
    EXPECT_TRUE(s.access.passwordUsable);
    EXPECT_EQ(s.access.password, "S3cret");
    EXPECT_FALSE(s.passwordIsDefault);
    // The library's own text, with the blanks of its right-aligned fields.
    s = Read("[Network]\nPasswd= 27 28253136 78238 79  3\n");
    EXPECT_EQ(s.access.password, "secret");

    // The default counts as in use however it is stored, and so does a
    // password whose first six characters (all that is compared) are it.
    EXPECT_TRUE(Read("[Network]\nPasswd=Wopra3\n").passwordIsDefault);
    EXPECT_TRUE(Read("[Network]\nPasswd=" + Scrambled("Wopra3") + "\n").passwordIsDefault);
    EXPECT_TRUE(Read("[Network]\nPasswd=" + Scrambled("Wopra3xyz") + "\n").passwordIsDefault);
    EXPECT_FALSE(Read("[Network]\nPasswd=" + Scrambled("Wopra") + "\n").passwordIsDefault);
}

TEST_F(RelaySettingsTest, APasswdThatIsNotScrambledTextAdmitsNothing) {
    std::string tooLong;
    for (int i = 0; i < 17; ++i) tooLong += "123";  // 51: unscrambles to the empty text
    const std::string good = Scrambled("S3cret");
    for (const std::string& value : {
             tooLong,
             good + good + "123",    // 51 characters
             good.substr(0, 23),     // not whole fields
             std::string("Wopra4"),  // clear text where scrambled text belongs
             std::string("wopra3"), std::string(""),
             "256" + good.substr(3),      // a field beyond a byte
             "-12" + good.substr(3),      // a sign
             "1 2" + good.substr(3),      // a blank inside a field
             good.substr(0, 21) + "   ",  // a field of blanks
             Scrambled("\x05"),           // scrambled, but of nothing but padding
         }) {
        RelaySettings s = Read("[Network]\nPasswd=" + value + "\n");
        EXPECT_FALSE(s.access.passwordUsable) << '"' << value << '"';
        EXPECT_EQ(s.access.password, "") << '"' << value << '"';
        EXPECT_FALSE(s.passwordIsDefault) << '"' << value << '"';
    }
}

TEST_F(RelaySettingsTest, TheBindAddressIsADottedIpv4Address) {
    EXPECT_EQ(Read("[NetXCP]\nBindAddress=192.168.1.20\n").access.bindAddress, 0xC0A80114u);
    EXPECT_EQ(Read("[NetXCP]\nBindAddress= 127.0.0.1 \n").access.bindAddress, 0x7F000001u);
    EXPECT_EQ(Read("[NetXCP]\nBindAddress=0.0.0.0\n").access.bindAddress, 0u);
    for (const char* value : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "010.0.0.1", "1.2.3.4/32",
                              "localhost", "::1", "1..2.3", "1.2.3.4x", "-1.2.3.4"}) {
        SettingsError e = Refusal(std::string("[NetXCP]\nBindAddress=") + value + "\n");
        EXPECT_EQ(e.key, "BindAddress") << value;
        EXPECT_EQ(e.value, value);
        EXPECT_EQ(e.allowed, "a.b.c.d");
    }
}

TEST_F(RelaySettingsTest, AllowedClientsAreHostsAndNetworks) {
    RelaySettings s = Read(
        "[NetXCP]\nAllowClients=10.0.0.0/8, 192.168.1.20 172.16.0.0/12,,127.0.0.1\t0.0.0.0/0\n");
    const auto& clients = s.access.allowedClients;
    ASSERT_EQ(clients.size(), 5u);
    EXPECT_EQ(clients[0].address, 0x0A000000u);
    EXPECT_EQ(clients[0].mask, 0xFF000000u);
    EXPECT_TRUE(clients[0].Holds(0x0A7F0001u));
    EXPECT_FALSE(clients[0].Holds(0x0B000001u));
    EXPECT_EQ(clients[1].mask, 0xFFFFFFFFu);
    EXPECT_TRUE(clients[1].Holds(0xC0A80114u));
    EXPECT_FALSE(clients[1].Holds(0xC0A80115u));
    EXPECT_EQ(clients[2].mask, 0xFFF00000u);
    EXPECT_EQ(clients[3].address, 0x7F000001u);
    EXPECT_EQ(clients[4].mask, 0u);
    EXPECT_TRUE(clients[4].Holds(0xDEADBEEFu));

    // A bad entry is named by itself, wherever it stands in the list.
    for (const char* entry : {"192.168.1.300", "10.0.0.0/33", "10.0.0.0/", "10.0.0.0/+8",
                              "10.0.0/8", "host.example", "10.0.0.0/8/8"}) {
        SettingsError e =
            Refusal(std::string("[NetXCP]\nAllowClients=127.0.0.1, ") + entry + ", 10.0.0.0/8\n");
        EXPECT_EQ(e.key, "AllowClients") << entry;
        EXPECT_EQ(e.value, entry);
        EXPECT_EQ(e.allowed, "a.b.c.d or a.b.c.d/n");
    }
    // Host bits set: the network it lies in is shown.
    SettingsError e = Refusal("[NetXCP]\nAllowClients=10.1.2.3/8\n");
    EXPECT_EQ(e.value, "10.1.2.3/8");
    EXPECT_EQ(e.allowed, "10.0.0.0/8 (a.b.c.d/n, host bits 0)");
    // Separators alone are not the empty list that admits everyone.
    EXPECT_EQ(Refusal("[NetXCP]\nAllowClients=,\n").value, ",");
    // A list the reader would cut could end in part of an address.
    std::string list = "10.0.0.0/8";
    while (list.size() < 300) list += ", 192.168.100.100";
    EXPECT_EQ(Refusal("[NetXCP]\nAllowClients=" + list + "\n").key, "AllowClients");
}

TEST_F(RelaySettingsTest, TimingIsLiteralUnlessPromptIsAskedFor) {
    EXPECT_EQ(Read("").timing, XcpTiming::kLiteral);
    EXPECT_EQ(Read("[Communications]\nTiming=\n").timing, XcpTiming::kLiteral);
    EXPECT_EQ(Read("[Communications]\nTiming= Literal \n").timing, XcpTiming::kLiteral);
    EXPECT_EQ(Read("[Communications]\nTiming=prompt\n").timing, XcpTiming::kPrompt);
    EXPECT_EQ(Read("[Communications]\nTiming=PROMPT\r\n").timing, XcpTiming::kPrompt);
    for (const char* value : {"fast", "prompt1", "0"}) {
        SettingsError e = Refusal(std::string("[Communications]\nTiming=") + value + "\n");
        EXPECT_EQ(e.section, "Communications");
        EXPECT_EQ(e.key, "Timing");
        EXPECT_EQ(e.value, value);
        EXPECT_EQ(e.allowed, "literal or prompt");
    }
}

TEST(ConfigFile, MissingFilesAndFoldersCannotBeReadAndSaySo) {
    ScratchDir dir("settings");
    uint32_t error = 0;
    std::string text;
    EXPECT_FALSE(ConfigFileReadable(dir.File("missing.ini"), error));
    EXPECT_NE(error, 0u);
    EXPECT_TRUE(plat::SystemErrorText(error, text)) << error;
    error = 0;
    EXPECT_FALSE(ConfigFileReadable(dir.Path(), error));
    EXPECT_NE(error, 0u);
    EXPECT_TRUE(plat::SystemErrorText(error, text)) << error;

    ASSERT_TRUE(WriteText(dir.File("qln.ini"), "[NetXCP]\n"));
    EXPECT_TRUE(ConfigFileReadable(dir.File("qln.ini"), error));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(ReadBytes(dir.File("qln.ini")), OnDisk("[NetXCP]\n"));  // opened, not changed
    // An empty file is read to its end, not failed.
    ASSERT_TRUE(WriteBytes(dir.File("empty.ini"), ""));
    EXPECT_TRUE(ConfigFileReadable(dir.File("empty.ini"), error));
}

}  // namespace

TEST_F(RelaySettingsTest, TheWireTraceIsOffUnlessNamedAndItsLimitIsKibInRange) {
    RelaySettings off = Read("[Trace]\nTraceFile= \t\n");
    EXPECT_EQ(off.traceFile, "");
    EXPECT_EQ(off.traceLimitKb, 10240u);
    RelaySettings on = Read("[Trace]\nTraceFile= /var/log/qln wire.txt \nTraceLimit=1\n");
    EXPECT_EQ(on.traceFile, "/var/log/qln wire.txt");
    EXPECT_EQ(on.traceLimitKb, 1u);
    EXPECT_EQ(Read("[Trace]\nTraceLimit=4194304\n").traceLimitKb, 4194304u);
    for (const char* value : {"0", "4194305", "10M", "-1", "1e3"}) {
        SettingsError e = Refusal(std::string("[Trace]\nTraceLimit=") + value + "\n");
        EXPECT_EQ(e.section, "Trace") << value;
        EXPECT_EQ(e.key, "TraceLimit") << value;
        EXPECT_EQ(e.allowed, "1-4194304") << value;
    }
    // A path as long as the reader's line may have been cut: another file.
    EXPECT_EQ(Refusal("[Trace]\nTraceFile=" + std::string(300, 'x') + "\n").key, "TraceFile");
}
