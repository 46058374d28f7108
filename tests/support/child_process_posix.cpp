#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "child_process.h"
#include "platform/clock.h"

extern char** environ;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempFile(const char* pattern) {
    std::string name = std::string("/tmp/") + pattern + "XXXXXX";
    int fd = mkstemp(name.data());
    if (fd >= 0) close(fd);
    return name;
}

constexpr uint32_t kPollMs = 20;

}  // namespace

int CountOf(const std::string& in, const std::string& text) {
    int n = 0;
    for (size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + text.size())) {
        ++n;
    }
    return n;
}

ChildProcess::ChildProcess()
    : m_OutPath(TempFile("qln-child-out")), m_ErrPath(TempFile("qln-child-err")) {}

ChildProcess::~ChildProcess() {
    Stop();
    unlink(m_OutPath.c_str());
    unlink(m_ErrPath.c_str());
}

bool ChildProcess::Start(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    int outFd = open(m_OutPath.c_str(), O_WRONLY | O_TRUNC);
    int errFd = open(m_ErrPath.c_str(), O_WRONLY | O_TRUNC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envCopy;
    for (char** e = environ; *e; ++e) envCopy.push_back(*e);
    for (const auto& e : env) envCopy.push_back(e);
    std::vector<char*> envp;
    for (auto& e : envCopy) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outFd);
    close(errFd);
    m_nPid = rc == 0 ? pid : -1;
    return rc == 0;
}

void ChildProcess::Reap(int status) {
    m_nExitCode = WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : -1000;
    m_nPid = -1;
}

bool ChildProcess::Running() {
    if (m_nPid <= 0) return false;
    int status = 0;
    if (waitpid(m_nPid, &status, WNOHANG) == m_nPid) {
        Reap(status);
        return false;
    }
    return true;
}

bool ChildProcess::WaitForExit(uint32_t ms) {
    uint32_t start = plat::TickCount();
    while (Running()) {
        if (plat::TickCount() - start >= ms) return false;
        plat::SleepMs(kPollMs);
    }
    return true;
}

void ChildProcess::Stop(uint32_t graceMs) {
    if (!Running()) return;
    kill(m_nPid, SIGTERM);
    if (WaitForExit(graceMs)) return;
    kill(m_nPid, SIGKILL);
    int status = 0;
    if (waitpid(m_nPid, &status, 0) == m_nPid) Reap(status);
}

std::string ChildProcess::Out() const { return Slurp(m_OutPath); }
std::string ChildProcess::Err() const { return Slurp(m_ErrPath); }

bool ChildProcess::WaitForText(bool onStderr, const std::string& text, int count, uint32_t ms) {
    uint32_t start = plat::TickCount();
    for (;;) {
        if (CountOf(onStderr ? Err() : Out(), text) >= count) return true;
        if (plat::TickCount() - start >= ms) return false;
        plat::SleepMs(kPollMs);
    }
}
