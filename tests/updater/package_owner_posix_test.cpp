// agentupdate leaves a packaged agent alone: dpkg's own files are known as
// its, a file copied in by hand is nobody's.
#include <gtest/gtest.h>
#include <unistd.h>

#include "scratch_dir.h"
#include "updater/update_steps.h"

namespace {

TEST(UpdatePackage, AProgramThatDpkgInstalledIsAPackagesOneCopiedInIsNot) {
    if (::access("/usr/bin/dpkg-query", X_OK) != 0) GTEST_SKIP() << "no dpkg on this machine";
    EXPECT_EQ(OwningPackage("/usr/bin/dpkg"), "dpkg");
    ScratchDir dir;
    std::string copied = dir.Path() + "/qln";
    EXPECT_EQ(OwningPackage(copied), "");
    // A quote in the path reaches dpkg as part of the name, not the shell.
    EXPECT_EQ(OwningPackage("/usr/bin/dpkg'; touch '" + copied), "");
    EXPECT_NE(::access(copied.c_str(), F_OK), 0);
    EXPECT_EQ(OwningPackage("relative/qln"), "");
}

}  // namespace
