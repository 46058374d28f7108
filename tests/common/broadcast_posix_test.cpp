// On Linux the messenger is Samba's: a stand-in "smbclient" on the PATH
// records what each command hands it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <list>
#include <string>

#include "common/framework/broadcast.h"
#include "common/framework/broadcast_command.h"
#include "scratch_dir.h"

namespace {

class PathGuard {
public:
    explicit PathGuard(const std::string& first)
        : m_Saved(std::getenv("PATH") ? std::getenv("PATH") : "") {
        ::setenv("PATH", (first + ":" + m_Saved).c_str(), 1);
    }
    ~PathGuard() { ::setenv("PATH", m_Saved.c_str(), 1); }

private:
    std::string m_Saved;
};

TEST(Broadcast, EachNameAndMessageReachTheMessengerAsOneWord) {
    ScratchDir dir("broadcast");
    std::string log = dir.File("log.txt");
    std::string stub = dir.File("smbclient");
    // Records "<name>|<message>"; the name "down" fails like a host that is off.
    WriteBytes(stub, "#!/bin/sh\nread -r text\nprintf '%s|%s\\n' \"$3\" \"$text\" >> '" + log +
                         "'\n[ \"$3\" != down ]\n");
    ::chmod(stub.c_str(), 0755);
    PathGuard path(dir.Path());

    std::string message = "UPS on \"battery\"; $(touch " + dir.File("pwned") + ") 'now' `id`";
    EXPECT_TRUE(Broadcast(message.c_str(), {"ops", "", "it desk"}));
    EXPECT_EQ(ReadBytes(log), "ops|UPS on \\\"battery\\\"; $(touch " + dir.File("pwned") +
                                  ") 'now' `id`\n"
                                  "it desk|UPS on \\\"battery\\\"; $(touch " +
                                  dir.File("pwned") + ") 'now' `id`\n");
    EXPECT_EQ(ReadBytes(dir.File("pwned")), "");
    struct stat st {};
    EXPECT_NE(::stat(dir.File("pwned").c_str(), &st), 0);

    // The first failure ends the call: the third name gets nothing.
    WriteBytes(log, "");
    EXPECT_FALSE(Broadcast("x", {"first", "down", "third"}));
    EXPECT_EQ(ReadBytes(log), "first|x\ndown|x\n");
}

TEST(BroadcastCommand, ATooLongCommandIsRefusedNotCut) {
    std::string command;
    EXPECT_TRUE(BroadcastCommand("ops", "short", 260, command));
    EXPECT_FALSE(BroadcastCommand("ops", std::string(300, 'm'), 260, command));
    std::list<std::string> names{"ops"};
    EXPECT_FALSE(Broadcast(std::string(300, 'm').c_str(), names));
}

}  // namespace
