// The library's exception: texts, inserts and trace lines.
#include "common/framework/app_exception.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/config/profile.h"
#include "common/framework/event_type.h"
#include "common/framework/message_text.h"
#include "common/resources/message_ids.h"
#include "debug_capture.h"
#include "line_end.h"
#include "platform/errors.h"
#include "require_language.h"
#include "table_library.h"

namespace {

const unsigned long kNoSocket = MSG_SHUTDOWN_AGENT_NO_SOCKET;
const unsigned long kProcessingModule = MSG_PROCESSING_MODULE;  // "Processing module: %s"
const unsigned long kEntering = MSG_ENTERING_MAIN_LOOP;         // "... iteration %lu at %s"
const unsigned long kUnknownId = 0xC002FFF0;

// The table's line end is the platform's: CR LF on Win32, LF on Linux.
std::string Line(const std::string& text) { return text + kPlatformLineEnd; }

std::string TextOf(CAppException& e) {
    std::string out;
    e.GetText("", out);
    return out;
}

std::string FormattedOf(CAppException& e) {
    std::string out;
    e.GetFormattedText("", out);
    return out;
}

class AppException : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadTableLibrary()); }
};
using TraceEvents = AppException;

TEST_F(AppException, ConstructorsKeepIdsAndPrivateCopiesOfTheInserts) {
    std::string first = "first";
    CAppException a(kNoSocket, 2, first.c_str(), "second");
    first[0] = 'X';  // the exception holds its own copy
    EXPECT_EQ(a.GetErrorNumber(), kNoSocket);
    EXPECT_EQ(a.GetSystemErrorNumber(), 0);
    ASSERT_EQ(a.GetInsertCount(), 2);
    EXPECT_STREQ(a.GetInsert(0), "first");
    EXPECT_STREQ(a.GetInsert(1), "second");
    EXPECT_STREQ(a.GetInsert(2), "");  // past the end: empty, not read

    CAppException b(42L, kNoSocket, 1, "only");
    EXPECT_EQ(b.GetSystemErrorNumber(), 42);
    EXPECT_EQ(b.GetErrorNumber(), kNoSocket);
    EXPECT_STREQ(b.GetInsert(0), "only");

    CAppException c(kNoSocket, 1, static_cast<const char*>(nullptr));
    EXPECT_STREQ(c.GetInsert(0), "");

    CAppException d(kNoSocket);
    EXPECT_EQ(d.GetInsertCount(), 0);
}

TEST_F(AppException, TheDefaultConstructorTakesTheLastSystemError) {
    plat::SetLastError(plat::kErrAccessDenied);
    CAppException e;
    EXPECT_EQ(e.GetErrorNumber(), plat::kErrAccessDenied);
    std::string system;
    ASSERT_TRUE(plat::SystemErrorText(plat::kErrAccessDenied, system));
    EXPECT_EQ(TextOf(e), system);
}

TEST_F(AppException, TextsComeFromTheTableWithTheirLineEnd) {
    CAppException e(kNoSocket);
    EXPECT_EQ(TextOf(e), Line("Shutdown agent failed to create a socket."));
    // No placeholder: the formatted text is the text.
    EXPECT_EQ(FormattedOf(e), TextOf(e));

    CAppException unknown(kUnknownId);
    EXPECT_EQ(TextOf(unknown), "Unknown Error");
    EXPECT_EQ(FormattedOf(unknown), "Unknown Error");
}

TEST_F(AppException, FormattingReadsOnlyTheInsertsThatExist) {
    CAppException full(kProcessingModule, 1, "Poller");
    EXPECT_EQ(FormattedOf(full), Line("Processing module: Poller"));

    // "%lu" with a text insert and "%s" with none: neither reads anything.
    CAppException none(kEntering);
    EXPECT_EQ(FormattedOf(none), "Entering main loop iteration %lu at ");

    // A long insert is cut to the formatted text's 255 characters.
    std::string longText(400, 'x');
    CAppException big(kProcessingModule, 1, longText.c_str());
    EXPECT_EQ(FormattedOf(big).size(), 255u);
}

TEST_F(AppException, ReportWritesTheTextAsItStands) {
    CAppException::SetLog(false);
    CAppException e(kNoSocket);
    ::testing::internal::CaptureStderr();
    e.IfReportToLog("");
    std::string err = ::testing::internal::GetCapturedStderr();
    // Read back in text mode: a CR LF written as it stands reads as LF, where
    // a text-mode stream's CR CR LF would leave a CR behind.
    EXPECT_EQ(err, "Shutdown agent failed to create a socket.\n");
}

TEST_F(AppException, TheSeverityBitsAloneChooseTheEventType) {
    EXPECT_EQ(EventTypeForMessage(MSG_CHANGES_SAVED), 0);             // success
    EXPECT_EQ(EventTypeForMessage(MSG_SHUTDOWN_AGENT_NO_SOCKET), 4);  // information
    EXPECT_EQ(EventTypeForMessage(MSG_UPS_TIMEOUT), 2);               // warning
    EXPECT_EQ(EventTypeForMessage(MSG_UPS_COMMUNICATIONS_LOST), 1);   // error
    EXPECT_EQ(EventTypeForMessage(0x3FFFFFFF), 0);                    // the other bits do not count
    EXPECT_EQ(EventTypeForMessage(0xFFFFFFFFul), 1);
}

TEST_F(AppException, ThrownAsAPointerAndOwnedByTheCatcher) {
    try {
        throw new CAppException(kNoSocket, 1, "x");
    } catch (CAppException* caught) {
        std::unique_ptr<CAppException> owned(caught);
        EXPECT_EQ(owned->GetErrorNumber(), kNoSocket);
    }
}

TEST_F(TraceEvents, WritesOnlyWhenItsFlagIsOn) {
    CProfile profile("test");
    DebugCapture debug;
    LogTraceEvent(&profile, "DebugMainLoop", "plain %d|", 1);
    LogTraceEvent(&profile, "DebugMainLoop", kProcessingModule, "A");
    LogTraceEvent(nullptr, "DebugMainLoop", "no profile %d|", 1);
    EXPECT_EQ(debug.Text(), "");

    profile.Set("Dynamic", "DebugMainLoop", true);
    LogTraceEvent(&profile, "DebugMainLoop", "plain %d %s|", 7, "seven");
    LogTraceEvent(&profile, "DebugMainLoop", kProcessingModule, "Poller");
    LogTraceEvent(&profile, "DebugMainLoop", kEntering, 12ul, "noon\n");
    LogTraceEvent(&profile, "DebugDatabase", "other category|");
    EXPECT_EQ(debug.Text(),
              "plain 7 seven|Processing module: PollerEntering main loop iteration 12 at noon\n");
}

TEST_F(TraceEvents, JapaneseUserGetsWholeLinesWithoutStrayReads) {
    REQUIRE_USER_LANGUAGE(true);
    // The converted texts are full of percent signs inside their JIS runs
    // ("%b", "%8", "%k", even "%s"): only the real placeholders take the
    // arguments, and the rest stays as the characters it is.
    CProfile profile("test");
    profile.Set("Dynamic", "DebugMainLoop", true);
    DebugCapture debug;
    LogTraceEvent(&profile, "DebugMainLoop", kProcessingModule, "Poller");
    EXPECT_EQ(debug.Text(),
              "\x1b$B%b%8%e!<%k\x1b(B Poller\x1b$B$r=hM}$7$F$%24%24%24$^$9!%23\x1b(B");
    LogTraceEvent(&profile, "DebugMainLoop", kEntering, 12ul, "noon\n");
    std::string text = debug.Text();
    EXPECT_NE(text.find(" 12 / noon\n"), std::string::npos) << text;
}

}  // namespace
