// The runtime functions the framework builds on.
#include "common/framework/brx_runtime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ReadAll(FILE* f) {
    std::string text;
    rewind(f);
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    return text;
}

TEST(BrxPaths, CwdAndSeparatorNameFilesOfTheCurrentDirectory) {
    const char* sep = brx::GetDirectorySeparator();
    ASSERT_NE(sep, nullptr);
    ASSERT_TRUE(sep[0] == '/' || sep[0] == '\\');

    const char* name = "brx_cwd_probe.txt";
    FILE* f = fopen(name, "w");
    ASSERT_NE(f, nullptr);
    fputs("here", f);
    fclose(f);

    std::string cwd = brx::GetCwd();
    ASSERT_FALSE(cwd.empty());
    std::string full = cwd + sep[0] + name;
    f = fopen(full.c_str(), "r");
    EXPECT_NE(f, nullptr) << full;
    if (f != nullptr) fclose(f);

    // The short form of an existing path names the same file.
    std::string shortName = brx::GetShortName(full.c_str());
    f = fopen(shortName.c_str(), "r");
    EXPECT_NE(f, nullptr) << shortName;
    if (f != nullptr) {
        char text[8] = {};
        EXPECT_NE(fgets(text, sizeof text, f), nullptr);
        EXPECT_STREQ(text, "here");
        fclose(f);
    }
    remove(name);

    // A path that does not exist comes back as given.
    std::string missing = cwd + sep[0] + "no_such_folder" + sep[0] + "x.ini";
    EXPECT_EQ(brx::GetShortName(missing.c_str()), missing);
    EXPECT_EQ(brx::GetShortName(nullptr), "");
}

TEST(BrxSprintf, CutsAtTheBufferAndAlwaysTerminates) {
    char buf[20];
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(brx::sprintf(buf, sizeof buf, "%d", 1234), 4);
    EXPECT_STREQ(buf, "1234");

    // A real too large for the 20-byte number buffer of the INI writer.
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(brx::sprintf(buf, sizeof buf, "%f", 1e300), 19);
    EXPECT_EQ(strlen(buf), 19u);
    EXPECT_EQ(std::string(buf, 5), "10000");

    char small[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(brx::sprintf(small, 0, "%s", "xyz"), 0);
    EXPECT_EQ(small[0], 'a');  // size 0: nothing written
    EXPECT_EQ(brx::sprintf(small, 1, "%s", "xyz"), 0);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(small[1], 'b');
    EXPECT_EQ(brx::sprintf(nullptr, 10, "%s", "xyz"), 0);
}

TEST(BrxDebug, OutputGoesToTheStreamSetAndLinesNeverInterleave) {
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    brx::CDebug::SetDefaultOutput(f);
    brx::CDebug::Output("value %d of %s\n", 7, "seven");

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) brx::CDebug::Output("thread %d line %03d end\n", t, i);
        });
    }
    for (auto& th : threads) th.join();
    brx::CDebug::SetDefaultOutput(nullptr);

    std::string text = ReadAll(f);
    fclose(f);
    ASSERT_EQ(text.rfind("value 7 of seven\n", 0), 0u) << text.substr(0, 40);
    size_t lines = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = text.substr(pos, end - pos);
        if (line.back() == '\r') line.pop_back();
        if (lines > 0) {
            int t = -1, i = -1;
            char tail[8] = {};
            ASSERT_EQ(sscanf(line.c_str(), "thread %d line %d %7s", &t, &i, tail), 3) << line;
            EXPECT_STREQ(tail, "end");
            EXPECT_EQ(line.size(), strlen("thread 0 line 000 end"));
        }
        ++lines;
        pos = end + 1;
    }
    EXPECT_EQ(lines, 1u + 4 * 200);
}

TEST(BrxSleep, SleepsAtLeastTheTimeAsked) {
    auto start = std::chrono::steady_clock::now();
    brx::SleepMillSec(60);
    auto took = std::chrono::steady_clock::now() - start;
    // Timer granularity may end a sleep a tick early; never by more.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 45);
}

TEST(BrxExecute, RefusesWhatItCannotRun) {
    EXPECT_FALSE(brx::Execute(nullptr, 0, false));
    EXPECT_FALSE(brx::Execute("no_such_program_qln_test_x7", 0, false));
    // Only mode 0 and a foreground run are known.
    EXPECT_FALSE(brx::Execute("no_such_program_qln_test_x7", 1, false));
    EXPECT_FALSE(brx::Execute("no_such_program_qln_test_x7", 0, true));
}

}  // namespace
