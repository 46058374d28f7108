// Which Wine runs a Windows program: an i686 build under 32-bit Wine in a
// win32 prefix, an x86-64 build under 64-bit Wine in a win64 prefix, told by
// the program's PE header. A prefix made for one architecture is never used
// for the other (Wine would mix the two installations' system files, or the
// 32-bit loader would refuse the prefix with an unclear message). Needs no
// Wine: the programs here are only PE headers, refused before Wine starts.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "child_process.h"
#include "scratch_dir.h"
#include "wine_prefix_posix.h"

namespace {

// The first bytes of a PE file for `machine`: the DOS header pointing at the
// PE signature, and the machine field after it.
std::string PeHeader(uint16_t machine) {
    std::string bytes(0x80, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[60] = 0x40;
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    bytes[0x44] = static_cast<char>(machine & 0xff);
    bytes[0x45] = static_cast<char>(machine >> 8);
    return bytes;
}

std::string MadePrefix(const ScratchDir& dir, const std::string& arch) {
    std::filesystem::create_directories(dir.File("prefix"));
    dir.Write(
        "prefix/system.reg",
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=" + arch + "\n");
    return dir.Path() + "/prefix";
}

}  // namespace

TEST(WineArch, ThePeHeaderTellsTheBuild) {
    ScratchDir dir("wine-arch");
    const struct {
        const char* name;
        std::string bytes;
        const char* arch;
    } cases[] = {
        {"i686.exe", PeHeader(0x014c), "win32"},
        {"x86_64.exe", PeHeader(0x8664), "win64"},
        {"arm64.exe", PeHeader(0xaa64), ""},
        {"short.exe", PeHeader(0x8664).substr(0, 0x44), ""},
        {"elf",
         "\x7f"
         "ELF\x02\x01\x01",
         ""},
        {"missing.exe", "", ""},
    };
    for (const auto& c : cases) {
        if (!c.bytes.empty()) {
            ASSERT_TRUE(WriteBytes(dir.File(c.name), c.bytes)) << c.name;
        }
        EXPECT_EQ(PeWineArch(dir.File(c.name)), c.arch) << c.name;
    }
}

TEST(WineArch, APrefixOfTheOtherArchitectureIsRefused) {
    const struct {
        uint16_t machine;
        const char* arch;
        const char* other;
    } cases[] = {{0x8664, "win64", "win32"}, {0x014c, "win32", "win64"}};
    for (const auto& c : cases) {
        ScratchDir dir("wine-arch");
        std::filesystem::create_directories(dir.File("bin"));
        ASSERT_TRUE(WriteBytes(dir.File("bin/qln.exe"), PeHeader(c.machine))) << c.arch;
        const std::string prefix = MadePrefix(dir, c.other);
        EXPECT_EQ(PrefixWineArch(prefix), c.other);

        // The support the Linux tests use.
        ::setenv("QLN_WIN32_BIN", dir.File("bin").c_str(), 1);
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        {
            WinePrefix wine;
            EXPECT_EQ(wine.Arch(), c.arch);
            EXPECT_NE(wine.Missing().find(std::string("was made for ") + c.other),
                      std::string::npos)
                << wine.Missing();
        }
        ::unsetenv("QLN_WIN32_BIN");
        ::unsetenv("WINEPREFIX");

        // CTest's emulator: refused before any Wine program starts, the
        // prefix left as it was.
        ChildProcess run;
        ASSERT_TRUE(
            run.Start("/bin/bash",
                      {std::string(QLN_SOURCE_DIR) + "/cmake/wine-run.sh", dir.File("bin/qln.exe")},
                      {"WINEPREFIX=" + prefix}));
        ASSERT_TRUE(run.WaitForExit(30000));
        EXPECT_EQ(run.ExitCode(), 126) << run.Err();
        EXPECT_NE(run.Err().find(std::string("made for ") + c.other + ", not " + c.arch),
                  std::string::npos)
            << run.Err();
        EXPECT_EQ(PrefixWineArch(prefix), c.other);
    }
}
