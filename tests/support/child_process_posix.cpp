#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "child_process.h"
#include "wait_for.h"

extern char** environ;

namespace {

constexpr uint32_t kHardStopMs = 30000;

std::string TempFile(const char* pattern) {
    std::string name = std::string("/tmp/") + pattern + "XXXXXX";
    int fd = mkstemp(name.data());
    if (fd >= 0) close(fd);
    return name;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : -1000;
}

}  // namespace

std::string BinPath(const std::string& program) { return std::string(QLN_BIN_DIR) + "/" + program; }

ChildProcess::ChildProcess()
    : m_OutPath(TempFile("qln-child-out")), m_ErrPath(TempFile("qln-child-err")) {}

ChildProcess::~ChildProcess() {
    Stop();
    unlink(m_OutPath.c_str());
    unlink(m_ErrPath.c_str());
}

bool ChildProcess::Start(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    int outFd = open(m_OutPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    int errFd = open(m_ErrPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<std::string> argStrings{path};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) envStrings.push_back(*e);
    envStrings = Environment(envStrings, env);
    std::vector<char*> argv = Pointers(argStrings);
    std::vector<char*> envp = Pointers(envStrings);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outFd);
    close(errFd);
    m_nPid = rc == 0 ? pid : -1;
    return rc == 0;
}

bool ChildProcess::Running() {
    if (m_nPid <= 0) return false;
    int status = 0;
    if (waitpid(m_nPid, &status, WNOHANG) != m_nPid) return true;
    m_nExitCode = ExitCodeOf(status);
    m_nPid = -1;
    return false;
}

bool ChildProcess::WaitForExit(uint32_t ms) {
    return WaitFor([this] { return !Running(); }, ms);
}

bool ChildProcess::Signal(int signal) { return Running() && kill(m_nPid, signal) == 0; }

void ChildProcess::Stop(uint32_t graceMs) {
    if (!Running()) return;
    kill(m_nPid, SIGTERM);
    if (WaitForExit(graceMs)) return;
    kill(m_nPid, SIGKILL);
    WaitForExit(kHardStopMs);
}
