// Replacing a program file: all of it or none of it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "../service/service_test_util.h"
#include "child_process.h"
#include "platform/file_replace.h"
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

TEST(AgentUpdate, EndsWithMinusOneWhenTheAgentServiceCannotBeReached) {
    if (access("/run/systemd/system/", F_OK) == 0) {
        GTEST_SKIP() << "systemd runs here: the updater would act on its services";
    }
    ProgramResult r = RunProgram("agentupdate", {});
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(r.out, "");
}

}  // namespace
