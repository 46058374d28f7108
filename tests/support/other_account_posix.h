// Another local account for the tests of the agent's private event channel:
// `nobody`, reached by a forked child of a test that runs as root. The tests
// run as root (CI does); elsewhere they say why they skip.
#pragma once
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

// Why the test cannot act as another account, or "" when it can.
inline std::string OtherAccountMissing() {
    if (::geteuid() != 0) return "runs as root only: it acts as the account 'nobody' in a child";
    if (::getpwnam("nobody") == nullptr) return "this machine has no account 'nobody'";
    return "";
}

inline uid_t NobodyUid() { return ::getpwnam("nobody")->pw_uid; }
inline gid_t NobodyGid() { return ::getpwnam("nobody")->pw_gid; }

// Runs `body` in a forked child; its exit status, or -1 when it died.
// `asNobody` first makes the child the account nobody, with no groups of root.
inline int InChild(const std::function<int()>& body, bool asNobody = true) {
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(NobodyGid()) != 0 ||
                         ::setuid(NobodyUid()) != 0)) {
            ::_exit(99);
        }
        ::_exit(body());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child of the account nobody that keeps running beside the test: it runs
// `setup`, holds what it opened while the test acts, then runs `check`. The
// test calls Finish() to let it go and read the check's result.
class NobodyBeside {
public:
    NobodyBeside(const std::function<int()>& setup, const std::function<int()>& check) {
        int ready[2], go[2];
        if (::pipe(ready) != 0) return;
        if (::pipe(go) != 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            return;
        }
        m_Pid = ::fork();
        if (m_Pid == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyGid()) != 0 ||
                ::setuid(NobodyUid()) != 0) {
                ::_exit(99);
            }
            char result = static_cast<char>(setup());
            if (::write(ready[1], &result, 1) != 1) ::_exit(98);
            char ignored;
            while (::read(go[0], &ignored, 1) > 0) {
            }
            ::_exit(result == 0 ? check() : result);
        }
        ::close(ready[1]);
        ::close(go[0]);
        m_nGo = go[1];
        char result = 1;
        m_bReady = m_Pid > 0 && ::read(ready[0], &result, 1) == 1 && result == 0;
        ::close(ready[0]);
    }
    ~NobodyBeside() { Finish(); }
    // True once the setup has run and succeeded.
    bool Ready() const { return m_bReady; }
    // Lets the child run its check; its exit status, or -1.
    int Finish() {
        if (m_nGo >= 0) ::close(m_nGo);
        m_nGo = -1;
        if (m_Pid <= 0) return -1;
        int status = 0;
        while (::waitpid(m_Pid, &status, 0) < 0) {
        }
        m_Pid = -1;
        m_nResult = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_nResult;
    }

private:
    pid_t m_Pid = -1;
    int m_nGo = -1;
    bool m_bReady = false;
    int m_nResult = -1;
};

// A folder as another account would make it before the agent: owned by
// nobody, open to everyone (mode 0777).
inline std::string MakeNobodysFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0 || ::chmod(path.c_str(), 0777) != 0 ||
        ::chown(path.c_str(), NobodyUid(), NobodyGid()) != 0) {
        return "";
    }
    return path;
}

// What nobody plants in its folder: a FIFO `name` holding one byte, kept open
// by nobody. 0 when planted.
inline int PlantSignalledFifo(const std::string& path, int& fd) {
    if (::mkfifo(path.c_str(), 0666) != 0) return 1;
    fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) return 2;
    char one = 1;
    return ::write(fd, &one, 1) == 1 ? 0 : 3;
}

// 0 when the planted byte is still in the FIFO, 1 when someone took it.
inline int PlantedByteIsThere(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) ? 0 : 1;
}

// Sets, for the life of the object, the variables that choose the event
// folder, and puts them back afterwards.
class EventFolderEnvironment {
public:
    EventFolderEnvironment() {
        for (int i = 0; i < kCount; ++i) {
            const char* value = ::getenv(kNames[i]);
            m_bHad[i] = value != nullptr;
            if (value) m_Saved[i] = value;
            ::unsetenv(kNames[i]);
        }
    }
    ~EventFolderEnvironment() {
        for (int i = 0; i < kCount; ++i) {
            if (m_bHad[i]) {
                ::setenv(kNames[i], m_Saved[i].c_str(), 1);
            } else {
                ::unsetenv(kNames[i]);
            }
        }
    }
    EventFolderEnvironment(const EventFolderEnvironment&) = delete;
    EventFolderEnvironment& operator=(const EventFolderEnvironment&) = delete;

private:
    static constexpr int kCount = 3;
    static constexpr const char* kNames[kCount] = {"QLN_EVENT_DIR", "RUNTIME_DIRECTORY",
                                                   "XDG_RUNTIME_DIR"};
    bool m_bHad[kCount] = {};
    std::string m_Saved[kCount];
};
