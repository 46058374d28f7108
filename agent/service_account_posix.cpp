// The service account: useradd for the account, and a forked child that takes
// the account on (groups, then group, then user) to ask access() about each
// path, so that the answer is the kernel's own for that account.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "agent/service_account.h"
#include "platform/product_names.h"
#include "platform/run_command.h"

std::string EnsureSystemAccount(const std::string& account, const std::string& extraGroup) {
    if (::getpwnam(account.c_str()) != nullptr) return "";
    std::vector<std::string> args{
        ::access("/usr/sbin/useradd", X_OK) == 0 ? "/usr/sbin/useradd" : "useradd",
        "--system",
        "--user-group",
        "--no-create-home",
        "--home-dir",
        "/nonexistent",
        "--shell",
        "/usr/sbin/nologin",
        "--comment",
        plat::kAgentDescription};
    if (::getgrnam(extraGroup.c_str()) != nullptr) {
        args.push_back("--groups");
        args.push_back(extraGroup);
    }
    args.push_back(account);
    int status = RunCommand(args, CommandOutput::ErrorsOnly);
    if (::getpwnam(account.c_str()) != nullptr) return "";
    if (status == -1) return "useradd could not be run to make the account " + account;
    return "useradd could not make the account " + account + " (exit status " +
           std::to_string(status) + ")";
}

std::string FirstPathDenied(const std::string& account, const std::string& extraGroup,
                            const std::vector<AccountNeed>& needs, std::string& error) {
    error.clear();
    const passwd* pw = ::getpwnam(account.c_str());
    if (pw == nullptr) {
        error = "there is no account " + account;
        return "";
    }
    if (::geteuid() != 0) {
        error = "only root can check what the account " + account + " may use";
        return "";
    }
    std::vector<gid_t> groups{pw->pw_gid};
    if (const group* gr = ::getgrnam(extraGroup.c_str())) groups.push_back(gr->gr_gid);
    uid_t uid = pw->pw_uid;
    gid_t gid = pw->pw_gid;
    fflush(stdout);
    fflush(stderr);
    pid_t pid = ::fork();
    if (pid < 0) {
        error = "no process for the check";
        return "";
    }
    if (pid == 0) {
        // Only system calls from here on: this child of a possibly threaded
        // process ends with _exit.
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(gid) != 0 ||
            ::setuid(uid) != 0) {
            ::_exit(255);
        }
        for (size_t i = 0; i < needs.size() && i < 250; ++i) {
            if (::access(needs[i].path.c_str(), needs[i].mode) != 0)
                ::_exit(static_cast<int>(i) + 1);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) break;
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 255;
    if (code == 0) return "";
    if (code > 0 && code <= static_cast<int>(needs.size()) && code <= 250) {
        return needs[static_cast<size_t>(code - 1)].path;
    }
    error = "the check as the account " + account + " failed";
    return "";
}
