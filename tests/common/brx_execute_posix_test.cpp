// brx::Execute through the shell.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/framework/brx_runtime.h"

namespace {

std::string FirstLine(const char* path) {
    FILE* f = fopen(path, "r");
    if (f == nullptr) return "<missing>";
    char buf[64] = {};
    if (fgets(buf, sizeof buf, f) == nullptr) buf[0] = '\0';
    fclose(f);
    return buf;
}

TEST(BrxExecuteShell, ResultFollowsTheExitCode) {
    EXPECT_TRUE(brx::Execute("exit 0", 0, false));
    EXPECT_FALSE(brx::Execute("exit 3", 0, false));
    EXPECT_FALSE(brx::Execute("kill -9 $$", 0, false));
}

TEST(BrxExecuteShell, TheCommandHasEndedWhenItReturns) {
    const char* path = "brx_execute_probe.txt";
    remove(path);
    ASSERT_TRUE(brx::Execute("sleep 0.3; echo done > brx_execute_probe.txt", 0, false));
    EXPECT_EQ(FirstLine(path), "done\n");
    remove(path);
    // Quotes and blanks reach the shell as one command line.
    ASSERT_TRUE(brx::Execute("printf '%s\\n' \"a \\\"b\\\"\" > brx_execute_probe.txt", 0, false));
    EXPECT_EQ(FirstLine(path), "a \"b\"\n");
    remove(path);
}

}  // namespace
