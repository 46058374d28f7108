// The sample program as a service under the service control manager: its
// own verbs install, start, pause, continue, stop and remove it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "child_process.h"
#include "line_end.h"
#include "platform/windows_wrapper.h"
#include "program_copy.h"
#include "scratch_dir.h"
#include "wait_for.h"

namespace {

const char* const kProgram = "appsample_svc";
const char* const kService = "Pellux appsample_svc";

DWORD ServiceState() {
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 0;
    DWORD state = 0;
    SC_HANDLE service = ::OpenServiceA(manager, kService, SERVICE_QUERY_STATUS);
    if (service) {
        SERVICE_STATUS status{};
        if (::QueryServiceStatus(service, &status)) state = status.dwCurrentState;
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return state;
}

// Removes what a failed run may have left behind.
void ForceRemove() {
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return;
    SC_HANDLE service = ::OpenServiceA(manager, kService, SERVICE_ALL_ACCESS);
    if (service) {
        SERVICE_STATUS status{};
        ::ControlService(service, SERVICE_CONTROL_STOP, &status);
        ::DeleteService(service);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
}

std::string ShortName(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD n = ::GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : path;
}

int LastPass(const std::string& ini) {
    std::string text = ReadBytes(ini);
    std::string::size_type at = text.find("LastPass=");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 9);
}

std::string RegistryText(const std::string& key, const char* value) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return "<no key>";
    }
    char data[MAX_PATH] = "";
    DWORD size = sizeof data;
    DWORD type = 0;
    LONG rc =
        ::RegQueryValueExA(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(handle);
    return rc == ERROR_SUCCESS ? std::string(data) : "<no value>";
}

class AppSampleService : public ::testing::Test {
protected:
    void SetUp() override {
        ForceRemove();
        m_pCopy.reset(new ProgramCopy("appsample", kProgram));
        ASSERT_TRUE(m_pCopy->IsValid());
        std::string exe = BinPath(kProgram);
        m_Dir = exe.substr(0, exe.find_last_of("\\/") + 1);
        m_Ini = m_Dir + kProgram + ".ini";
        WriteBytes(m_Ini, "[Sample]\nInterval=0\nSleep=20\n");
    }
    void TearDown() override {
        ForceRemove();
        WaitFor([] { return ServiceState() == 0; }, 10000);
        ::DeleteFileA(m_Ini.c_str());
        m_pCopy.reset();
    }

    void Verb(const char* verb, const char* expected) {
        ProgramResult r = RunProgram(kProgram, {verb});
        EXPECT_EQ(Lf(r.out), std::string(expected) + "\n") << verb << ": " << r.err;
        EXPECT_EQ(r.exitCode, 0) << verb;
    }

    std::unique_ptr<ProgramCopy> m_pCopy;
    std::string m_Dir;
    std::string m_Ini;
};

DWORD StartType() {
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 0xFFFFFFFF;
    DWORD type = 0xFFFFFFFF;
    SC_HANDLE service = ::OpenServiceA(manager, kService, SERVICE_QUERY_CONFIG);
    if (service) {
        char buffer[8192];
        DWORD needed = 0;
        auto config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
        if (::QueryServiceConfigA(service, config, sizeof buffer, &needed))
            type = config->dwStartType;
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return type;
}

// Sends a control the service does not handle; true when it was delivered.
bool Interrogate() {
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = ::OpenServiceA(manager, kService, SERVICE_INTERROGATE);
    SERVICE_STATUS status{};
    bool ok = service && ::ControlService(service, SERVICE_CONTROL_INTERROGATE, &status);
    if (service) ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return ok;
}

TEST_F(AppSampleService, InstallsStartsPausesContinuesStopsAndRemovesItself) {
    // Words are handled in order: the verb ends the process before the bad
    // option behind it is looked at.
    ProgramResult install = RunProgram(kProgram, {"install", "-x"});
    EXPECT_EQ(Lf(install.out), "Service installed.\n");
    EXPECT_EQ(install.err, "");
    EXPECT_EQ(install.exitCode, 0);
    EXPECT_EQ(StartType(), static_cast<DWORD>(SERVICE_DEMAND_START));
    ProgramResult again = RunProgram(kProgram, {"install"});
    EXPECT_EQ(Lf(again.out), "Failed Service Call.\n");
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));

    Verb("start", "Service control succeeded.");
    ASSERT_TRUE(WaitFor([] { return ServiceState() == SERVICE_RUNNING; }, 30000));
    ASSERT_TRUE(WaitFor([&] { return LastPass(m_Ini) >= 2; }, 30000)) << ReadBytes(m_Ini);
    EXPECT_EQ(RegistryText("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" +
                               std::string(kService),
                           "EventMessageFile"),
              ShortName(m_Dir));

    Verb("pause", "Service control succeeded.");
    ASSERT_TRUE(WaitFor([] { return ServiceState() == SERVICE_PAUSED; }, 30000));
    // Held between two passes: at most the pass in progress still ends.
    int paused = LastPass(m_Ini);
    EXPECT_FALSE(WaitFor([&] { return LastPass(m_Ini) > paused + 1; }, 500));

    Verb("resume", "Service control succeeded.");
    ASSERT_TRUE(WaitFor([] { return ServiceState() == SERVICE_RUNNING; }, 30000));
    EXPECT_TRUE(WaitFor([&] { return LastPass(m_Ini) > paused + 2; }, 30000));

    // A control it does not handle changes nothing.
    Interrogate();
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

    Verb("stop", "Service control succeeded.");
    ASSERT_TRUE(WaitFor([] { return ServiceState() == SERVICE_STOPPED; }, 30000));
    int stopped = LastPass(m_Ini);
    EXPECT_FALSE(WaitFor([&] { return LastPass(m_Ini) > stopped; }, 300));

    // Started again and stopped while paused: the stop releases the worker.
    Verb("start", "Service control succeeded.");
    ASSERT_TRUE(WaitFor([] { return ServiceState() == SERVICE_RUNNING; }, 30000));
    Verb("pause", "Service control succeeded.");
    ASSERT_TRUE(WaitFor([] { return ServiceState() == SERVICE_PAUSED; }, 30000));
    Verb("stop", "Service control succeeded.");
    ASSERT_TRUE(WaitFor([] { return ServiceState() == SERVICE_STOPPED; }, 30000));

    Verb("remove", "Service removed.");
    EXPECT_EQ(ServiceState(), 0u);
    ProgramResult gone = RunProgram(kProgram, {"remove"});
    EXPECT_EQ(Lf(gone.out), "Failed Service Call.\n");
}

}  // namespace
