// The Win32 relay path: qln.exe under Wine, its COM port a link in the Wine
// prefix to upssim's pseudo-terminal, NetXCP datagrams from the Linux side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "relay_agent.h"
#include "ups_line_posix.h"

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

// A COM port of the prefix nobody uses yet, linked to `target` for the
// owner's lifetime. Numbers above 9 are no DOS device names: they open as
// \\.\COMn.
class ComPortLink {
public:
    ComPortLink(const std::string& prefix, const std::string& target) {
        for (int n = 20; n < 100 && m_Link.empty(); ++n) {
            std::string candidate = prefix + "/dosdevices/com" + std::to_string(n);
            if (symlink(target.c_str(), candidate.c_str()) == 0) {
                m_Link = candidate;
                m_Port = "\\\\.\\COM" + std::to_string(n);
            }
        }
    }
    ~ComPortLink() {
        if (!m_Link.empty()) unlink(m_Link.c_str());
    }
    const std::string& Port() const { return m_Port; }

private:
    std::string m_Link;
    std::string m_Port;
};

TEST(RelayUnderWine, RelaysForALinuxClient) {
    std::string bin = EnvOr("QLN_WIN32_BIN", "");
    if (bin.empty()) GTEST_SKIP() << "QLN_WIN32_BIN is not set (scripts/test.sh sets it)";
    std::string prefix = EnvOr("WINEPREFIX", bin + "/../wineprefix");
    if (access((prefix + "/system.reg").c_str(), F_OK) != 0) {
        GTEST_SKIP() << "no Wine prefix at " << prefix;
    }
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("WINEARCH", "win32", 1);
    setenv("WINEDEBUG", "-all", 1);
    // However the test ends, every Wine process of the prefix ends with it
    // (this test is the prefix's only user while the Linux tests run).
    struct WineCleanup {
        ~WineCleanup() { (void)!std::system("wineserver -k >/dev/null 2>&1"); }
    } cleanup;

    SimulatedUps ups;
    ASSERT_TRUE(ups.Start());
    ComPortLink com(prefix, ups.SlavePath());
    ASSERT_FALSE(com.Port().empty()) << "no free COM port in " << prefix;
    {
        RelayAgent agent(com.Port(), {}, {"wine", bin + "/qln.exe"});
        ASSERT_TRUE(agent.WaitUntilRelaying(120000)) << agent.Process().Err();

        ByteString reply = agent.Exchange(Cat({XcpFrame(0x00), XcpFrame(0x31)}), 20000);
        ASSERT_GE(reply.size(), 9u);
        EXPECT_EQ(ByteString(reply.begin(), reply.begin() + 4), kQlnAnswer);
        EXPECT_EQ(reply[4], 0xAB);
        EXPECT_EQ(reply[5], 0x01);  // the identification block

        ByteString answer;
        EXPECT_TRUE(agent.Unanswered(XcpFrame(0x8A), answer));
        answer = agent.Exchange(Cat({PasswordFrame("Wopra3"), XcpFrame(0x8A)}), 20000);
        EXPECT_FALSE(answer.empty());
        EXPECT_EQ(ups.Count(0x8A), 1u);
        agent.Process().Stop();
    }
}

}  // namespace
