// The agent's unit file, and the verbs on a machine without systemd.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "agent/systemd_unit.h"
#include "child_process.h"
#include "service_test_util.h"

namespace {

std::string Line(const std::string& text, const std::string& key) {
    size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "";
    at += key.size() + 2;
    return text.substr(at, text.find('\n', at) - at);
}

TEST(AgentUnit, RunsTheProgramWithoutArgumentsAndIsStartedWhenReady) {
    std::string text = AgentUnitText("/opt/qln/bin/qln");
    EXPECT_EQ(Line(text, "Type"), "notify");
    EXPECT_EQ(Line(text, "ExecStart"), "\"/opt/qln/bin/qln\"");
    EXPECT_EQ(Line(text, "WantedBy"), "multi-user.target");
    // Quotes, backslashes and specifiers in the path are escaped; paths that
    // cannot stand in a unit give no unit at all.
    EXPECT_EQ(Line(AgentUnitText("/a b/q\"l%n\\x"), "ExecStart"), "\"/a b/q\\\"l%%n\\\\x\"");
    EXPECT_EQ(AgentUnitText("qln"), "");
    EXPECT_EQ(AgentUnitText(""), "");
    EXPECT_EQ(AgentUnitText("/opt/q\nExecStartPre=/bin/evil"), "");
}

TEST(AgentUnit, SystemdAcceptsTheUnit) {
    if (system("command -v systemd-analyze >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    char dir[] = "/tmp/qln-unit-testXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    // A program path with a space and a specifier character, which the unit
    // must quote and escape for systemd to find the file.
    std::string folder = std::string(dir) + "/a b%c";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string program = folder + "/qln";
    ASSERT_EQ(symlink(BinPath("qln").c_str(), program.c_str()), 0);
    std::string unit = std::string(dir) + "/" + kAgentUnitName;
    WriteBytes(unit, AgentUnitText(program));
    std::string out = std::string(dir) + "/verify.txt";
    int status = system(("systemd-analyze verify --man=no '" + unit + "' >'" + out + "' 2>&1").c_str());
    std::string said = ReadBytes(out);
    EXPECT_EQ(status, 0) << said;
    // It warns rather than fails on a bad line; the unit's own lines must
    // draw no word from it.
    EXPECT_EQ(said.find(kAgentUnitName), std::string::npos) << said;
    EXPECT_EQ(system(("rm -rf '" + std::string(dir) + "'").c_str()), 0);
}

TEST(AgentServiceVerbs, FailClearlyWhereSystemdIsNotRunning) {
    if (SystemdIsRunning()) GTEST_SKIP() << "systemd runs here: the verbs would act on it";
    for (const char* verb : {"install", "remove", "start", "stop", "pause", "resume"}) {
        ProgramResult r = RunProgram("qln", {verb});
        EXPECT_EQ(r.exitCode, -1) << verb;
        EXPECT_EQ(r.err, "systemd is not running on this machine: the service verbs need it.\n") << verb;
        EXPECT_EQ(r.out, "") << verb;
    }
}

}  // namespace
