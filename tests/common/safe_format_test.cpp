#include "common/framework/safe_format.h"

#include <gtest/gtest.h>

namespace {

TEST(SafeFormat, FormatsLikePrintfWhenArgumentsMatch) {
    EXPECT_EQ(SafeFormat("Entering main loop iteration %lu at %s", {42UL, "Mon"}),
              "Entering main loop iteration 42 at Mon");
    EXPECT_EQ(SafeFormat("[%5d|%-4s|%x|%.2f|%c|%%]", {-7, "ab", 255U, 1.5, 65}),
              "[   -7|ab  |ff|1.50|A|%]");
    EXPECT_EQ(SafeFormat("%s ended rc = [%d]", {std::string("agent"), 3}), "agent ended rc = [3]");
}

TEST(SafeFormat, NeverReadsArgumentsThatWereNotPassed) {
    EXPECT_EQ(SafeFormat("%s and %d and %n", {}), "%s and %d and %n");
    EXPECT_EQ(SafeFormat("%s %s", {"one"}), "one %s");
    // A conversion of the wrong kind is text; the argument waits for its own.
    EXPECT_EQ(SafeFormat("%e then %s", {"name"}), "%e then name");
    EXPECT_EQ(SafeFormat("%d", {"text"}), "%d");
    EXPECT_EQ(SafeFormat("%s", {12}), "%s");
    // Conversions that would read or write elsewhere are always text.
    EXPECT_EQ(SafeFormat("%n%p%*d", {1, 2, 3}), "%n%p%*d");
    EXPECT_EQ(SafeFormat("%99999999d|%.99999s", {1, "x"}), "%99999999d|%.99999s");
    EXPECT_EQ(SafeFormat("cut %", {1}), "cut %");
    EXPECT_EQ(SafeFormat("cut %-5", {1}), "cut %-5");
    EXPECT_EQ(SafeFormat("%s", {static_cast<const char*>(nullptr)}), "(null)");
}

TEST(SafeFormat, LeavesJapaneseCharactersAlone) {
    // JIS form of MSG_PROCESSING_MODULE: the percent signs inside the runs are characters.
    EXPECT_EQ(SafeFormat("\x1b$B%b%8%e!<%k\x1b(B %s\x1b$B$r=hM}$7$F$%24%24%24$^$9!%23\x1b(B",
                         {"CProcessingModule *"}),
              "\x1b$B%b%8%e!<%k\x1b(B CProcessingModule *\x1b$B$r=hM}$7$F$%24%24%24$^$9!%23\x1b(B");
    // JIS form of MSG_ENTERING_MAIN_LOOP with its two arguments.
    EXPECT_EQ(SafeFormat("\x1b$B%a%$%s%k!<%W$KF~$j$^$9\x1b(B %lu / %s", {7UL, "now"}),
              "\x1b$B%a%$%s%k!<%W$KF~$j$^$9\x1b(B 7 / now");
    // An unclosed run reaches the end of the text.
    EXPECT_EQ(SafeFormat("\x1b$B%s%d", {"x", 1}), "\x1b$B%s%d");
    // Shift-JIS pairs are copied whole.
    EXPECT_EQ(SafeFormat("\x83\x5c%s", {"x"}), "\x83\x5cx");
}

}  // namespace
