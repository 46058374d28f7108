#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "child_process.h"
#include "platform/clock.h"
#include "run_program.h"

extern char** environ;

struct ChildProcess::Impl {
    pid_t pid = 0;
    bool running = false;
    std::string outPath;
    std::string errPath;
};

ChildProcess::ChildProcess() : m_pImpl(new Impl) {}

ChildProcess::~ChildProcess() {
    Kill();
    if (!m_pImpl->outPath.empty()) ::unlink(m_pImpl->outPath.c_str());
    if (!m_pImpl->errPath.empty()) ::unlink(m_pImpl->errPath.c_str());
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    char outName[] = "/tmp/qln-child-outXXXXXX";
    char errName[] = "/tmp/qln-child-errXXXXXX";
    int outFd = ::mkstemp(outName);
    int errFd = ::mkstemp(errName);
    m_pImpl->outPath = outName;
    m_pImpl->errPath = errName;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::string path = BinPath(program);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envCopy;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const auto& add : env) {
            if (entry.compare(0, add.find('=') + 1, add, 0, add.find('=') + 1) == 0) replaced = true;
        }
        if (!replaced) envCopy.push_back(entry);
    }
    for (const auto& e : env) envCopy.push_back(e);
    std::vector<char*> envp;
    for (auto& e : envCopy) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int rc = ::posix_spawn(&m_pImpl->pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outFd);
    ::close(errFd);
    m_pImpl->running = rc == 0;
    return m_pImpl->running;
}

bool ChildProcess::WaitExit(uint32_t ms, int& exitCode) {
    if (!m_pImpl->running) return false;
    uint32_t start = plat::TickCount();
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(m_pImpl->pid, &status, WNOHANG);
        if (r == m_pImpl->pid) {
            m_pImpl->running = false;
            exitCode = WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : -1000;
            return true;
        }
        if (plat::TickCount() - start >= ms) return false;
        plat::SleepMs(10);
    }
}

void ChildProcess::Kill() {
    if (!m_pImpl->running) return;
    ::kill(m_pImpl->pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pImpl->pid, &status, 0);
    m_pImpl->running = false;
}

std::string ChildProcess::Out() const { return ReadFile(m_pImpl->outPath); }
std::string ChildProcess::Err() const { return ReadFile(m_pImpl->errPath); }

TempDir::TempDir() {
    char name[] = "/tmp/qln-fw-XXXXXX";
    const char* made = ::mkdtemp(name);
    m_Path = std::string(made ? made : "/tmp") + "/";
}

namespace {

void RemoveTree(const std::string& dir) {
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
            std::string path = dir + "/" + e->d_name;
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                RemoveTree(path);
            } else {
                ::unlink(path.c_str());
            }
        }
        ::closedir(d);
    }
    ::rmdir(dir.c_str());
}

}  // namespace

TempDir::~TempDir() { RemoveTree(m_Path.substr(0, m_Path.size() - 1)); }

ProgramCopy::ProgramCopy(const std::string& program, const std::string& name) : m_Name(name) {
    std::string text = ReadFile(BinPath(program));
    WriteFile(BinPath(name), text);
    m_bValid = !text.empty() && ::chmod(BinPath(name).c_str(), 0755) == 0;
}

ProgramCopy::~ProgramCopy() { ::unlink(BinPath(m_Name).c_str()); }

bool ChildProcess::SendSignal(int signal) {
    return m_pImpl->running && ::kill(m_pImpl->pid, signal) == 0;
}
