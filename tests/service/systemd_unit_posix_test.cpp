// The agent's unit file, and the verbs on a machine without systemd.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "agent/systemd_unit.h"
#include "child_process.h"
#include "platform/product_names.h"
#include "platform/systemd.h"
#include "scratch_dir.h"
#include "service_test_util.h"

namespace {

std::string Line(const std::string& text, const std::string& key) {
    size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "";
    at += key.size() + 2;
    return text.substr(at, text.find('\n', at) - at);
}

// Every value of `key` in the unit, in order, joined by "|".
std::string Lines(const std::string& text, const std::string& key) {
    std::string all;
    for (size_t at = text.find("\n" + key + "="); at != std::string::npos;
         at = text.find("\n" + key + "=", at + 1)) {
        size_t from = at + key.size() + 2;
        all += (all.empty() ? "" : "|") + text.substr(from, text.find('\n', from) - from);
    }
    return all;
}

TEST(AgentUnit, RunsTheProgramWithoutArgumentsAndIsStartedWhenReady) {
    std::string text = AgentUnitText("/opt/qln/bin/qln", "qln");
    EXPECT_EQ(Line(text, "Type"), "notify");
    EXPECT_EQ(Line(text, "ExecStart"), "\"/opt/qln/bin/qln\"");
    EXPECT_EQ(Line(text, "WantedBy"), "multi-user.target");
    // Quotes, backslashes and specifiers in the path are escaped; paths that
    // cannot stand in a unit give no unit at all.
    EXPECT_EQ(Line(AgentUnitText("/a b/q\"l%n\\x", "qln"), "ExecStart"), "\"/a b/q\\\"l%%n\\\\x\"");
    EXPECT_EQ(AgentUnitText("qln", "qln"), "");
    EXPECT_EQ(AgentUnitText("", "qln"), "");
    EXPECT_EQ(AgentUnitText("/opt/q\nExecStartPre=/bin/evil", "qln"), "");
    EXPECT_EQ(AgentUnitText("/opt/qln/bin/qln", "q\nExecStartPre=/bin/evil"), "");
}

// Before: the unit ran the agent as root with every capability, the whole
// file system writable and every device, address family and system call open.
TEST(AgentUnit, RunsInASandboxAsTheDedicatedAccount) {
    std::string text = AgentUnitText("/opt/qln/bin/qln", "qln");
    EXPECT_EQ(Line(text, "User"), "qln");
    EXPECT_EQ(Line(text, "Group"), "qln");
    EXPECT_EQ(Line(text, "SupplementaryGroups"), "dialout");
    EXPECT_EQ(Line(text, "RuntimeDirectory"), "qln") << "the named events' folder";
    EXPECT_EQ(Line(text, "RuntimeDirectoryMode"), "0700");
    EXPECT_EQ(Line(text, "NoNewPrivileges"), "yes");
    EXPECT_EQ(Lines(text, "CapabilityBoundingSet"), "");
    EXPECT_NE(text.find("\nCapabilityBoundingSet=\n"), std::string::npos)
        << "every capability dropped";
    EXPECT_EQ(Line(text, "ProtectSystem"), "strict");
    EXPECT_EQ(Line(text, "ProtectHome"), "yes");
    EXPECT_EQ(Line(text, "PrivateTmp"), "yes");
    // Nothing is writable but the runtime folder: the agent reads its INI
    // file without opening it for update.
    EXPECT_EQ(Lines(text, "ReadWritePaths"), "");
    EXPECT_EQ(Line(text, "DevicePolicy"), "closed");
    EXPECT_EQ(Lines(text, "DeviceAllow"), "char-ttyS rw|char-ttyUSB rw|char-ttyACM rw|char-pts rw");
    EXPECT_EQ(Line(text, "RestrictAddressFamilies"), "AF_INET AF_UNIX");
    EXPECT_EQ(Lines(text, "SystemCallFilter"), "@system-service|~@privileged @resources");
}

// Where the account cannot reach the program, its INI file or its port, the
// unit keeps root, says why, and keeps the rest of the sandbox; a program in
// a home folder stays readable.
TEST(AgentUnit, KeepsRootWhereTheAccountCannotServeAndSaysWhy) {
    std::string text =
        AgentUnitText("/opt/qln/bin/qln", "", "/opt/qln/bin/qln.ini is not open\nUser=x");
    EXPECT_EQ(Line(text, "User"), "");
    EXPECT_EQ(Line(text, "SupplementaryGroups"), "");
    EXPECT_NE(text.find("\n# Runs as root, without capabilities: "
                        "/opt/qln/bin/qln.ini is not open User=x\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nCapabilityBoundingSet=\n"), std::string::npos);
    EXPECT_EQ(Line(text, "ProtectSystem"), "strict");
    EXPECT_EQ(Line(AgentUnitText("/root/qln/qln", ""), "ProtectHome"), "read-only");
    EXPECT_EQ(Line(AgentUnitText("/home/ops/qln/qln", "qln"), "ProtectHome"), "read-only");
}

// The exposure that `systemd-analyze security` gives the unit, as its
// closing line says it ("1.6 OK"); "" when it could not be had.
std::string Exposure(const std::string& unitText) {
    ScratchDir dir("unit-score");
    std::string unit = dir.Write(plat::kAgentUnitName, unitText);
    std::string out = dir.File("score.txt");
    system(("systemd-analyze security --offline=yes --no-pager '" + unit + "' >'" + out + "' 2>&1")
               .c_str());
    std::string said = ReadBytes(out);
    std::string marker = "Overall exposure level for " + std::string(plat::kAgentUnitName) + ": ";
    size_t at = said.find(marker);
    if (at == std::string::npos) return "";
    at += marker.size();
    size_t end = said.find_first_of(" \n", said.find(' ', at) + 1);
    return said.substr(at, end - at);
}

TEST(AgentUnit, SystemdRatesTheSandboxOkOrBetter) {
    if (system("command -v systemd-analyze >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    for (const char* account : {"qln", ""}) {
        std::string exposure = Exposure(AgentUnitText("/opt/qln/bin/qln", account, "a test"));
        ASSERT_FALSE(exposure.empty()) << "no rating for the unit";
        double level = std::atof(exposure.c_str());
        EXPECT_LT(level, 5.0) << exposure << " as '" << account << "'";
        std::string word = exposure.substr(exposure.find(' ') + 1);
        EXPECT_TRUE(word == "OK" || word == "SAFE" || word == "PERFECT") << exposure;
    }
}

TEST(AgentUnit, SystemdAcceptsTheUnit) {
    if (system("command -v systemd-analyze >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    ScratchDir dir("unit-test");
    // A program path with a space and a specifier character, which the unit
    // must quote and escape for systemd to find the file.
    std::string folder = dir.File("a b%c");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string program = folder + "/qln";
    ASSERT_EQ(symlink(BinPath("qln").c_str(), program.c_str()), 0);
    std::string unit = dir.File(plat::kAgentUnitName);
    for (const char* account : {"qln", ""}) {
        WriteBytes(unit, AgentUnitText(program, account, "a test"));
        std::string out = dir.File("verify.txt");
        int status =
            system(("systemd-analyze verify --man=no '" + unit + "' >'" + out + "' 2>&1").c_str());
        std::string said = ReadBytes(out);
        EXPECT_EQ(status, 0) << said;
        // It warns rather than fails on a bad line; the unit's own lines must
        // draw no word from it.
        EXPECT_EQ(said.find(plat::kAgentUnitName), std::string::npos) << said;
    }
}

TEST(AgentServiceVerbs, FailClearlyWhereSystemdIsNotRunning) {
    if (plat::SystemdIsRunning()) GTEST_SKIP() << "systemd runs here: the verbs would act on it";
    for (const char* verb : {"install", "remove", "start", "stop", "pause", "resume"}) {
        ProgramResult r = RunProgram("qln", {verb});
        EXPECT_EQ(r.exitCode, -1) << verb;
        EXPECT_EQ(r.err, "systemd is not running on this machine: the service verbs need it.\n")
            << verb;
        EXPECT_EQ(r.out, "") << verb;
    }
}

// The Debian package ships the unit as a file; it must stay the unit the
// program itself writes for /usr/sbin/qln, with the INI file in /etc named.
TEST(AgentUnit, TheDebianPackageShipsTheProgramsOwnUnit) {
    std::ifstream in(QLN_SOURCE_DIR "/packaging/debian/qln.ombrex-quillon.service",
                     std::ios::binary);
    ASSERT_TRUE(in.good());
    std::stringstream shipped;
    shipped << in.rdbuf();
    std::string expected = AgentUnitText("/usr/sbin/qln", kAgentAccount);
    const std::string exec = "ExecStart=\"/usr/sbin/qln\"\n";
    size_t at = expected.find(exec);
    ASSERT_NE(at, std::string::npos);
    expected.replace(at, exec.size(), "ExecStart=\"/usr/sbin/qln\" -c /etc/qln/qln.ini\n");
    EXPECT_EQ(shipped.str(), expected);
}

// The template's instances run in the plain unit's sandbox: the two units
// differ in the lines that name the instance, and in nothing else.
TEST(AgentUnit, TheTemplateDiffersFromThePlainUnitInItsNameOnly) {
    for (const char* account : {"qln", ""}) {
        auto lines = [](const std::string& text) {
            std::vector<std::string> all;
            std::istringstream in(text);
            for (std::string line; std::getline(in, line);) all.push_back(line);
            return all;
        };
        std::vector<std::string> plain = lines(AgentUnitText("/opt/qln/qln", account, "a test"));
        std::vector<std::string> instance =
            lines(AgentTemplateUnitText("/opt/qln/qln", account, "a test"));
        std::vector<std::string> onlyPlain, onlyInstance;
        for (const std::string& l : plain) {
            if (std::find(instance.begin(), instance.end(), l) == instance.end())
                onlyPlain.push_back(l);
        }
        for (const std::string& l : instance) {
            if (std::find(plain.begin(), plain.end(), l) == plain.end()) onlyInstance.push_back(l);
        }
        EXPECT_EQ(onlyPlain,
                  (std::vector<std::string>{"Description=Ombrex Quillon UPS network relay",
                                            "ExecStart=\"/opt/qln/qln\"", "RuntimeDirectory=qln"}))
            << account;
        EXPECT_EQ(onlyInstance,
                  (std::vector<std::string>{"Description=Ombrex Quillon UPS network relay (%i)",
                                            "ExecStart=\"/opt/qln/qln\" -n %i",
                                            "RuntimeDirectory=qln-%i", "SyslogIdentifier=qln@%i"}))
            << account;
        EXPECT_EQ(instance.size(), plain.size() + 1) << account;
    }
    EXPECT_EQ(AgentTemplateUnitText("qln", "qln"), "") << "a relative path";
}

// The Debian package's template is the program's own, with the instance's
// INI file in /etc named.
TEST(AgentUnit, TheDebianPackageShipsTheProgramsOwnTemplate) {
    std::ifstream in(QLN_SOURCE_DIR "/packaging/debian/qln@.ombrex-quillon.service",
                     std::ios::binary);
    ASSERT_TRUE(in.good());
    std::stringstream shipped;
    shipped << in.rdbuf();
    std::string expected = AgentTemplateUnitText("/usr/sbin/qln", kAgentAccount);
    const std::string exec = "ExecStart=\"/usr/sbin/qln\" -n %i\n";
    size_t at = expected.find(exec);
    ASSERT_NE(at, std::string::npos);
    expected.replace(at, exec.size(), "ExecStart=\"/usr/sbin/qln\" -n %i -c /etc/qln/%i.ini\n");
    EXPECT_EQ(shipped.str(), expected);
}

}  // namespace
