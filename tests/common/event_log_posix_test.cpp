// Entries in syslog as the journal reads them. A child process sees a
// socket of the test's own at /dev/log (in a mount namespace of its own, so
// the machine's log is untouched) and writes one entry; the test reads what
// syslog() sent there.
#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "common/resources/message_ids.h"
#include "platform/event_log.h"
#include "scratch_dir.h"

// Before: the identifier was the event source's name, "Ombrex Quillon", and
// journald takes no tag with a blank: `journalctl -t` found nothing. Now the
// tag is the program's own name, and a named agent's "<program>@<name>".
TEST(EventLogPosix, EntriesCarryTheProgramsNameAsTheirTag) {
    if (::geteuid() != 0) GTEST_SKIP() << "a mount namespace of its own needs root";
    const std::string program = program_invocation_short_name;
    const struct {
        const char* instance;
        std::string tag;
    } cases[] = {{"", program}, {"ups2", program + "@ups2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.instance);
        ScratchDir dir{"syslog"};
        int s = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(s, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::string path = dir.File("log");
        std::strcpy(a.sun_path, path.c_str());
        ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            bool ok = ::unshare(CLONE_NEWNS) == 0 &&
                      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                      ::mount(dir.Path().c_str(), "/dev", nullptr, MS_BIND, nullptr) == 0;
            if (ok) plat::SetEventLogInstance(c.instance);
            if (ok)
                plat::WriteEventLogEntry("Ombrex Quillon", plat::kEventInformation, MSG_UPS_FOUND,
                                         nullptr, 0, "UPS found.\n");
            ::_exit(ok ? 0 : 2);
        }
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 2) {
            ::close(s);
            GTEST_SKIP() << "no mount namespace here";
        }
        pollfd p{s, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1) << "nothing reached /dev/log";
        char buffer[1024];
        ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
        ::close(s);
        ASSERT_GT(n, 0);
        std::string entry(buffer, static_cast<size_t>(n));
        const std::string tag = c.tag + "[" + std::to_string(child) + "]: [0x40020170] UPS found.";
        EXPECT_NE(entry.find(tag), std::string::npos) << entry;
        EXPECT_EQ(entry.find("Ombrex Quillon"), std::string::npos) << entry;
    }
}
