#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/run_command.h"
#include "platform/scoped_handle.h"

extern char** environ;

namespace {

// Runs `args` with standard output and error as `output` says, or standard
// output into `pipeOut` (a descriptor the program writes to) when that is
// valid; collects what comes through it into `text`.
int Run(std::vector<std::string>& args, CommandOutput output, plat::ScopedFd pipeIn,
        plat::ScopedFd pipeOut, std::string* text) {
    if (args.empty()) return -1;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipeOut) {
        posix_spawn_file_actions_adddup2(&actions, pipeOut.Get(), 1);
    } else if (output != CommandOutput::Shown) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    if (output == CommandOutput::Hidden) {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    // What this process has written so far comes before the program's output.
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        // posix_spawnp returns its error instead of setting errno.
        errno = spawned;
        return -1;
    }
    // Only the program holds the write end now: its end is the end of input.
    pipeOut.Reset();
    if (pipeIn) {
        char buffer[512];
        ssize_t n;
        while ((n = ::read(pipeIn.Get(), buffer, sizeof buffer)) != 0) {
            if (n > 0) {
                text->append(buffer, static_cast<size_t>(n));
            } else if (errno != EINTR) {
                break;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int RunCommand(std::vector<std::string> args, CommandOutput output) {
    return Run(args, output, plat::ScopedFd(), plat::ScopedFd(), nullptr);
}

int RunCommand(std::vector<std::string> args, std::string& output) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
    return Run(args, CommandOutput::Hidden, plat::ScopedFd(ends[0]), plat::ScopedFd(ends[1]),
               &output);
}
