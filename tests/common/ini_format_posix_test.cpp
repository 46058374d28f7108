// The write rule's replacement of the file, where POSIX files have more to
// keep than their bytes: links and permissions.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/config/ini_format.h"
#include "scratch_dir.h"

namespace {

TEST(IniFormatPosix, AWriteThroughALinkChangesTheFileAndKeepsTheLink) {
    ScratchDir dir("inilink");
    ASSERT_EQ(::mkdir(dir.File("real").c_str(), 0755), 0);
    std::string target = dir.File("real/qln.ini");
    ASSERT_TRUE(WriteText(target, "[A]\nx=1\n"));
    std::string link = dir.File("link.ini");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

    ASSERT_TRUE(ini::Write(link.c_str(), "A", "x", "2"));
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(target), "[A]\nx=2\n");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"link.ini", "real"}));
}

TEST(IniFormatPosix, AWriteKeepsTheFilesPermissions) {
    ScratchDir dir("inimode");
    std::string path = dir.File("qln.ini");
    ASSERT_TRUE(WriteText(path, "[A]\nx=1\n"));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(ini::Write(path.c_str(), "A", "x", "2"));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniFormatPosix, AFolderThatRefusesNewFilesLeavesTheFileAsItWas) {
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes into any folder";
    ScratchDir dir("inironly");
    std::string path = dir.File("qln.ini");
    ASSERT_TRUE(WriteText(path, "[A]\nx=1\n"));
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    EXPECT_FALSE(ini::Write(path.c_str(), "A", "x", "2"));
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(ReadBytes(path), "[A]\nx=1\n");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"qln.ini"});
}

}  // namespace
