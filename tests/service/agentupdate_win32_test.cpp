// agentupdate under Wine: it stops the relay agent service, copies the new
// files from the current directory into the service's program directory
// (each beside its target, then renamed over it), and starts the service
// again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "platform/errors.h"
#include "platform/module.h"
#include "scm_util_win32.h"
#include "service_test_util.h"

namespace {

// Runs `exe` with `args` in the current directory and returns its exit code.
int RunExe(const std::string& exe, const std::string& args = "") {
    std::string cmd = "\"" + exe + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return -2000;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}

class AgentUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveLeftovers();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        m_Root = std::string(temp) + "qln-update-" + std::to_string(GetCurrentProcessId());
        // Spaces in both folders: the copy commands must quote both paths.
        m_Install = m_Root + "\\install dir";
        m_New = m_Root + "\\new files";
        CreateDirectoryA(m_Root.c_str(), nullptr);
        CreateDirectoryA(m_Install.c_str(), nullptr);
        CreateDirectoryA(m_New.c_str(), nullptr);
        GetCurrentDirectoryA(MAX_PATH, temp);
        m_Cwd = temp;
    }
    void TearDown() override {
        SetCurrentDirectoryA(m_Cwd.c_str());
        RemoveLeftovers();
        std::string rd = "cmd /c rmdir /s /q \"" + m_Root + "\"";
        WaitFor(
            [&] {
                system(rd.c_str());
                return GetFileAttributesA(m_Root.c_str()) == INVALID_FILE_ATTRIBUTES;
            },
            5000);
    }
    static std::string Bin(const char* name) { return plat::ReplaceFileName(BinPath("qln"), name); }

    // The service runs from a folder of its own, with a library that carries
    // a mark behind its image (the loader does not read that far).
    void InstallOldAgent() {
        m_Library = ReadBytes(Bin("Pellux_noDB.dll"));
        ASSERT_FALSE(m_Library.empty());
        ASSERT_TRUE(CopyFileA(Bin("qln_testsvc.exe").c_str(),
                              (m_Install + "\\qln_testsvc.exe").c_str(), FALSE));
        WriteBytes(m_Install + "\\Pellux_noDB.dll", m_Library + "OLD");
        ASSERT_EQ(RunExe(m_Install + "\\qln_testsvc.exe", "install"), 0);
        ASSERT_EQ(StartWithParameters({}), 0u);
        ASSERT_TRUE(
            WaitFor([&] { return CountLines(ReadBytes(Log()), "found") == 1; }, kServiceWaitMs));
    }
    std::string Log() const { return m_Install + "\\testsvc.log"; }
    std::string LibraryMark() const {
        std::string installed = ReadBytes(m_Install + "\\Pellux_noDB.dll");
        return installed.size() < 3 ? installed : installed.substr(installed.size() - 3);
    }

    std::string m_Library;

    std::string m_Root, m_Install, m_New, m_Cwd;
};

TEST_F(AgentUpdate, EndsWithMinusOneWhenTheAgentServiceIsNotInstalled) {
    WriteBytes(m_New + "\\qln.exe", "new program");
    ASSERT_TRUE(SetCurrentDirectoryA(m_New.c_str()));
    EXPECT_EQ(RunExe(Bin("agentupdate.exe")), -1);
    EXPECT_FALSE(Installed());
}

TEST_F(AgentUpdate, StopsCopiesFromTheCurrentDirectoryAndStartsAgain) {
    ASSERT_NO_FATAL_FAILURE(InstallOldAgent());
    WriteBytes(m_New + "\\qln.exe", "new program");
    WriteBytes(m_New + "\\Pellux_noDB.dll", m_Library + "NEW");

    ASSERT_TRUE(SetCurrentDirectoryA(m_New.c_str()));
    EXPECT_EQ(RunExe(Bin("agentupdate.exe")), 0);
    SetCurrentDirectoryA(m_Cwd.c_str());

    EXPECT_EQ(ReadBytes(m_Install + "\\qln.exe"), "new program");
    EXPECT_EQ(LibraryMark(), "NEW");
    // Stopped (the worker ended) and started again with the new library.
    EXPECT_TRUE(WaitState(SERVICE_RUNNING));
    EXPECT_TRUE(
        WaitFor([&] { return CountLines(ReadBytes(Log()), "found") == 2; }, kServiceWaitMs));
    EXPECT_EQ(CountLines(ReadBytes(Log()), "ended"), 1);
}

TEST_F(AgentUpdate, AFileThatCannotBeCopiedIsNamedWithTheSystemsReason) {
    ASSERT_NO_FATAL_FAILURE(InstallOldAgent());
    WriteBytes(m_New + "\\qln.exe", "new program");  // and no library

    ASSERT_TRUE(SetCurrentDirectoryA(m_New.c_str()));
    ProgramResult r = RunProgram("agentupdate", {});
    SetCurrentDirectoryA(m_Cwd.c_str());

    // The other file is copied, the old library stays whole, the service
    // runs again, and standard error says which file and why.
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadBytes(m_Install + "\\qln.exe"), "new program");
    EXPECT_EQ(LibraryMark(), "OLD");
    EXPECT_NE(r.err.find("agentupdate: " + m_New +
                         "\\Pellux_noDB.dll: " + plat::SystemReason(ERROR_FILE_NOT_FOUND)),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(WaitState(SERVICE_RUNNING));
}

}  // namespace
