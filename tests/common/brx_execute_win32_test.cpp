// brx::Execute with a process command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/framework/brx_runtime.h"

namespace {

std::string LastLine(const char* path) {
    FILE* f = fopen(path, "r");
    if (f == nullptr) return "<missing>";
    char buf[64] = {};
    std::string last;
    while (fgets(buf, sizeof buf, f) != nullptr) last = buf;
    fclose(f);
    return last;
}

TEST(BrxExecuteProcess, ResultFollowsTheExitCode) {
    EXPECT_TRUE(brx::Execute("cmd /c exit 0", 0, false));
    EXPECT_FALSE(brx::Execute("cmd /c exit 3", 0, false));
}

TEST(BrxExecuteProcess, TheCommandHasEndedWhenItReturns) {
    const char* path = "brx_execute_probe.txt";
    remove(path);
    // Many small appends take a while; all of them are in the file at return.
    ASSERT_TRUE(
        brx::Execute("cmd /c for /L %i in (1,1,200) do @echo %i>>brx_execute_probe.txt", 0, false));
    EXPECT_EQ(LastLine(path), "200\n");
    remove(path);
}

}  // namespace
