// The updater's wait for a stopping service, and its bounded paths.
#include "updater/update_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A service that reports the given statuses, one per query.
struct Script {
    std::vector<StopWaitStatus> replies;
    size_t next = 0;
    std::vector<uint32_t> slept;

    bool Wait(StopWaitStatus first) {
        return WaitUntilStopped(
            first,
            [this](StopWaitStatus& s) {
                if (next >= replies.size()) return false;
                s = replies[next++];
                return true;
            },
            [this](uint32_t ms) { slept.push_back(ms); });
    }
};

TEST(StopWait, AStoppedServiceIsNotWaitedFor) {
    Script s;
    EXPECT_TRUE(s.Wait({plat::kServiceStopped, 0, 5000}));
    EXPECT_TRUE(s.slept.empty());
    EXPECT_EQ(s.next, 0u);
}

TEST(StopWait, SleepsTheFullHintWhileTheCheckPointGrows) {
    Script s;
    s.replies = {{3, 2, 700}, {3, 3, 900}, {plat::kServiceStopped, 0, 0}};
    EXPECT_TRUE(s.Wait({3, 1, 500}));
    EXPECT_EQ(s.slept, (std::vector<uint32_t>{500, 700, 900}));
    EXPECT_EQ(s.next, 3u);
}

TEST(StopWait, NoProgressEndsTheWaitAfterOneHint) {
    Script s;
    s.replies = {{3, 4, 800}, {3, 4, 800}};
    EXPECT_TRUE(s.Wait({3, 4, 800}));
    EXPECT_EQ(s.slept, (std::vector<uint32_t>{800}));
    // A running service that ignores the stop reports no check points either.
    Script running;
    running.replies = {{4, 0, 0}};
    EXPECT_TRUE(running.Wait({4, 0, 0}));
    EXPECT_EQ(running.slept.size(), 1u);
}

TEST(StopWait, AFailedQueryIsAFailure) {
    Script s;
    s.replies = {{3, 2, 10}};
    EXPECT_FALSE(s.Wait({3, 1, 10}));
}

TEST(UpdatePaths, TheProgramDirectoryKeepsItsSeparatorAndOpeningQuote) {
    char dir[kPathBufferSize];
    ASSERT_TRUE(ProgramDirectory("\"C:\\Program Files\\Ombrex\\qln.exe\"", '\\', dir, sizeof dir));
    EXPECT_STREQ(dir, "\"C:\\Program Files\\Ombrex\\");
    ASSERT_TRUE(ProgramDirectory("/opt/qln/bin/qln", '/', dir, sizeof dir));
    EXPECT_STREQ(dir, "/opt/qln/bin/");
    EXPECT_FALSE(ProgramDirectory("qln.exe", '\\', dir, sizeof dir));
}

TEST(UpdatePaths, WhatDoesNotFitIsRefusedNotCut) {
    std::string longPath = "\"C:\\" + std::string(kPathBufferSize, 'd') + "\\qln.exe\"";
    char dir[kPathBufferSize];
    EXPECT_FALSE(ProgramDirectory(longPath.c_str(), '\\', dir, sizeof dir));
    // Exactly full: the directory and its zero take the whole buffer.
    std::string fits = std::string(kPathBufferSize - 2, 'd') + "\\x";
    EXPECT_TRUE(ProgramDirectory(fits.c_str(), '\\', dir, sizeof dir));
    EXPECT_EQ(std::string(dir).size(), kPathBufferSize - 1);
    EXPECT_FALSE(ProgramDirectory((std::string(kPathBufferSize - 1, 'd') + "\\x").c_str(), '\\',
                                  dir, sizeof dir));
}

}  // namespace
