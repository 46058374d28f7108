// Replacing a file, a program or a unit: all of it or none of it; and the
// programs the updater runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "../service/service_test_util.h"
#include "child_process.h"
#include "platform/file_replace.h"
#include "platform/run_command.h"
#include "platform/systemd.h"
#include "scratch_dir.h"

namespace {

class FileReplace : public ::testing::Test {
protected:
    int Entries() { return static_cast<int>(m_Scratch.List().size()); }
    ScratchDir m_Scratch{"replace"};
    const std::string& m_Dir = m_Scratch.Path();
};

TEST_F(FileReplace, TheTargetTakesTheNewBytesAndMode) {
    std::string source = m_Dir + "/new", target = m_Dir + "/qln";
    WriteBytes(source, std::string(200000, 'n'));
    chmod(source.c_str(), 0751);
    WriteBytes(target, "old");
    std::string error;
    ASSERT_TRUE(plat::CopyFileOver(source, target, error)) << error;
    EXPECT_EQ(ReadBytes(target), std::string(200000, 'n'));
    struct stat st {};
    stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(Entries(), 2) << "no temporary file is left";
}

TEST_F(FileReplace, AFailureLeavesTheOldFileAndNoLeftovers) {
    std::string target = m_Dir + "/qln";
    WriteBytes(target, "old");
    std::string error;
    EXPECT_FALSE(plat::CopyFileOver(m_Dir + "/missing", target, error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(target), "old");

    // A folder where the program should be: the rename fails after the copy.
    std::string source = m_Dir + "/new";
    WriteBytes(source, "new");
    std::string folder = m_Dir + "/sub";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    WriteBytes(folder + "/keep", "x");
    EXPECT_FALSE(plat::CopyFileOver(source, folder, error));
    EXPECT_EQ(ReadBytes(folder + "/keep"), "x");
    EXPECT_EQ(Entries(), 3) << "the temporary file was removed";

    // A directory is no program to copy.
    EXPECT_FALSE(plat::CopyFileOver(folder, target, error));
    EXPECT_EQ(ReadBytes(target), "old");
}

// A unit is written whole, readable by everyone, and never over one that is
// there; a failure leaves nothing behind and keeps the system's reason.
TEST_F(FileReplace, AUnitFileIsNewWholeAndReadable) {
    std::string unit = m_Dir + "/qln.service";
    const mode_t mask = ::umask(077);  // the unit's mode is not the writer's mask's
    const bool written = plat::WriteNewUnitFile(unit, "[Unit]\nDescription=x\n");
    ::umask(mask);
    ASSERT_TRUE(written);
    EXPECT_EQ(ReadBytes(unit), "[Unit]\nDescription=x\n");
    struct stat st {};
    ASSERT_EQ(stat(unit.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(Entries(), 1) << "no temporary file is left";

    errno = 0;
    EXPECT_FALSE(plat::WriteNewUnitFile(unit, "other"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadBytes(unit), "[Unit]\nDescription=x\n");

    errno = 0;
    EXPECT_FALSE(plat::WriteNewUnitFile(m_Dir + "/none/qln.service", "x"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Entries(), 1);
}

// A program's output is collected whole, its errors kept out of it, and its
// exit status given back; a program that is not there is -1.
TEST(RunCommand, CollectsTheOutputAndTheStatus) {
    std::string out;
    EXPECT_EQ(RunCommand({"sh", "-c", "printf 'a\\nb'; echo hidden >&2; exit 3"}, out), 3);
    EXPECT_EQ(out, "a\nb");
    std::string big;
    EXPECT_EQ(RunCommand({"head", "-c", "300000", "/dev/zero"}, big), 0);
    EXPECT_EQ(big.size(), 300000u) << "more than a pipe holds";
    out.clear();
    EXPECT_EQ(RunCommand({"qln-no-such-program"}, out), -1);
    EXPECT_EQ(out, "");
}

TEST(AgentUpdate, EndsWithMinusOneWhenTheAgentServiceCannotBeReached) {
    if (access("/run/systemd/system/", F_OK) == 0) {
        GTEST_SKIP() << "systemd runs here: the updater would act on its services";
    }
    ProgramResult r = RunProgram("agentupdate", {});
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(r.out, "");
}

}  // namespace
