#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "run_program.h"

extern char** environ;

namespace {
std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
}  // namespace

std::string BinPath(const std::string& program) { return std::string(QLN_BIN_DIR) + "/" + program; }

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    char outName[] = "/tmp/qln-test-outXXXXXX";
    char errName[] = "/tmp/qln-test-errXXXXXX";
    int outFd = mkstemp(outName);
    int errFd = mkstemp(errName);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::string path = BinPath(program);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envCopy;
    for (char** e = environ; *e; ++e) envCopy.push_back(*e);
    for (const auto& e : env) envCopy.push_back(e);
    std::vector<char*> envp;
    for (auto& e : envCopy) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    ProgramResult result;
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : -1000;
    } else {
        result.exitCode = -2000;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(outFd);
    close(errFd);
    result.out = Slurp(outName);
    result.err = Slurp(errName);
    unlink(outName);
    unlink(errName);
    return result;
}
