// The application framework in one process: command line, profile values,
// the main loop and its stops, tracing and the singleton.
#include "common/framework/application.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/config/profile.h"
#include "common/framework/processing_module.h"
#include "common/resources/message_ids.h"
#include "debug_capture.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "scratch_dir.h"
#include "table_library.h"
#include "wait_for.h"

namespace {

const char* const kExe = "fwtest";

// The framework's application with its protected parts in reach.
class TestApp : public CApplication {
public:
    explicit TestApp(std::vector<std::string> args, const char* profileType = "INIFile",
                     const char* exeName = kExe)
        : TestApp(Argv(args), profileType, exeName) {}
    ~TestApp() override {
        if (m_pDestroyed) *m_pDestroyed = true;
    }
    using CApplication::CheckContinue;
    using CApplication::MainLoop;
    using CApplication::ThreadMain;
    bool* m_pDestroyed = nullptr;

private:
    struct ArgvHolder {
        std::vector<std::string> words;
        std::vector<char*> argv;
    };
    static ArgvHolder& Argv(std::vector<std::string>& args) {
        static thread_local ArgvHolder holder;
        holder.words = args;
        holder.argv.clear();
        for (auto& w : holder.words) holder.argv.push_back(&w[0]);
        holder.argv.push_back(nullptr);
        return holder;
    }
    TestApp(ArgvHolder& a, const char* profileType, const char* exeName)
        : CApplication(static_cast<int>(a.words.size()), a.argv.data(), "Pellux Framework Test",
                       exeName, profileType, "fwtest.ini", false, false) {}
};

std::string Sep() { return brx::GetDirectorySeparator(); }

std::string Dyn(CApplication& app, const char* key) {
    return app.GetProfile().GetString("Dynamic", key, "<none>", false);
}

std::string ProgramPath() { return "top" + Sep() + "bin" + Sep() + kExe; }

// Runs `build` and expects the usage text and a CAppException.
void ExpectUsage(const std::vector<std::string>& args) {
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    bool thrown = false;
    try {
        TestApp app(args);
        app.CleanupVars();
    } catch (CAppException* e) {
        delete e;
        thrown = true;
    }
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(thrown) << args.back();
    EXPECT_EQ(out, "") << args.back();
    EXPECT_EQ(err,
              "Usage:   fwtest [options]\n"
              "Options: -p dir   Base directory, defaults to exe dir.\n"
              "         daemon   Run as a daemon.\n"
              "         install  Install as a service.\n"
              "         remove   Remove as a service.\n"
              "         start    Start service.\n"
              "         stop     Stop service.\n"
              "         pause    Pause service.\n"
              "         resume   Resume service.\n"
              "\n")
        << args.back();
}

TEST(ApplicationCommandLine, StoresTheDirectoriesAndTheProfilePath) {
    TestApp app({ProgramPath(), "daemon"});
    std::string exeDir = "top" + Sep() + "bin" + Sep();
    EXPECT_EQ(Dyn(app, "ExePath"), exeDir);
    EXPECT_EQ(Dyn(app, "BaseDir"), exeDir);
    EXPECT_EQ(Dyn(app, "INIFile"), exeDir + "fwtest.ini");
    EXPECT_EQ(app.m_nReserved, 200u);
    EXPECT_STREQ(app.GetExeName(), "fwtest");
    EXPECT_STREQ(app.GetAppName(), "Pellux Framework Test");
    EXPECT_EQ(app.GetAppId(), 5u);
    app.CleanupVars();

    // A program path without a directory: the current directory.
    TestApp bare({kExe, "daemon"});
    std::string cwd = Dyn(bare, "ExePath");
    EXPECT_EQ(cwd, brx::GetShortName(brx::GetCwd().c_str()) + Sep());
    bare.CleanupVars();
}

TEST(ApplicationCommandLine, BaseDirectoryGetsOneSeparator) {
    std::string dir = "base" + Sep() + "dir";
    TestApp plain({ProgramPath(), "-p", dir, "daemon"});
    EXPECT_EQ(Dyn(plain, "BaseDir"), dir + Sep());
    EXPECT_EQ(Dyn(plain, "INIFile"), dir + Sep() + "fwtest.ini");
    plain.CleanupVars();

    TestApp ending({ProgramPath(), "/P", dir + Sep(), "daemon"});
    EXPECT_EQ(Dyn(ending, "BaseDir"), dir + Sep());
    ending.CleanupVars();

    // Only the second character counts: "-pxyz" is "-p" and takes the next word.
    TestApp joined({ProgramPath(), "-pxyz", dir, "daemon"});
    EXPECT_EQ(Dyn(joined, "BaseDir"), dir + Sep());
    joined.CleanupVars();
}

TEST(ApplicationCommandLine, DebugCategoriesInAnyLetterCase) {
    TestApp app({ProgramPath(), "-d", "mainloop", "-D", "SSL", "daemon"});
    CProfile& p = app.GetProfile();
    EXPECT_TRUE(p.GetBool("Dynamic", "DebugMainLoop", false, false));
    EXPECT_TRUE(p.GetBool("Dynamic", "DebugSSL", false, false));
    EXPECT_FALSE(p.GetBool("Dynamic", "DebugWebServer", false, false));
    EXPECT_FALSE(p.GetBool("Dynamic", "Debugmainloop", false, false));
    app.CleanupVars();
}

TEST(ApplicationCommandLine, ServiceModeUnlessDaemon) {
    TestApp service({ProgramPath()});
    EXPECT_TRUE(service.m_bRunAsService);
    EXPECT_EQ(service.m_ServiceStatus.dwServiceType, 0x30u);
    EXPECT_EQ(service.m_ServiceStatus.dwCurrentState, 2u);
    EXPECT_EQ(service.m_ServiceStatus.dwControlsAccepted, 3u);
    service.CleanupVars();

    TestApp daemon({ProgramPath(), "DAEMON"});
    EXPECT_FALSE(daemon.m_bRunAsService);
    daemon.CleanupVars();
}

TEST(ApplicationCommandLine, BadWordsShowTheUsageText) {
    ScratchDir dir("app");
    std::string unwritable = dir.File("missing") + Sep() + "out.txt";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {ProgramPath(), "-d", "nosuch"},
             {ProgramPath(), "daemon", "-o"},
             {ProgramPath(), "/install"},
             {ProgramPath(), "launch"},
             {ProgramPath(), "-"},
             {ProgramPath(), "-x", "y"},
             {ProgramPath(), "-o", unwritable},
             // The usage error ends the reading: the verb behind it never runs.
             {ProgramPath(), "-q", "1", "install"}}) {
        ExpectUsage(args);
    }
}

TEST(ApplicationCommandLine, AFailingVerbSaysSoAndPassesItsException) {
    ::testing::internal::CaptureStdout();
    bool thrown = false;
    try {
        TestApp app({ProgramPath(), "resume"});
    } catch (CAppException* e) {
        delete e;
        thrown = true;
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Failed Service Call.\n");
    EXPECT_TRUE(thrown);
}

TEST(ApplicationCommandLine, TheDefaultApplicationHasNoProfileAndSaysSo) {
    CApplication app;
    EXPECT_STREQ(app.GetExeName(), "");
    EXPECT_EQ(app.m_nLoopInterval, 0u);
    EXPECT_EQ(app.m_pAppProfile, nullptr);
    bool thrown = false;
    try {
        app.GetProfile();
    } catch (CAppException* e) {
        delete e;
        thrown = true;
    }
    EXPECT_TRUE(thrown);
}

TEST(ApplicationCommandLine, AnUnknownProfileTypeIsAnErrorNotACrash) {
    bool thrown = false;
    try {
        TestApp app({ProgramPath(), "daemon"}, "Registry");
    } catch (CAppException* e) {
        delete e;
        thrown = true;
    }
    EXPECT_TRUE(thrown);
}

// A module that records its passes and runs a hook in each.
class HookModule : public CProcessingModule {
public:
    void Init() override { ++m_nInits; }
    void Clear() override {}
    void Process(unsigned long nPass) override {
        m_Passes.push_back(nPass);
        if (m_Hook) m_Hook(nPass);
    }
    int m_nInits = 0;
    std::vector<unsigned long> m_Passes;
    std::function<void(unsigned long)> m_Hook;
};

class MainLoop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTableLibrary());
        // Named events are shared by every process: each test's own name.
        m_ExeName =
            std::string("fw_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_pApp.reset(new TestApp({ProgramPath(), "daemon"}, "INIFile", m_ExeName.c_str()));
        m_pApp->m_nLoopInterval = 0;
        m_pApp->m_nLoopSleep = 1;
        CApplication::SetApp(m_pApp.get());
    }
    void TearDown() override {
        CApplication::SetApp(nullptr);
        CProcessingModule::SetProfile(nullptr);
        if (m_pApp) m_pApp->CleanupVars();
    }
    std::string m_ExeName;
    std::unique_ptr<TestApp> m_pApp;
};

TEST_F(MainLoop, ShutdownBeforeRunEndsItAfterInitWithoutAPass) {
    HookModule module;
    m_pApp->Shutdown();
    m_pApp->Run();
    EXPECT_EQ(module.m_nInits, 1);
    EXPECT_TRUE(module.m_Passes.empty());
}

TEST_F(MainLoop, PassesAreNumberedFromZeroAndTracedWhenAsked) {
    HookModule first, second;
    first.m_Hook = [&](unsigned long pass) {
        if (pass == 2) m_pApp->Shutdown();
    };
    m_pApp->GetProfile().Set("Dynamic", "DebugMainLoop", true);
    DebugCapture debug;
    m_pApp->Run();
    EXPECT_EQ(first.m_Passes, (std::vector<unsigned long>{0, 1, 2}));
    EXPECT_EQ(second.m_Passes, (std::vector<unsigned long>{0, 1, 2}));
    EXPECT_EQ(m_pApp->m_nIteration, 3u);
    std::string text = debug.Text();
    for (int pass = 0; pass < 3; ++pass) {
        std::string entering = "Entering main loop iteration " + std::to_string(pass) + " at ";
        std::string::size_type at = text.find(entering);
        ASSERT_NE(at, std::string::npos) << pass;
        std::string::size_type lineEnd = text.find('\n', at);
        ASSERT_NE(lineEnd, std::string::npos);
        // Both modules' lines, then the leaving line with its own time.
        std::string next =
            "Processing module: CProcessingModule*Processing module: CProcessingModule*"
            "Leaving main loop at ";
        EXPECT_EQ(text.substr(lineEnd + 1, next.size()), next);
    }
}

TEST_F(MainLoop, TheNamedStopEventEndsItAfterThePassInProgress) {
    HookModule first, second;
    first.m_Hook = [&](unsigned long pass) {
        if (pass == 1) plat::SignalNamedEvent(m_ExeName + "Stop");
        if (pass == 20) m_pApp->Shutdown();  // the event was lost: fail, do not hang
    };
    m_pApp->Run();
    EXPECT_EQ(first.m_Passes, (std::vector<unsigned long>{0, 1}));
    EXPECT_EQ(second.m_Passes, (std::vector<unsigned long>{0, 1}));
}

TEST_F(MainLoop, TheIntervalHoldsBackTheNextPass) {
    HookModule module;
    m_pApp->m_nLoopInterval = 3600;
    std::atomic<bool> passed{false};
    module.m_Hook = [&](unsigned long) { passed = true; };
    std::thread stopper([&] {
        WaitFor([&] { return passed.load(); }, 30000);
        // Give the loop a few dozen checks in which no pass may start.
        plat::SleepMs(100);
        m_pApp->Shutdown();
    });
    m_pApp->Run();
    stopper.join();
    EXPECT_EQ(module.m_Passes, (std::vector<unsigned long>{0}));
}

TEST_F(MainLoop, TheWorkerReportsAndEndsOnAnException) {
    HookModule module;
    module.m_Hook = [](unsigned long) { throw new CAppException(MSG_SHUTDOWN_AGENT_NO_SOCKET); };
    EXPECT_EQ(TestApp::ThreadMain(nullptr), 0xFFFFFFFFul);
    module.m_Hook = [](unsigned long) { throw 5; };
    EXPECT_EQ(TestApp::ThreadMain(nullptr), 0xFFFFFFFFul);
    module.m_Hook = [&](unsigned long) { m_pApp->Shutdown(); };
    EXPECT_EQ(TestApp::ThreadMain(nullptr), 0ul);
}

TEST_F(MainLoop, PauseHoldsTheWorkerUntilContinueOrStop) {
    TestApp& app = *m_pApp;
    app.m_bRunAsService = true;
    app.m_PauseEvent = new plat::Event();
    app.m_ContinueEvent = new plat::Event();
    app.m_StopEvent = new plat::Event();
    EXPECT_TRUE(app.CheckContinue());

    app.m_PauseEvent->Set();
    app.m_ContinueEvent->Set();
    EXPECT_TRUE(app.CheckContinue());

    // Paused twice: the second pause waits in its event for the next check.
    app.m_PauseEvent->Set();
    app.m_ContinueEvent->Set();
    EXPECT_TRUE(app.CheckContinue());
    app.m_PauseEvent->Set();
    std::thread stopper([&] { app.m_StopEvent->Set(); });
    EXPECT_FALSE(app.CheckContinue());
    stopper.join();

    app.m_StopEvent->Set();
    EXPECT_FALSE(app.CheckContinue());
    EXPECT_TRUE(app.CheckContinue());
}

TEST_F(MainLoop, RunAppRunsAndDeletesTheSingleton) {
    bool destroyed = false;
    TestApp* app = m_pApp.release();
    app->m_pDestroyed = &destroyed;
    app->Shutdown();
    app->CleanupVars();
    CApplication::SetApp(app);
    EXPECT_EQ(GetApp(), app);
    EXPECT_EQ(GetProfile(), &app->GetProfile());
    EXPECT_EQ(CApplication::RunApp(), 0);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(GetApp(), nullptr);
    EXPECT_EQ(GetProfile(), nullptr);

    // Nothing to run is an error, not a crash.
    bool thrown = false;
    try {
        CApplication::RunApp();
    } catch (CAppException* e) {
        delete e;
        thrown = true;
    }
    EXPECT_TRUE(thrown);
}

TEST_F(MainLoop, TraceIsGatedByLevelAndCategoryAndBounded) {
    TestApp& app = *m_pApp;
    DebugCapture debug;
    app.Trace("DebugMainLoop", 1, "off %d\n", 1);
    EXPECT_EQ(debug.Text(), "");

    app.GetProfile().Set("Dynamic", "DebugMainLoop", true);
    app.Trace("DebugMainLoop", 0, "below the level");
    app.Trace("DebugMainLoop", 1, "%s", "");
    EXPECT_EQ(debug.Text(), "");
    app.Trace("DebugMainLoop", 1, "line %d\n\n", 1);
    app.Trace("DebugMainLoop", 2, "line %d", 2);
    EXPECT_EQ(debug.Text(), "line 1\nline 2\n");

    app.GetProfile().Set("WebServer", "Log Level", 3);
    app.Trace("DebugMainLoop", 2, "hidden");
    std::string longText(3000, 'y');
    app.Trace("DebugMainLoop", 3, "%s", longText.c_str());
    EXPECT_EQ(debug.Text(), "line 1\nline 2\n" + std::string(1023, 'y') + "\n");
}

TEST_F(MainLoop, CleanupVarsClosesTheHandles) {
    TestApp& app = *m_pApp;
    EXPECT_NE(app.m_NamedStopEvent, nullptr);
    app.CleanupVars();
    EXPECT_EQ(app.m_NamedStopEvent, nullptr);
    EXPECT_EQ(app.m_PauseEvent, nullptr);
    EXPECT_EQ(app.m_WorkerThread, nullptr);
    EXPECT_EQ(app.m_ServiceStatusHandle, nullptr);
    // Without its named event the loop still ends by Shutdown.
    app.Shutdown();
    app.Run();
}

}  // namespace
