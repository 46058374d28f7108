// Date and time values in a zone with daylight saving (US Eastern).
#include "common/config/date_time.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <string>

#include "time_zone.h"

namespace {

// Seconds of some local moments in US Eastern time.
const long kJune22At1405 = 1782151500;  // daylight saving
const long kDec25At0800 = 1798203600;   // standard
const long kMar07Noon = 1772902800;     // the day before the spring change
const long kMar08Noon = 1772985600;     // the day of the spring change (EDT)
const long kOct31Noon = 1793462400;     // the day before the autumn change
const long kNov01Noon = 1793552400;     // the day of the autumn change (EST)

class DateTime : public ::testing::Test {
protected:
    void SetUp() override { testtz::UseEasternTime(); }
    void TearDown() override { testtz::RestoreTimeZone(); }

    static bool NowInDaylightSaving() {
        time_t now = time(nullptr);
        struct tm* t = localtime(&now);
        return t != nullptr && t->tm_isdst > 0;
    }
};

TEST_F(DateTime, TheTestZoneHasDaylightSaving) {
    // Everything below relies on it: without it the steps would prove nothing.
    EXPECT_EQ(CDateTime(kJune22At1405).InternatFormat(), "2026/06/22 14:05");
    EXPECT_EQ(CDateTime(kDec25At0800).InternatFormat(), "2026/12/25 08:00");
    EXPECT_EQ(kMar08Noon - kMar07Noon, 23 * 3600);
}

TEST_F(DateTime, TextInTheDbLayoutIsLocalTimeAndReadsBack) {
    CDateTime summer("06/22/2026 14:05:00");
    EXPECT_EQ(summer.GetULONG(), kJune22At1405);
    // A value in daylight-saving time is never shifted, whatever the season now.
    EXPECT_EQ(summer.DbFormat(), "06/22/2026 14:05:00");
    EXPECT_EQ(summer.DateFormat(), "2026-06-22");
    EXPECT_EQ(summer.TimeFormat(), "14:05:00");

    CDateTime winter("12/25/2026 08:00:00");
    EXPECT_EQ(winter.GetULONG(), kDec25At0800);
    // A value from text in standard time shows an hour earlier while the
    // clock is in daylight-saving time; in the same season it reads back.
    if (NowInDaylightSaving()) {
        EXPECT_EQ(winter.DbFormat(), "12/25/2026 07:00:00");
    } else {
        EXPECT_EQ(winter.DbFormat(), "12/25/2026 08:00:00");
        EXPECT_EQ(winter.TimeFormat(), "08:00:00");
    }
    // Only values from text are adjusted.
    EXPECT_EQ(CDateTime(kDec25At0800).DbFormat(), "12/25/2026 08:00:00");
    // The fields are plain numbers: no leading zeros needed, extra blanks skipped.
    EXPECT_EQ(CDateTime("6/22/2026  14:5:0").GetULONG(), kJune22At1405);
}

TEST_F(DateTime, TextThatIsShortOrTooLongGivesTheErrorValue) {
    EXPECT_EQ(CDateTime("06/22/2026 14:05").GetULONG(), -1);
    EXPECT_EQ(CDateTime("06/22/2026").GetULONG(), -1);
    EXPECT_EQ(CDateTime("").GetULONG(), -1);
    EXPECT_EQ(CDateTime(static_cast<const char*>(nullptr)).GetULONG(), -1);
    // 27 characters are accepted, 28 are not.
    std::string padded = "06/22/2026 14:05:00";
    padded.append(27 - padded.size(), ' ');
    EXPECT_EQ(CDateTime(padded.c_str()).GetULONG(), kJune22At1405);
    padded += ' ';
    EXPECT_EQ(CDateTime(padded.c_str()).GetULONG(), -1);
    // Fields that are no numbers count as 0, as atoi reads them; the month
    // then lies before January and mktime normalises it.
    EXPECT_EQ(CDateTime("x/22/2026 14:05:00"), CDateTime("12/22/2025 14:05:00"));
}

TEST_F(DateTime, ConstructorsFromSecondsAndBrokenDownTime) {
    EXPECT_EQ(CDateTime(static_cast<unsigned long>(kJune22At1405)), CDateTime(kJune22At1405));
    EXPECT_EQ(CDateTime(ULONG_MAX).GetULONG(), -1);

    struct tm when {};
    when.tm_year = 126;
    when.tm_mon = 5;
    when.tm_mday = 21;
    when.tm_hour = 38;  // normalised in place to the 22nd, 14:05
    when.tm_min = 5;
    when.tm_isdst = -1;
    CDateTime fromTm(&when);
    EXPECT_EQ(fromTm.GetULONG(), kJune22At1405);
    EXPECT_EQ(when.tm_mday, 22);
    EXPECT_EQ(when.tm_hour, 14);
    EXPECT_EQ(CDateTime(static_cast<struct tm*>(nullptr)).GetULONG(), -1);

    long before = static_cast<long>(time(nullptr));
    CDateTime now;
    long after = static_cast<long>(time(nullptr));
    EXPECT_GE(now.GetULONG(), before);
    EXPECT_LE(now.GetULONG(), after);
}

TEST_F(DateTime, ValuesCompareByTheirSecondsOnly) {
    CDateTime fromText("06/22/2026 14:05:00");
    CDateTime fromSeconds(kJune22At1405);
    EXPECT_TRUE(fromText == fromSeconds);
    EXPECT_FALSE(fromText != fromSeconds);
    EXPECT_TRUE(fromText >= fromSeconds);
    EXPECT_TRUE(fromText <= fromSeconds);

    CDateTime later(kJune22At1405 + 1);
    EXPECT_TRUE(later > fromSeconds);
    EXPECT_TRUE(fromSeconds < later);
    EXPECT_FALSE(later < fromSeconds);
    // Signed: the error value lies before 1970.
    EXPECT_TRUE(CDateTime(-1L) < CDateTime(0L));

    CDateTime copy(fromText);
    EXPECT_EQ(copy, fromText);
    CDateTime assigned(0L);
    assigned = later;
    EXPECT_EQ(assigned.GetULONG(), kJune22At1405 + 1);
}

TEST_F(DateTime, UiFormatHasTheOrdinalSuffixOfTheDay) {
    EXPECT_EQ(CDateTime(kJune22At1405).UiFormat(), "Monday June 22nd 2026 at 14:05");
    struct Case {
        int day;
        const char* text;
    };
    const Case cases[] = {{1, "01st"},  {2, "02nd"},  {3, "03rd"},  {4, "04th"},
                          {11, "11th"}, {12, "12th"}, {13, "13th"}, {21, "21st"},
                          {22, "22nd"}, {23, "23rd"}, {30, "30th"}, {31, "31st"}};
    for (const Case& c : cases) {
        struct tm when {};
        when.tm_year = 126;
        when.tm_mon = 0;
        when.tm_mday = c.day;
        when.tm_hour = 9;
        when.tm_isdst = -1;
        std::string text = CDateTime(&when).UiFormat();
        EXPECT_NE(text.find(std::string(" ") + c.text + " 2026 at 09:00"), std::string::npos)
            << text;
    }
}

TEST_F(DateTime, FormatRunsTheTimeLayoutThenTheArguments) {
    CDateTime value(kJune22At1405);
    EXPECT_EQ(value.Format("%Y-%m-%d [%%s|%%d]", "ok", 42), "2026-06-22 [ok|42]");
    struct tm when {};
    when.tm_year = 100;
    when.tm_mon = 1;
    when.tm_mday = 29;
    EXPECT_EQ(value.Format(&when, "%d.%m.%Y %%s", "leap"), "29.02.2000 leap");
    EXPECT_EQ(value.Format(""), "");
    EXPECT_EQ(value.Format(static_cast<const struct tm*>(nullptr), "%Y"), "");
}

TEST_F(DateTime, FormattingIsCutAtTheBufferAndNeverBeyond) {
    CDateTime value(kJune22At1405);
    std::string longLayout(400, 'x');
    longLayout += "%Y";
    std::string text = value.Format(longLayout.c_str());
    EXPECT_EQ(text, std::string(CDateTime::kTextSize - 1, 'x'));

    std::string longArgument(1000, 'y');
    text = value.Format("%Y %%s", longArgument.c_str());
    ASSERT_EQ(text.size(), static_cast<size_t>(CDateTime::kTextSize - 1));
    EXPECT_EQ(text.substr(0, 6), "2026 y");

    // The object stays usable after a cut.
    EXPECT_EQ(value.InternatFormat(), "2026/06/22 14:05");
}

TEST_F(DateTime, DayStepsKeepTheClockTimeAcrossTheSpringChange) {
    CDateTime value(kMar07Noon);
    value.AddOneDay();
    EXPECT_EQ(value.GetULONG(), kMar08Noon);  // 23 hours of real time
    EXPECT_EQ(value.InternatFormat(), "2026/03/08 12:00");

    value.AddMinutes(-24 * 60);  // back over the change: 25 hours... of 23
    EXPECT_EQ(value.GetULONG(), kMar07Noon);

    CDateTime week(kMar07Noon - 6 * 86400);  // Sunday 1 March, standard time
    week.AddOneWeek();
    EXPECT_EQ(week.InternatFormat(), "2026/03/08 12:00");
}

TEST_F(DateTime, DayStepsKeepTheClockTimeAcrossTheAutumnChange) {
    CDateTime value(kOct31Noon);
    value.AddOneDay();
    EXPECT_EQ(value.GetULONG(), kNov01Noon);
    EXPECT_EQ(kNov01Noon - kOct31Noon, 25 * 3600);
    EXPECT_EQ(value.InternatFormat(), "2026/11/01 12:00");

    value.AddSeconds(-86400);
    EXPECT_EQ(value.GetULONG(), kOct31Noon);
}

TEST_F(DateTime, StepsWithinOneSeasonAreExact) {
    CDateTime value(kJune22At1405);
    value.AddSeconds(59);
    EXPECT_EQ(value.GetULONG(), kJune22At1405 + 59);
    value.AddMinutes(-1);
    EXPECT_EQ(value.GetULONG(), kJune22At1405 - 1);
    value.AddOneWeek();
    EXPECT_EQ(value.GetULONG(), kJune22At1405 - 1 + 604800);
    // A large minute count is computed without int overflow.
    CDateTime far(0L);
    far.AddMinutes(30000000);
    EXPECT_GT(far.GetULONG(), 0);
}

}  // namespace
