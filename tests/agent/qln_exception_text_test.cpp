// The agent's texts from the shared library's message table, as a person
// sees them on standard error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "agent/qln_exception.h"
#include "child_process.h"
#include "common/resources/message_ids.h"
#include "line_end.h"
#include "platform/errors.h"
#include "platform/user_language.h"
#include "require_language.h"

namespace {

// An error id of the table's facility that no message has.
constexpr uint32_t kNotInTheTable = 0xC0020038u;

const char* const kLostEnglish = "UPS communications lost.";
// The Japanese text of MSG_UPS_COMMUNICATIONS_LOST in Shift-JIS, as the table holds it, and in
// UTF-8.
const char* const kLostShiftJis =
    "UPS\202\306\202\314\222\312\220M\202\252\220\330\222f\202\263\202\352\202\334\202\265\202\275"
    "\201B";
const char* const kLostUtf8 =
    "UPS\343\201\250\343\201\256\351\200\232\344\277\241\343\201\214\345\210\207\346\226\255"
    "\343\201\225\343\202\214\343\201\276\343\201\227\343\201\237\343\200\202";

std::string TextOf(const CQLNException& e) {
    std::string text;
    e.GetText(text);
    return text;
}

// Standard error of Print() for `id`, written by this program run once more.
std::string PrintedBy(uint32_t id) {
    ProgramResult r = RunProgram("tests_agent", {"--gtest_filter=QlnExceptionPrintChild.*"},
                                 {"QLN_PRINT_ID=" + std::to_string(id)});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    return r.err;
}

// The child's side of PrintedBy.
TEST(QlnExceptionPrintChild, PrintsTheIdItIsGiven) {
    const char* id = std::getenv("QLN_PRINT_ID");
    if (id == nullptr) GTEST_SKIP() << "run by the tests that read standard error";
    std::unique_ptr<CQLNException> e(
        new CQLNException(static_cast<uint32_t>(std::strtoul(id, nullptr, 0))));
    e->Print();
}

TEST(QlnExceptionText, TextsComeFromTheLibraryInEnglish) {
    REQUIRE_USER_LANGUAGE(false);
    EXPECT_EQ(TextOf(CQLNException(MSG_UPS_COMMUNICATIONS_LOST)),
              kLostEnglish + std::string(kPlatformLineEnd));
    EXPECT_EQ(TextOf(CQLNException(MSG_UPS_TIMEOUT)),
              "Timed out communicating with the UPS." + std::string(kPlatformLineEnd));
    // Without insertion strings the text's inserts and "%%" stay as written,
    // and "%0" still ends it.
    EXPECT_EQ(TextOf(CQLNException(MSG_ENTERING_MAIN_LOOP)),
              "Entering main loop iteration %%lu at %%s");
    // Two insertion strings are passed on; this text has no place for them.
    EXPECT_EQ(TextOf(CQLNException(MSG_UPS_INVALID_RESPONSE, {"one", "two"})),
              "Invalid response from UPS." + std::string(kPlatformLineEnd));
    EXPECT_EQ(PrintedBy(MSG_UPS_COMMUNICATIONS_LOST), kLostEnglish + std::string(kPlatformLineEnd));
}

TEST(QlnExceptionText, OtherIdsGetSystemTextsOrUnknownError) {
    std::string system;
    ASSERT_TRUE(plat::SystemErrorText(plat::kErrAccessDenied, system));
    EXPECT_EQ(TextOf(CQLNException(plat::kErrAccessDenied)), system);
    EXPECT_EQ(TextOf(CQLNException(kNotInTheTable)), "Unknown Error");
    EXPECT_EQ(PrintedBy(kNotInTheTable), "Unknown Error");
}

TEST(QlnExceptionText, JapaneseUserReadsJapanese) {
    REQUIRE_USER_LANGUAGE(true);
    // The text keeps the table's bytes; what reaches the reader is in the
    // locale's charset (a Win32 console takes the ANSI code page as it is).
    EXPECT_EQ(TextOf(CQLNException(MSG_UPS_COMMUNICATIONS_LOST)),
              kLostShiftJis + std::string(kPlatformLineEnd));
    std::string printed = PrintedBy(MSG_UPS_COMMUNICATIONS_LOST);
    std::string lineEnd = kPlatformLineEnd;
    if (lineEnd == "\r\n") {
        EXPECT_EQ(printed, kLostShiftJis + lineEnd);
    } else {
        EXPECT_EQ(printed, kLostUtf8 + lineEnd);
    }
}

}  // namespace
