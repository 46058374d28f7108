// The formatter rules, held to the Win32 formatter: the same cases run through
// FormatMessageA under Wine and through the library's formatter on Linux.
#include <gtest/gtest.h>

#include "line_end.h"
#include "platform_format.h"

namespace {

const char* const kInserts[] = {"one", "two", "three", "4",      "5",      "6",   "7",
                                "8",   "9",   "ten",   "eleven", "twelve", "t%1o"};
const size_t kInsertCount = sizeof kInserts / sizeof kInserts[0];

struct Case {
    const char* text;
    const char* ignored;  // with inserts ignored; null: the formatter fails
    const char* array;    // with the inserts above; null: the formatter fails
};

// Expected texts write "\n" for the platform's line end.
const Case kCases[] = {
    {"a%%b", "a%%b", "a%b"},
    {"a%0b", "a", "a"},
    {"end%0", "end", "end"},
    {"x%01y", "x", "x"},
    {"%%s %%lu%0.", "%%s %%lu", "%s %lu"},
    {"x%nq", "x\nq", "x\nq"},
    {"x%rq", "x\rq", "x\rq"},
    {"x%tq", "x\tq", "x\tq"},
    {"x% q", "x% q", "x q"},
    {"%!%.% ", "%!%.% ", "!. "},
    {"x%zq", "x%zq", "xzq"},
    {"x%1y", "x%1y", "xoney"},
    {"x%1%2", "x%1%2", "xonetwo"},
    {"x%%%1", "x%%%1", "x%one"},
    {"x%9y", "x%9y", "x9y"},
    {"x%10y", "x%10y", "xteny"},
    {"x%12y", "x%12y", "xtwelvey"},
    {"x%100y", "x%100y", "xten0y"},
    {"x%13y", "x%13y", "xt%1oy"},  // an insert goes in as it stands
    {"x%14y", "x%14y", "xy"},      // inserts not passed are empty
    {"x%1!s!y", "x%1!s!y", "xoney"},
    {"x%1!5s!y", "x%1!5s!y", "x  oney"},
    {"x%1!-5s!y", "x%1!-5s!y", "xone  y"},
    {"x%2!.2s!y", "x%2!.2s!y", "xtwy"},
    {"x%1!s", "x%1!s", nullptr},
    {"x%1!", "x%1!", nullptr},
    {"trail%", nullptr, nullptr},
    {"line\r\nnext\r\n", "line\nnext\n", "line\nnext\n"},
    {"line\nnext\n", "line\nnext\n", "line\nnext\n"},
    {"a\rb", "a\nb", "a\nb"},
    {"a\n\rb", "a\n\nb", "a\n\nb"},
    {"a\r\r\nb", "a\n\nb", "a\n\nb"},
    {"a%\r\nb", "a%\r\nb", "a\r\nb"},           // "%" takes the CR itself; the LF is a line end
    {"\x83\x5c%%", "\x83\x5c%%", "\x83\x5c%"},  // byte by byte: a trail byte is no escape
    {"%\x83\x5c", "%\x83\x5c", "\x83\x5c"},
};

std::string Platform(const char* expected) {
    std::string s;
    for (const char* p = expected; *p; ++p) {
        if (*p == '\n') {
            s += kPlatformLineEnd;
        } else {
            s += *p;
        }
    }
    return s;
}

TEST(MessageFormatter, FollowsThePlatformFormatterRules) {
    for (const Case& c : kCases) {
        std::string out;
        bool ok = PlatformFormat(c.text, nullptr, 0, true, out);
        EXPECT_EQ(ok, c.ignored != nullptr) << "ignored: " << c.text;
        if (ok && c.ignored) {
            EXPECT_EQ(out, Platform(c.ignored)) << "ignored: " << c.text;
        }
        ok = PlatformFormat(c.text, kInserts, kInsertCount, false, out);
        EXPECT_EQ(ok, c.array != nullptr) << "array: " << c.text;
        if (ok && c.array) {
            EXPECT_EQ(out, Platform(c.array)) << "array: " << c.text;
        }
    }
}

TEST(MessageFormatter, ArgumentArrayModeWithoutArrayFailsOnInsertsOnly) {
    // The text lookups format this way: "%%" and "%0" work, an insert cannot.
    std::string out;
    ASSERT_TRUE(PlatformFormat("a%%b%0c", nullptr, 0, false, out));
    EXPECT_EQ(out, "a%b");
    EXPECT_FALSE(PlatformFormat("a%1b", nullptr, 0, false, out));
}

}  // namespace
