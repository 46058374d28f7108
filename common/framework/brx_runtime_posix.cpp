#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "common/framework/brx_runtime.h"

namespace brx {

const char* GetDirectorySeparator() { return "/"; }

std::string GetShortName(const char* path) { return path != nullptr ? path : ""; }

std::string GetCwd() {
    std::vector<char> buf(256);
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE || buf.size() > 65536) return std::string();
        buf.resize(buf.size() * 2);
    }
    return buf.data();
}

bool Execute(const char* command, int mode, bool detached) {
    if (command == nullptr || mode != 0 || detached) return false;
    pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace brx
