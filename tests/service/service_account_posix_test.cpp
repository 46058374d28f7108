// The service account of `qln install`: what it may use is asked of the
// kernel as that account, and a missing account is made as a system account.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "agent/service_account.h"
#include "other_account_posix.h"
#include "scratch_dir.h"

namespace {

TEST(ServiceAccount, NamesTheFirstPathTheAccountCannotUse) {
    std::string missing = OtherAccountMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    ScratchDir dir("account");
    ASSERT_EQ(chmod(dir.Path().c_str(), 0711), 0);
    std::string open = dir.File("open.ini");
    std::string closed = dir.File("closed.ini");
    ASSERT_TRUE(WriteBytes(open, "[Communications]\n"));
    ASSERT_TRUE(WriteBytes(closed, "[Network]\nPasswd=x\n"));
    ASSERT_EQ(chmod(open.c_str(), 0644), 0);
    ASSERT_EQ(chmod(closed.c_str(), 0600), 0);
    std::string error;
    EXPECT_EQ(
        FirstPathDenied("nobody", "dialout", {{open, R_OK}, {"/dev/null", R_OK | W_OK}}, error),
        "");
    EXPECT_EQ(error, "");
    EXPECT_EQ(FirstPathDenied("nobody", "dialout", {{open, R_OK}, {closed, R_OK}}, error), closed);
    EXPECT_EQ(FirstPathDenied("nobody", "dialout", {{open, W_OK}}, error), open);
    // The extra group counts: a device of that group, 0660, as udev makes them.
    if (const group* gr = getgrnam("dialout")) {
        std::string device = dir.File("ttyFake");
        ASSERT_TRUE(WriteBytes(device, ""));
        ASSERT_EQ(chown(device.c_str(), 0, gr->gr_gid), 0);
        ASSERT_EQ(chmod(device.c_str(), 0660), 0);
        EXPECT_EQ(FirstPathDenied("nobody", "dialout", {{device, R_OK | W_OK}}, error), "");
        EXPECT_EQ(FirstPathDenied("nobody", "no-such-group", {{device, R_OK | W_OK}}, error),
                  device);
    }
    EXPECT_EQ(FirstPathDenied("qln-no-such-account", "dialout", {{open, R_OK}}, error), "");
    EXPECT_NE(error, "");
}

// A test account that the test makes through the verb's own code and removes.
TEST(ServiceAccount, AMissingAccountIsMadeAsASystemAccountInTheSerialGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "runs as root only: it adds and removes an account";
    if (access("/usr/sbin/useradd", X_OK) != 0) GTEST_SKIP() << "useradd is not installed";
    std::string name = "qlnt" + std::to_string(getpid() % 100000);
    ASSERT_EQ(getpwnam(name.c_str()), nullptr) << name << " exists already";
    EXPECT_EQ(EnsureSystemAccount(name, "dialout"), "");
    const passwd* pw = getpwnam(name.c_str());
    ASSERT_NE(pw, nullptr);
    EXPECT_LT(pw->pw_uid, 1000u) << "a system account";
    EXPECT_STREQ(pw->pw_shell, "/usr/sbin/nologin");
    const group* own = getgrgid(pw->pw_gid);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(std::string(own->gr_name), name);
    if (const group* serial = getgrnam("dialout")) {
        bool member = false;
        for (char** m = serial->gr_mem; *m; ++m) member = member || name == *m;
        EXPECT_TRUE(member) << name << " is not in dialout";
    }
    EXPECT_EQ(EnsureSystemAccount(name, "dialout"), "") << "an existing account is taken as it is";
    EXPECT_EQ(system(("/usr/sbin/userdel '" + name + "' 2>/dev/null").c_str()), 0);
    EXPECT_EQ(getpwnam(name.c_str()), nullptr);
}

}  // namespace
