// The sample program on the framework, run in the foreground as a user runs
// it, and stopped through its named stop event from this (another) process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "child_process.h"
#include "line_end.h"
#include "platform/event.h"
#include "program_copy.h"
#include "scratch_dir.h"
#include "wait_for.h"

namespace {

// The number after "LastPass=" in the INI text, -1 when there is none.
int LastPass(const std::string& ini) {
    std::string::size_type at = ini.find("LastPass=");
    if (at == std::string::npos) return -1;
    return std::atoi(ini.c_str() + at + 9);
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

const char* const kUsage =
    "Usage:   appsample [options]\n"
    "Options: -p dir   Base directory, defaults to exe dir.\n"
    "         daemon   Run as a daemon.\n"
    "         install  Install as a service.\n"
    "         remove   Remove as a service.\n"
    "         start    Start service.\n"
    "         stop     Stop service.\n"
    "         pause    Pause service.\n"
    "         resume   Resume service.\n"
    "\n";

class AppSample : public ::testing::Test {
protected:
    // Each test runs a copy of its own: its own INI file name and stop event,
    // whatever else runs at the same time.
    void Prepare(const std::string& name) {
        m_pCopy.reset(new ProgramCopy("appsample", name));
        ASSERT_TRUE(m_pCopy->IsValid());
        m_Name = name;
        WriteBytes(m_Dir.File(name + ".ini"),
                   "[Sample]\nInterval=0\nSleep=20\nGreeting=Good day\n");
    }

    // Runs the sample until it has made `passes` passes, then sets its stop
    // event and expects it to end by itself.
    void RunUntilStopped(const std::vector<std::string>& args, int passes) {
        ChildProcess child;
        ASSERT_TRUE(child.Start(BinPath(m_Name), args, m_Env));
        std::string ini = m_Dir.File(m_Name + ".ini");
        bool ran = WaitFor([&] { return LastPass(ReadBytes(ini)) >= passes; }, 30000);
        if (!ran && child.WaitForExit(0)) {
            FAIL() << "ended early with " << child.ExitCode() << ": " << child.Err();
        }
        ASSERT_TRUE(ran) << ReadBytes(ini);
        plat::SignalNamedEvent(m_Name + "Stop");
        ASSERT_TRUE(child.WaitForExit(30000)) << "did not stop";
        EXPECT_EQ(child.ExitCode(), 0) << child.Err();
        EXPECT_EQ(child.Err(), "");
    }

    ScratchDir m_Dir{"appsample"};
    std::unique_ptr<ProgramCopy> m_pCopy;
    std::string m_Name = "appsample";
    std::vector<std::string> m_Env;
};

TEST_F(AppSample, RunsPassesInTheForegroundAndStopsOnItsNamedEvent) {
    Prepare("appsample_fg1");
    std::string debug = m_Dir.File("debug.txt");
    RunUntilStopped({"daemon", "-p", m_Dir.Path(), "-d", "mainloop", "-o", debug}, 3);

    std::string lines = Lf(ReadBytes(debug));
    // Every pass: its entry line with its number, one line per module before
    // the module runs, the greeting the first module traces, the exit line.
    for (const char* n : {"0", "1", "2", "3"}) {
        EXPECT_NE(lines.find(std::string("Entering main loop iteration ") + n + " at "),
                  std::string::npos)
            << n;
    }
    size_t entering = Count(lines, "Entering main loop iteration ");
    EXPECT_GE(entering, 4u);
    EXPECT_EQ(Count(lines, "Processing module: CProcessingModule*"),
              2 * Count(lines, "Leaving main loop at "));
    EXPECT_GE(Count(lines, "Good day from pass "), 4u);
    std::string::size_type first = lines.find("Entering main loop iteration 0 at ");
    std::string::size_type module = lines.find("Processing module: ");
    std::string::size_type greeting = lines.find("Good day from pass 0\n");
    std::string::size_type leaving = lines.find("Leaving main loop at ");
    EXPECT_LT(first, module);
    EXPECT_LT(module, greeting);
    EXPECT_LT(greeting, leaving);
}

TEST_F(AppSample, WithoutWordsFallsBackToTheForegroundAndWritesNoDebugLines) {
    // No word: service mode; started from a console, the dispatcher refuses
    // and the loop runs here. Without "-d" nothing is traced.
    Prepare("appsample_fg2");
    std::string debug = m_Dir.File("debug.txt");
    RunUntilStopped({"-p", m_Dir.Path(), "-o", debug}, 2);
    EXPECT_EQ(ReadBytes(debug), "");
}

TEST_F(AppSample, AnExceptionFromAModuleEndsTheWorkerNotTheProgram) {
    // The module's exception leaves the program's code and is caught by the
    // library's worker routine: the loop ends, the program returns normally.
    Prepare("appsample_fail");
    WriteBytes(m_Dir.File(m_Name + ".ini"), "[Sample]\nInterval=0\nSleep=1\nFailAtPass=2\n");
    ChildProcess child;
    ASSERT_TRUE(child.Start(BinPath(m_Name), {"daemon", "-p", m_Dir.Path()}, m_Env));
    ASSERT_TRUE(child.WaitForExit(30000));
    EXPECT_EQ(child.ExitCode(), 0) << child.Err();
    EXPECT_EQ(LastPass(ReadBytes(m_Dir.File(m_Name + ".ini"))), 2);
}

TEST_F(AppSample, BadCommandLinesShowTheUsageAndFail) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-d", "nosuch"}, {"-o"}, {"/install"}, {"launch"}, {"-x", "y"}}) {
        ProgramResult r = RunProgram("appsample", args, m_Env);
        EXPECT_EQ(r.exitCode, 1) << args[0];
        std::string err = Lf(r.err);
        EXPECT_EQ(err.substr(0, std::string(kUsage).size()), kUsage) << args[0];
    }
}

TEST_F(AppSample, AFailingVerbSaysSoAndFails) {
    // No service of this name exists (and on Linux no systemd may run here).
    ProgramResult r = RunProgram("appsample", {"stop"}, m_Env);
    EXPECT_EQ(Lf(r.out), "Failed Service Call.\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err, "");
}

}  // namespace
