// The Win32 build identifies the simulated UPS through a COM port of the Wine
// prefix: a symbolic link in its dosdevices folder to the simulator's
// pseudo-terminal. Runs when the Win32 build is at hand (QLN_WIN32_BIN, as
// scripts/test.sh sets it); skipped otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "upssim.h"
#include "wait_for.h"
#include "wine_prefix_posix.h"

extern char** environ;

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Runs `argv` with `env` added, output to `logPath`; its exit status, or -1
// when it had to be stopped after `limitMs`.
// `tick`, when given, runs at every look at the program while it runs.
int RunWithLimit(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                 const std::string& logPath, uint32_t limitMs,
                 const std::function<void()>& tick = nullptr) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);  // its own group, to stop it whole
    posix_spawnattr_setpgroup(&attr, 0);
    std::vector<std::string> envCopy;
    for (char** e = environ; *e; ++e) envCopy.push_back(*e);
    envCopy.insert(envCopy.end(), env.begin(), env.end());
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (auto& e : envCopy) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return -2;
    int status = 0;
    bool ended = WaitFor(
        [&] {
            if (tick) tick();
            return ::waitpid(pid, &status, WNOHANG) == pid;
        },
        limitMs);
    if (!ended) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(WineComPort, Win32BuildIdentifiesTheSimulatorThroughACommPort) {
    WinePrefix wine;
    if (!wine.Missing().empty()) GTEST_SKIP() << wine.Missing();
    const std::string exe = wine.Bin() + "/tests_upslink.exe";
    if (!Exists(exe)) GTEST_SKIP() << exe << " not built";

    UpsSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    WineComPort com(wine, sim.SlavePath());
    ASSERT_FALSE(com.Name().empty()) << "no free COM port in " << wine.Path();

    const std::string log = "wine_com_port_" + std::to_string(::getpid()) + ".log";
    int status =
        RunWithLimit({"/bin/bash", std::string(QLN_SOURCE_DIR) + "/cmake/wine-run.sh", exe,
                      "--gtest_filter=NamedUpsPort.IdentifiesTheUpsBehindIt"},
                     {"QLN_TEST_UPS_PORT=" + com.Name(), "WINEPREFIX=" + wine.Path()}, log, 180000);
    std::string output = Slurp(log);
    ::unlink(log.c_str());
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
    EXPECT_GE(sim.Count(0x31) + sim.Count(0xA0), 1u);
    EXPECT_EQ(sim.Speed(), 19200u);
}

// The same COM port hung up under the Win32 build (the simulator closes its
// line when the program asks for it): the polls fail until the device is
// given up.
TEST(WineComPort, Win32BuildNoticesAVanishedPort) {
    WinePrefix wine;
    if (!wine.Missing().empty()) GTEST_SKIP() << wine.Missing();
    const std::string exe = wine.Bin() + "/tests_upslink.exe";
    if (!Exists(exe)) GTEST_SKIP() << exe << " not built";

    UpsSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    WineComPort com(wine, sim.SlavePath());
    ASSERT_FALSE(com.Name().empty()) << "no free COM port in " << wine.Path();

    // The folder where the program asks for the unplug, as Wine's Z: drive
    // shows it.
    const std::string dir = "/tmp/qln-wine-unplug-" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    std::string wineDir = "Z:" + dir;
    for (char& c : wineDir) c = c == '/' ? '\\' : c;
    bool unplugged = false;
    auto tick = [&] {
        if (!unplugged && Exists(dir + "/unplug")) {
            sim.Control("unplug");
            std::ofstream(dir + "/unplugged") << "done\n";
            unplugged = true;
        }
    };

    const std::string log = "wine_com_gone_" + std::to_string(::getpid()) + ".log";
    int status = RunWithLimit({"/bin/bash", std::string(QLN_SOURCE_DIR) + "/cmake/wine-run.sh", exe,
                               "--gtest_filter=NamedUpsPort.AVanishedPort*"},
                              {"QLN_TEST_UPS_PORT=" + com.Name(),
                               "QLN_TEST_UPS_HANDSHAKE=" + wineDir, "WINEPREFIX=" + wine.Path()},
                              log, 180000, tick);
    ::unlink((dir + "/unplug").c_str());
    ::unlink((dir + "/unplugged").c_str());
    ::rmdir(dir.c_str());
    std::string output = Slurp(log);
    ::unlink(log.c_str());
    EXPECT_TRUE(unplugged);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
}
