// The write rule's replacement of the file when Windows refuses it.
#include <gtest/gtest.h>

#include <string>

#include "common/config/ini_format.h"
#include "platform/windows_wrapper.h"
#include "scratch_dir.h"

namespace {

TEST(IniFormatWin32, AFileHeldOpenByAnotherProgramStaysAsItWas) {
    ScratchDir dir("inilock");
    std::string path = dir.File("qln.ini");
    ASSERT_TRUE(WriteText(path, "[A]\nx=1\n"));
    const std::string before = ReadBytes(path);
    // Another program reads and writes the file but does not let it be
    // replaced: the write can open it, but not move its new content over it.
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    bool written = ini::Write(path.c_str(), "A", "x", "2");
    CloseHandle(held);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"qln.ini"});
}

}  // namespace
