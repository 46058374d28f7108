// The agent's named events on Linux are its control channel ("UPS Found" makes
// the service ready, "UPS Find Failed" stops it). Each test stands for one way
// another local account used to get at it, or for what the agent leaves
// behind; the account is `nobody`, in a forked child of this root test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "agent/named_event_failure.h"
#include "common/resources/message_ids.h"
#include "other_account_posix.h"
#include "platform/event.h"
#include "scratch_dir.h"

namespace {

// A name of this test process's own: other test programs run beside it as
// root and hold events in the same default folder.
std::string Unique(const std::string& name) { return name + " " + std::to_string(::getpid()); }

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

class NamedEventChannel : public ::testing::Test {
protected:
    void SetUp() override {
        std::string missing = OtherAccountMissing();
        if (!missing.empty()) GTEST_SKIP() << missing;
        // nobody passes through to the folders the tests make for it.
        ASSERT_EQ(::chmod(m_Scratch.Path().c_str(), 0711), 0);
    }
    EventFolderEnvironment m_Environment;
    ScratchDir m_Scratch{"events"};
};

// Before: root's FIFOs were 0644 in a 01755 folder, so any account could open
// "UPS_Found" for reading and take the byte that makes the service ready.
TEST_F(NamedEventChannel, AnotherAccountCannotReadTheSignal) {
    plat::Event found(Unique("UPS Found"));
    ASSERT_TRUE(found.IsValid());
    EXPECT_EQ(ModeOf(found.Path()), S_IFIFO | 0600);
    EXPECT_EQ(ModeOf(FolderOf(found.Path())), S_IFDIR | 0700);
    found.Set();
    std::string path = found.Path();
    int taken = InChild([&path] {
        int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0) return 0;
        char byte;
        return ::read(fd, &byte, 1) == 1 ? 1 : 2;
    });
    EXPECT_EQ(taken, 0) << "nobody opened " << path << (taken == 1 ? " and took the signal" : "");
    EXPECT_TRUE(found.TryConsume()) << "the signal is still there for the agent";
}

// Two accounts' agents each have their own channel: neither sees the other's
// signal, and neither is kept from its own.
TEST_F(NamedEventChannel, AgentsOfTwoAccountsDoNotShareEvents) {
    std::string name = Unique("UPS Found");
    plat::Event mine(name);
    ASSERT_TRUE(mine.IsValid());
    std::string rootPath = mine.Path();
    int theirs = InChild([&name, &rootPath] {
        plat::Event event(name);
        if (!event.IsValid()) return 1;
        if (event.Path() == rootPath) return 2;
        event.Set();
        return event.TryConsume() ? 0 : 3;
    });
    EXPECT_EQ(theirs, 0) << "nobody's own event: 1 not had, 2 root's, 3 not signalled";
    EXPECT_FALSE(mine.TryConsume()) << "nobody's signal reached root's event";
    EXPECT_TRUE(plat::SignalNamedEvent(name));
    EXPECT_TRUE(mine.TryConsume());
}

// Before: a folder that another account made first (mode 0777) was taken as
// it was, and a FIFO "UPS_Find_Failed" planted there with a byte in it
// stopped root's service 2.4 s after its start.
TEST_F(NamedEventChannel, AFolderOfAnotherAccountIsRefused) {
    std::string folder = MakeNobodysFolder(m_Scratch.File("theirs"));
    ASSERT_FALSE(folder.empty());
    std::string fifo = folder + "/UPS_Find_Failed";
    int fd = -1;
    NobodyBeside planter([&fifo, &fd] { return PlantSignalledFifo(fifo, fd); },
                         [&fd] { return PlantedByteIsThere(fd); });
    ASSERT_TRUE(planter.Ready());
    ::setenv("QLN_EVENT_DIR", folder.c_str(), 1);
    {
        plat::Event findFailed("UPS Find Failed");
        EXPECT_FALSE(findFailed.IsValid());
        EXPECT_EQ(findFailed.Fault(), plat::EventFault::kRefused);
        EXPECT_EQ(findFailed.FaultPath(), folder);
        EXPECT_FALSE(findFailed.TryConsume());
    }
    EXPECT_EQ(planter.Finish(), 0) << "the planted byte was taken";
    // Not even a folder of this account's own that others may enter is taken.
    std::string open = m_Scratch.File("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    ::setenv("QLN_EVENT_DIR", open.c_str(), 1);
    plat::Event inOpen("UPS Found");
    EXPECT_EQ(inOpen.Fault(), plat::EventFault::kRefused);
    EXPECT_EQ(inOpen.FaultPath(), open);
    EXPECT_FALSE(FileExists(open + "/UPS_Found")) << "nothing is made in a refused folder";
}

// A FIFO that another account owns, or that others may open, is refused even
// in the account's own folder.
TEST_F(NamedEventChannel, AFifoNotTheAccountsAloneIsRefused) {
    std::string folder = m_Scratch.File("own");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ::setenv("QLN_EVENT_DIR", folder.c_str(), 1);
    std::string fifo = folder + "/Theirs";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::chown(fifo.c_str(), NobodyUid(), NobodyGid()), 0);
    plat::Event theirs("Theirs");
    EXPECT_EQ(theirs.Fault(), plat::EventFault::kRefused);
    EXPECT_EQ(theirs.FaultPath(), fifo);
    std::string open = folder + "/Open";
    ASSERT_EQ(::mkfifo(open.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0666), 0);
    plat::Event opened("Open");
    EXPECT_EQ(opened.Fault(), plat::EventFault::kRefused);
    std::string file = folder + "/File";
    ASSERT_TRUE(WriteBytes(file, "x"));
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    plat::Event notFifo("File");
    EXPECT_EQ(notFifo.Fault(), plat::EventFault::kRefused);
    EXPECT_EQ(ReadBytes(file), "x");
}

// Opens a pseudo-terminal's master; its slave's path in `slave`.
int OpenTerminal(std::string& slave) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -1;
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname(master) == nullptr) {
        ::close(master);
        return -1;
    }
    slave = ::ptsname(master);
    return master;
}

// In a child that is a session leader without a terminal (as a service is):
// 0 when the named event "UPS Found" is refused and the child has not taken a
// controlling terminal; 1 when it took one, 2 when the event was had.
int RefusedWithoutTakingATerminal() {
    return InChild(
        [] {
            if (::setsid() < 0) return 3;
            plat::Event found("UPS Found");
            found.Set();
            int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY);
            if (tty >= 0) return 1;
            return found.IsValid() ? 2 : 0;
        },
        false);
}

bool TerminalStaysQuiet(int master) {
    pollfd p{master, POLLIN, 0};
    return ::poll(&p, 1, 500) == 0;
}

// Before: "UPS_Found" as a link to a terminal that another account holds was
// followed, opened without O_NOCTTY and taken as root's controlling terminal
// (^C stopped the agent, closing it hung the agent up), and the signal byte
// was written into it.
TEST_F(NamedEventChannel, ALinkToATerminalIsNeverOpened) {
    std::string slave;
    int master = OpenTerminal(slave);
    ASSERT_GE(master, 0);
    std::unique_ptr<int, void (*)(int*)> closeMaster(&master, [](int* fd) { ::close(*fd); });
    // In another account's folder, and in the account's own folder.
    std::string theirs = MakeNobodysFolder(m_Scratch.File("theirs"));
    ASSERT_FALSE(theirs.empty());
    std::string own = m_Scratch.File("own");
    ASSERT_EQ(::mkdir(own.c_str(), 0700), 0);
    for (const std::string& folder : {theirs, own}) {
        ASSERT_EQ(::symlink(slave.c_str(), (folder + "/UPS_Found").c_str()), 0);
        ::setenv("QLN_EVENT_DIR", folder.c_str(), 1);
        EXPECT_EQ(RefusedWithoutTakingATerminal(), 0) << folder;
        EXPECT_TRUE(TerminalStaysQuiet(master)) << "a byte reached the terminal through " << folder;
        plat::Event found("UPS Found");
        EXPECT_EQ(found.Fault(), plat::EventFault::kRefused) << folder;
    }
    plat::Event found("UPS Found");
    EXPECT_EQ(found.FaultPath(), own + "/UPS_Found") << "the link itself is named";
}

// Before: a folder that was a link made root create its FIFOs wherever the
// link pointed.
TEST_F(NamedEventChannel, AFolderThatIsALinkIsRefused) {
    std::string target = m_Scratch.File("target");
    ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
    std::string link = m_Scratch.File("link");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    for (const std::string& given : {link, link + "/", link + "//"}) {
        ::setenv("QLN_EVENT_DIR", given.c_str(), 1);
        plat::Event found("UPS Found");
        EXPECT_EQ(found.Fault(), plat::EventFault::kRefused) << given;
        EXPECT_EQ(found.FaultPath(), link) << given;
    }
    EXPECT_FALSE(FileExists(target + "/UPS_Found")) << "a FIFO was made where the link points";
    // A file where the folder should be is refused too.
    std::string file = m_Scratch.File("file");
    ASSERT_TRUE(WriteBytes(file, ""));
    ::setenv("QLN_EVENT_DIR", file.c_str(), 1);
    EXPECT_EQ(plat::Event("UPS Found").Fault(), plat::EventFault::kRefused);
}

// Before: the FIFOs stayed for ever. The event that made a FIFO (and its
// folder) removes it; one that only opened it leaves it to its maker.
TEST_F(NamedEventChannel, WhatAnEventMadeGoesWithIt) {
    std::string folder = m_Scratch.File("events");
    ::setenv("QLN_EVENT_DIR", folder.c_str(), 1);
    std::unique_ptr<plat::Event> maker(new plat::Event("UPS Found"));
    ASSERT_TRUE(maker->IsValid());
    EXPECT_EQ(ModeOf(folder), S_IFDIR | 0700);
    {
        plat::Event user("UPS Found");
        ASSERT_TRUE(user.IsValid());
        user.Set();
    }
    EXPECT_TRUE(FileExists(folder + "/UPS_Found"));
    EXPECT_TRUE(maker->TryConsume()) << "one event, seen through both";
    maker.reset();
    EXPECT_FALSE(FileExists(folder + "/UPS_Found"));
    EXPECT_FALSE(FileExists(folder)) << "the folder the event made";
    // A folder that was given stays; so does its maker's folder with events
    // still in it. In the default folder the FIFO goes with its event.
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    EXPECT_TRUE(plat::SignalNamedEvent("UPS Found"));
    EXPECT_TRUE(FileExists(folder));
    EXPECT_FALSE(FileExists(folder + "/UPS_Found"));
    ::unsetenv("QLN_EVENT_DIR");
    std::string path;
    {
        plat::Event inDefault(Unique("Removed"));
        ASSERT_TRUE(inDefault.IsValid());
        path = inDefault.Path();
        EXPECT_TRUE(FileExists(path));
    }
    EXPECT_FALSE(FileExists(path));
}

// systemd's runtime folder first, then the login session's; the folder a
// unit gets by default (0755) is open to others and refused.
TEST_F(NamedEventChannel, TheServiceRuntimeFolderAndTheSessionFolderAreUsed) {
    std::string runtime = m_Scratch.File("runtime");
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    std::string session = m_Scratch.File("session");
    ASSERT_EQ(::mkdir(session.c_str(), 0700), 0);
    ::setenv("XDG_RUNTIME_DIR", session.c_str(), 1);
    EXPECT_EQ(plat::Event("UPS Found").Path(), session + "/qln/UPS_Found");
    ::setenv("RUNTIME_DIRECTORY", (runtime + ":" + session).c_str(), 1);
    EXPECT_EQ(plat::Event("UPS Found").Path(), runtime + "/UPS_Found");
    ASSERT_EQ(::chmod(runtime.c_str(), 0755), 0);
    EXPECT_EQ(plat::Event("UPS Found").Fault(), plat::EventFault::kRefused);
    // A session folder of another account's is passed over.
    ::unsetenv("RUNTIME_DIRECTORY");
    ASSERT_EQ(::chown(session.c_str(), NobodyUid(), NobodyGid()), 0);
    plat::Event elsewhere("UPS Found");
    EXPECT_TRUE(elsewhere.IsValid());
    EXPECT_EQ(elsewhere.Path().find(session), std::string::npos) << elsewhere.Path();
}

// What the agent reports for an event it cannot have.
TEST_F(NamedEventChannel, TheAgentNamesTheFolderOrTheRefusedPath) {
    std::string missing = m_Scratch.File("no/such/folder");
    ::setenv("QLN_EVENT_DIR", missing.c_str(), 1);
    plat::Event unusable("UPS Found");
    ASSERT_EQ(unusable.Fault(), plat::EventFault::kUnusable);
    std::unique_ptr<CQLNException> failure(NamedEventFailure(unusable));
    EXPECT_EQ(failure->GetMessageId(), MSG_EVENT_FOLDER_UNUSABLE);
    ASSERT_EQ(failure->GetStringCount(), 2);
    EXPECT_STREQ(failure->GetString(0), missing.c_str());
    EXPECT_STREQ(failure->GetString(1), "No such file or directory");
    EXPECT_EQ(NamedEventExitCode(unusable), static_cast<uint32_t>(ENOENT));

    std::string theirs = MakeNobodysFolder(m_Scratch.File("theirs"));
    ::setenv("QLN_EVENT_DIR", theirs.c_str(), 1);
    plat::Event refused("UPS Found");
    failure.reset(NamedEventFailure(refused));
    EXPECT_EQ(failure->GetMessageId(), MSG_EVENT_FILE_REFUSED);
    ASSERT_EQ(failure->GetStringCount(), 1);
    EXPECT_STREQ(failure->GetString(0), theirs.c_str());
    EXPECT_EQ(NamedEventExitCode(refused), static_cast<uint32_t>(EACCES));
}

}  // namespace
