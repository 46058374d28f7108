// The write rule's replacement of the file, where POSIX files have more to
// keep than their bytes: links and permissions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "common/config/ini_format.h"
#include "platform/file_replace.h"
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

// A crash between the write and the rename: the file is as it was, and the
// new content sits complete in the temporary file beside it.
bool DieBeforeTheRename(const std::string&, const std::string&) { ::_exit(0); }

TEST(IniFormatPosix, ACrashBetweenWriteAndRenameLeavesTheFileByteForByte) {
    ScratchDir dir("inicrash");
    std::string path = dir.File("qln.ini");
    ASSERT_TRUE(WriteText(path, "[A]\nx=1\n"));
    const std::string before = ReadBytes(path);

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ini::WriteWithCommit(path.c_str(), "A", "x", "2", ini::HeaderStyle::FirstColumn,
                             &DieBeforeTheRename);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the commit step was reached";

    EXPECT_EQ(ReadBytes(path), before);
    std::vector<std::string> names = dir.List();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], "qln.ini");
    EXPECT_EQ(ReadBytes(dir.File(names[0])), "[A]\nx=2\n");
}

TEST(IniFormatPosix, TheTemporaryFileIsNotInheritedByProgramsStartedMeanwhile) {
    ScratchDir dir("inicloexec");
    std::string temp;
    FILE* file = plat::CreateTempFileBeside(dir.File("qln.ini"), temp);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(::fcntl(::fileno(file), F_GETFD) & FD_CLOEXEC, 0);
    std::fclose(file);
}

}  // namespace

// Before: a FIFO held every read (and the profile's write) for good, and
// /dev/zero was read without end; the profile's library shares the reader.
TEST(IniFormatPosix, AFileThatNeverEndsIsNeitherReadNorWritten) {
    ScratchDir dir("iniendless");
    const std::string fifo = dir.File("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = dir.File("huge.ini");
    ASSERT_TRUE(WriteText(huge, "[A]\nx=1\n;" + std::string(ini::kMaxFileBytes, 'x') + "\n"));
    for (const std::string& path : {fifo, std::string("/dev/zero"), huge}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(ini::FindEntry(path.c_str(), "A", "x", ini::HeaderStyle::FirstColumn,
                                    ini::OpenFor::Reading));
        EXPECT_FALSE(ini::FindSection(path.c_str(), "A"));
    }
    EXPECT_FALSE(ini::Write(fifo.c_str(), "A", "x", "2"));
    EXPECT_FALSE(ini::Write(huge.c_str(), "A", "x", "2"));
    EXPECT_EQ(ReadBytes(huge).size(), 9 + ini::kMaxFileBytes + 1);
}
