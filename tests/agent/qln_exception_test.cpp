// The agent's error object: what it carries, the text it finds for itself,
// and where its report goes.
#include "agent/qln_exception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/resources/message_ids.h"
#include "platform/errors.h"
#include "platform/event_log.h"

namespace {

// An id of the library's facility that no message table defines and that is
// no system code either.
constexpr uint32_t kUnknownId = 0xC0027FF1u;

// Sets the process-wide reporting flag for one test and puts it back.
class EventLogFlag {
public:
    explicit EventLogFlag(bool on) : m_bSaved(g_bEventLogReporting) { g_bEventLogReporting = on; }
    ~EventLogFlag() { g_bEventLogReporting = m_bSaved; }

private:
    bool m_bSaved;
};

TEST(QlnException, InsertionStringsAreOwnCopiesKeptInOrder) {
    char first[] = "COM1";
    std::string second = "9600";
    const char* strings[] = {first, second.c_str(), nullptr};
    auto e = std::make_unique<CQLNException>(MSG_UPS_INVALID_RESPONSE, 3, strings);
    std::strcpy(first, "XXXX");  // the caller's buffers may change or go
    second = "gone";
    ASSERT_EQ(e->GetStringCount(), 3);
    EXPECT_STREQ(e->GetString(0), "COM1");
    EXPECT_STREQ(e->GetString(1), "9600");
    EXPECT_STREQ(e->GetString(2), "");  // a missing string counts as empty
    EXPECT_EQ(e->GetString(3), nullptr);
    EXPECT_EQ(e->GetMessageId(), MSG_UPS_INVALID_RESPONSE);

    CQLNException copy(*e);
    e.reset();
    ASSERT_EQ(copy.GetStringCount(), 3);
    EXPECT_STREQ(copy.GetString(0), "COM1");
    EXPECT_STREQ(copy.GetString(1), "9600");

    CQLNException none(MSG_UPS_TIMEOUT);
    EXPECT_EQ(none.GetStringCount(), 0);
    EXPECT_EQ(none.GetString(0), nullptr);
}

TEST(QlnException, TheDefaultConstructionTakesTheLastPlatformError) {
    plat::SetLastError(plat::kErrAccessDenied);
    CQLNException e;
    EXPECT_EQ(e.GetMessageId(), plat::kErrAccessDenied);
    EXPECT_EQ(e.GetStringCount(), 0);
}

TEST(QlnException, AnIdNobodyKnowsReadsUnknownError) {
    CQLNException e(kUnknownId);
    std::string text = "stale";
    e.GetText(text);
    EXPECT_EQ(text, "Unknown Error");
}

TEST(QlnException, APlatformErrorCodeReadsAsTheSystemsOwnText) {
    std::string system;
    ASSERT_TRUE(plat::SystemErrorText(plat::kErrAccessDenied, system));
    ASSERT_FALSE(system.empty());
    CQLNException e(plat::kErrAccessDenied);
    std::string text;
    e.GetText(text);
    EXPECT_EQ(text, system);
}

TEST(QlnException, PrintWritesTheTextUnchangedToStandardError) {
    EventLogFlag flag(false);
    CQLNException e(kUnknownId);
    ::testing::internal::CaptureStderr();
    e.Report();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Unknown Error");
}

TEST(QlnException, WithEventLogReportingOnReportWritesNothingToStandardError) {
    EventLogFlag flag(true);
    CQLNException e(kUnknownId, {"one", "two"});
    ::testing::internal::CaptureStderr();
    e.Report();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(QlnException, TheEventTypeFollowsTheSeverityBitsAlone) {
    EXPECT_EQ(EventTypeForMessageId(0x00020001u), plat::kEventSuccess);
    EXPECT_EQ(EventTypeForMessageId(0x40020001u), plat::kEventInformation);
    EXPECT_EQ(EventTypeForMessageId(MSG_UPS_TIMEOUT), plat::kEventWarning);
    EXPECT_EQ(EventTypeForMessageId(MSG_UPS_COMMUNICATIONS_LOST), plat::kEventError);
    EXPECT_EQ(EventTypeForMessageId(MSG_UPS_INVALID_RESPONSE), plat::kEventError);
    // Platform codes have no severity bits set: success, as the log records them.
    EXPECT_EQ(EventTypeForMessageId(5u), plat::kEventSuccess);
    EXPECT_EQ(EventTypeForMessageId(0x7FFFFFFFu), plat::kEventInformation);
    EXPECT_EQ(EventTypeForMessageId(0xBFFFFFFFu), plat::kEventWarning);
}

}  // namespace
