// Processing modules: the register in construction order and its walks.
#include "common/framework/processing_module.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/config/profile.h"
#include "debug_capture.h"
#include "table_library.h"

namespace {

std::vector<std::string> g_Calls;

class RecordingModule : public CProcessingModule {
public:
    explicit RecordingModule(std::string name) : m_Name(std::move(name)) {}
    void Init() override { g_Calls.push_back(m_Name + ".Init"); }
    void Clear() override { g_Calls.push_back(m_Name + ".Clear"); }
    void Process(unsigned long nPass) override {
        g_Calls.push_back(m_Name + ".Process" + std::to_string(nPass));
        if (m_OnProcess) m_OnProcess();
    }
    std::function<void()> m_OnProcess;

private:
    std::string m_Name;
};

class ProcessingModules : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTableLibrary());
        g_Calls.clear();
        CProcessingModule::SetProfile(nullptr);
    }
    void TearDown() override { CProcessingModule::SetProfile(nullptr); }
};

using Calls = std::vector<std::string>;

TEST_F(ProcessingModules, WalksDoNothingWithoutModules) {
    CProcessingModule::InitAll();
    CProcessingModule::ProcessAll(0);
    CProcessingModule::ClearAll();
    CProcessingModule::ResetAll();
    EXPECT_TRUE(g_Calls.empty());
}

TEST_F(ProcessingModules, EveryWalkFollowsConstructionOrder) {
    RecordingModule a("A"), b("B");
    CProcessingModule::InitAll();
    CProcessingModule::ProcessAll(7);
    CProcessingModule::ClearAll();
    CProcessingModule::ResetAll();
    EXPECT_EQ(g_Calls, (Calls{"A.Init", "B.Init", "A.Process7", "B.Process7", "A.Clear", "B.Clear",
                              "A.Clear", "A.Init", "B.Clear", "B.Init"}));
}

TEST_F(ProcessingModules, ADestroyedModuleLeavesAndTheOthersKeepTheirOrder) {
    RecordingModule a("A");
    auto b = std::make_unique<RecordingModule>("B");
    RecordingModule c("C");
    b.reset();
    CProcessingModule::ProcessAll(1);
    EXPECT_EQ(g_Calls, (Calls{"A.Process1", "C.Process1"}));
}

TEST_F(ProcessingModules, ACopyIsNotRegistered) {
    RecordingModule a("A");
    RecordingModule copy(a);
    CProcessingModule::ProcessAll(0);
    EXPECT_EQ(g_Calls, (Calls{"A.Process0"}));
}

TEST_F(ProcessingModules, AModuleDestroyedDuringAWalkIsSkippedSafely) {
    RecordingModule a("A");
    auto b = std::make_unique<RecordingModule>("B");
    auto c = std::make_unique<RecordingModule>("C");
    auto d = std::make_unique<RecordingModule>("D");
    // A destroys the module the walk visits next, C the last one.
    a.m_OnProcess = [&] { b.reset(); };
    c->m_OnProcess = [&] { d.reset(); };
    CProcessingModule::ProcessAll(2);
    EXPECT_EQ(g_Calls, (Calls{"A.Process2", "C.Process2"}));
    a.m_OnProcess = nullptr;
    c->m_OnProcess = nullptr;
    g_Calls.clear();
    CProcessingModule::ProcessAll(3);
    EXPECT_EQ(g_Calls, (Calls{"A.Process3", "C.Process3"}));
}

TEST_F(ProcessingModules, AnExceptionLeavesTheRegisterUsable) {
    RecordingModule a("A"), b("B");
    a.m_OnProcess = [] { throw 1; };
    EXPECT_THROW(CProcessingModule::ProcessAll(0), int);
    a.m_OnProcess = nullptr;
    g_Calls.clear();
    CProcessingModule::ProcessAll(1);
    EXPECT_EQ(g_Calls, (Calls{"A.Process1", "B.Process1"}));
}

TEST_F(ProcessingModules, TheDebugLinePrecedesEachProcessOnlyWhenSwitchedOn) {
    RecordingModule a("A"), b("B");
    DebugCapture debug;
    CProcessingModule::ProcessAll(0);  // no profile: no line
    EXPECT_EQ(debug.Text(), "");

    CProfile profile("test");
    CProcessingModule::SetProfile(&profile);
    CProcessingModule::ProcessAll(1);  // flag absent: no line
    EXPECT_EQ(debug.Text(), "");

    profile.Set("Dynamic", "DebugMainLoop", true);
    std::string seen;
    a.m_OnProcess = [&] { seen = debug.Text(); };
    CProcessingModule::ProcessAll(2);
    EXPECT_EQ(seen, "Processing module: CProcessingModule*");
    EXPECT_EQ(debug.Text(),
              "Processing module: CProcessingModule*Processing module: CProcessingModule*");
}

}  // namespace
