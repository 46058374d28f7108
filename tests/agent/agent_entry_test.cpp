// The agent's command line, as a user at a shell meets it.
#include <gtest/gtest.h>

#include "child_process.h"
#include "line_end.h"
#include "qln_version.h"

namespace {

const char* const kUsage =
    "Usage:   qln [options]\n"
    "Options: -c file  Initialization file, defaults to .\\qln.ini.\n"
    "         -n name  A further instance: its own service, and name.ini.\n"
    "         -i       Use Internal XCP for XCP UPS systems.\n"
    "         daemon   Run as a daemon.\n"
    "         install  Install as a service.\n"
    "         remove   Remove as a service.\n"
    "         start    Start service.\n"
    "         stop     Stop service.\n"
    "         pause    Pause service.\n"
    "         resume   Resume service.\n"
    "         status   Show what the agent is doing (--json: as JSON).\n"
    "\n";

TEST(AgentCommandLine, VersionRequestsPrintOnceEachAndWinOverVerbs) {
    ProgramResult r = RunProgram("qln", {"-v", "install"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lf(r.out), QLN_VERSION_LINE "\n");
    EXPECT_EQ(r.err, "");

    r = RunProgram("qln", {"/V", "-V"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lf(r.out), QLN_VERSION_LINE "\n" QLN_VERSION_LINE "\n");

    // The value of -c is scanned too: a file named -v.ini asks for the version.
    r = RunProgram("qln", {"-c", "-v.ini", "daemon"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lf(r.out), QLN_VERSION_LINE "\n");

    r = RunProgram("qln", {"-version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lf(r.out), QLN_VERSION_LINE "\n");
}

TEST(AgentCommandLine, BadArgumentsShowTheUsageAndFail) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-x"}, {"extra"}, {"-c"}, {"daemon", "-c"}, {"/"}, {"-"}, {"daemons"}}) {
        ProgramResult r = RunProgram("qln", args);
        EXPECT_EQ(r.exitCode, -1) << args[0];
        EXPECT_EQ(Lf(r.err), kUsage) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
    }
}

TEST(AgentCommandLine, UsageComesAfterOptionsThatWereAccepted) {
    // -i and /Ix are the same option; only the second character counts, and the
    // parse goes on to the bad argument behind them.
    ProgramResult r = RunProgram("qln", {"/Ix", "-config", "x.ini", "-q"});
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(Lf(r.err), kUsage);
}

}  // namespace
