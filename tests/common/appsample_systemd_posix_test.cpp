// The sample program under systemd's contract, with this test in systemd's
// place: a notification socket for the status reports, signals for the
// controls, and a stand-in systemctl for the verbs.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "child_process.h"
#include "program_copy.h"
#include "scratch_dir.h"
#include "wait_for.h"

namespace {

// A datagram socket bound to a path, as systemd's notification socket is.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : m_Path(path) {
        m_nFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        m_bBound = ::bind(m_nFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        ::close(m_nFd);
        ::unlink(m_Path.c_str());
    }
    bool IsBound() const { return m_bBound; }

    // The next message, or "" when none came within `ms`.
    std::string Next(int ms) {
        pollfd p{m_nFd, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1) return "";
        char buffer[512];
        ssize_t n = ::recv(m_nFd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
    }

private:
    std::string m_Path;
    int m_nFd = -1;
    bool m_bBound = false;
};

class AppSampleSystemd : public ::testing::Test {
protected:
    // Each test runs a copy of its own: tests run side by side, and a program
    // file cannot be replaced or removed under a test that runs it.
    void Prepare(const std::string& name) {
        m_pCopy.reset(new ProgramCopy("appsample", name));
        ASSERT_TRUE(m_pCopy->IsValid());
        WriteBytes(m_Dir.File(name + ".ini"), "[Sample]\nInterval=0\nSleep=10\n");
    }
    ScratchDir m_Dir{"appsample"};
    std::unique_ptr<ProgramCopy> m_pCopy;
};

int LastPass(const std::string& ini) {
    std::string text = ReadBytes(ini);
    std::string::size_type at = text.find("LastPass=");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 9);
}

TEST_F(AppSampleSystemd, ReportsReadyAndFollowsPauseContinueAndStopSignals) {
    Prepare("appsample_sdsig");
    NotifySocket notify(m_Dir.File("notify"));
    ASSERT_TRUE(notify.IsBound());
    ChildProcess child;
    ASSERT_TRUE(child.Start(BinPath("appsample_sdsig"), {"-p", m_Dir.Path()},
                            {"NOTIFY_SOCKET=" + m_Dir.File("notify")}));
    EXPECT_EQ(notify.Next(30000), "READY=1\nSTATUS=Running");
    std::string ini = m_Dir.File("appsample_sdsig.ini");
    ASSERT_TRUE(WaitFor([&] { return LastPass(ini) >= 1; }, 30000));

    ASSERT_TRUE(child.Signal(SIGUSR1));
    EXPECT_EQ(notify.Next(30000), "STATUS=Paused");
    int paused = LastPass(ini);
    EXPECT_FALSE(WaitFor([&] { return LastPass(ini) > paused + 1; }, 300));

    ASSERT_TRUE(child.Signal(SIGUSR2));
    EXPECT_EQ(notify.Next(30000), "READY=1\nSTATUS=Running");
    EXPECT_TRUE(WaitFor([&] { return LastPass(ini) > paused + 2; }, 30000));

    // Stop while paused: the stop releases the held worker.
    ASSERT_TRUE(child.Signal(SIGUSR1));
    EXPECT_EQ(notify.Next(30000), "STATUS=Paused");
    ASSERT_TRUE(child.Signal(SIGTERM));
    EXPECT_EQ(notify.Next(30000), "STOPPING=1");
    EXPECT_EQ(notify.Next(30000), "STATUS=Stopped\nERRNO=0");
    ASSERT_TRUE(child.WaitForExit(30000));
    EXPECT_EQ(child.ExitCode(), 0) << child.Err();
}

TEST_F(AppSampleSystemd, VerbsWriteTheUnitAndCallSystemctl) {
    Prepare("appsample_sd");
    std::string units = m_Dir.File("units");
    ::mkdir(units.c_str(), 0755);
    std::string bin = m_Dir.File("bin");
    ::mkdir(bin.c_str(), 0755);
    std::string log = m_Dir.File("systemctl.log");
    WriteBytes(bin + "/systemctl", "#!/bin/sh\necho \"$*\" >> '" + log + "'\n[ \"$1\" != fail ]\n");
    ::chmod((bin + "/systemctl").c_str(), 0755);
    std::vector<std::string> env{"QLN_SYSTEMD_UNIT_DIR=" + units,
                                 "PATH=" + bin + ":" + std::getenv("PATH")};

    auto verb = [&](const char* word, int expectedCode, const std::string& expectedOut) {
        ChildProcess child;
        ASSERT_TRUE(child.Start(BinPath("appsample_sd"), {word}, env));
        ASSERT_TRUE(child.WaitForExit(30000));
        EXPECT_EQ(child.ExitCode(), expectedCode) << word << ": " << child.Err();
        EXPECT_EQ(child.Out(), expectedOut) << word;
    };

    verb("install", 0, "Service installed.\n");
    std::string unit = ReadBytes(units + "/Pellux-appsample_sd.service");
    EXPECT_NE(unit.find("Type=notify\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("ExecStart=\"" + BinPath("appsample_sd") + "\"\n"), std::string::npos)
        << unit;
    verb("install", 1, "Failed Service Call.\n");  // exists already
    verb("start", 0, "Service control succeeded.\n");
    verb("pause", 0, "Service control succeeded.\n");
    verb("resume", 0, "Service control succeeded.\n");
    verb("stop", 0, "Service control succeeded.\n");
    verb("remove", 0, "Service removed.\n");
    verb("remove", 1, "Failed Service Call.\n");
    EXPECT_EQ(ReadBytes(log),
              "daemon-reload\n"
              "start Pellux-appsample_sd.service\n"
              "kill --kill-who=main --signal=SIGUSR1 Pellux-appsample_sd.service\n"
              "kill --kill-who=main --signal=SIGUSR2 Pellux-appsample_sd.service\n"
              "stop Pellux-appsample_sd.service\n"
              "daemon-reload\n");
}

// Before: ExecStart= took the path bare, so a blank split it into program
// and argument and a '%' was read as a specifier.
TEST_F(AppSampleSystemd, UnitQuotesAProgramPathWithBlanksAndPercentSigns) {
    const std::string name = "appsample sd%n";
    Prepare(name);
    std::string units = m_Dir.File("units");
    ::mkdir(units.c_str(), 0755);
    std::string bin = m_Dir.File("bin");
    ::mkdir(bin.c_str(), 0755);
    WriteBytes(bin + "/systemctl", "#!/bin/sh\nexit 0\n");
    ::chmod((bin + "/systemctl").c_str(), 0755);
    ChildProcess child;
    ASSERT_TRUE(
        child.Start(BinPath(name), {"install"},
                    {"QLN_SYSTEMD_UNIT_DIR=" + units, "PATH=" + bin + ":" + std::getenv("PATH")}));
    ASSERT_TRUE(child.WaitForExit(30000));
    ASSERT_EQ(child.ExitCode(), 0) << child.Err();
    std::string unit = ReadBytes(units + "/Pellux-appsample-sd%n.service");
    std::string expected = BinPath(name);
    expected.replace(expected.rfind('%'), 1, "%%");
    EXPECT_NE(unit.find("\nExecStart=\"" + expected + "\"\n"), std::string::npos) << unit;
}

}  // namespace
