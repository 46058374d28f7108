// The agent's error object passes its insertion strings to the Windows
// message formatter in their order.
#include <gtest/gtest.h>

#include <string>

#include "agent/qln_exception.h"

namespace {

TEST(QlnExceptionWin32, TwoInsertionStringsReachTheFormatterInOrder) {
    // ERROR_MR_MID_NOT_FOUND: a system text with the inserts %1 and %2.
    CQLNException e(317u, {"FIRSTINSERT", "SECONDINSERT"});
    std::string text;
    e.GetText(text);
    size_t first = text.find("FIRSTINSERT");
    size_t second = text.find("SECONDINSERT");
    ASSERT_NE(first, std::string::npos) << text;
    ASSERT_NE(second, std::string::npos) << text;
    EXPECT_LT(first, second) << text;
}

}  // namespace
