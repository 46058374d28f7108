#include "common/framework/jis_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ShiftJisToJis, ConvertsTheProcessingModuleText) {
    // Japanese text of MSG_PROCESSING_MODULE as the lookup returns it.
    EXPECT_EQ(ShiftJisToJis("\203\202\203W\203\205\201[\203\213 %s\202\360\217\210\227\235\202\265"
                            "\202\304\202\242\202\334\202\267\201B"),
              "\x1b$B%b%8%e!<%k\x1b(B %s\x1b$B$r=hM}$7$F$%24%24%24$^$9!%23\x1b(B");
}

TEST(ShiftJisToJis, EscapesPairsThatHoldFormCharacters) {
    // Full-width "A" is JIS "#A": "#" and "%23"; the second byte is not written.
    EXPECT_EQ(ShiftJisToJis("\x82\x60"), "\x1b$B#%23\x1b(B");
    EXPECT_EQ(ShiftJisToJis("\x81\x42"), "\x1b$B!%23\x1b(B");        // ideographic full stop, "!#"
    EXPECT_EQ(ShiftJisToJis("\x81\x41"), "\x1b$B!%22\x1b(B");        // ideographic comma, "!\""
    EXPECT_EQ(ShiftJisToJis("\x82\xa4"), "\x1b$B$%26\x1b(B");        // hiragana "u", "$&"
    EXPECT_EQ(ShiftJisToJis("\x82\xa5"), "\x1b$B$%27\x1b(B");        // small "e", "$'"
    EXPECT_EQ(ShiftJisToJis("\x82\xa2"), "\x1b$B$%24%24%24\x1b(B");  // hiragana "i", "$$"
    EXPECT_EQ(ShiftJisToJis("\x82\xaa"), "\x1b$B$,\x1b(B");          // an ordinary pair
    EXPECT_EQ(ShiftJisToJis("\xe0\x40\x88\x9f"), "\x1b$B_!0!\x1b(B");  // lead bytes of both ranges
}

TEST(ShiftJisToJis, LeavesSingleBytesAndClosesRuns) {
    EXPECT_EQ(ShiftJisToJis("plain ASCII %s 100%"), "plain ASCII %s 100%");
    EXPECT_EQ(ShiftJisToJis(""), "");
    // Half-width katakana are single bytes: they end a run and stay as they are.
    EXPECT_EQ(ShiftJisToJis("\x82\xa0\xb1x"), "\x1b$B$%22\x1b(B\xb1x");
    // A text that ends inside a run gets its closing escape.
    EXPECT_EQ(ShiftJisToJis("a\x82\xa0\x82\xaa"), "a\x1b$B$%22$,\x1b(B");
    // A lead byte with nothing after it is copied, not read past.
    EXPECT_EQ(ShiftJisToJis(std::string("ab\x82", 3)), std::string("ab\x82", 3));
    EXPECT_EQ(ShiftJisToJis(std::string("\x82\xaa\x82", 3)), std::string("\x1b$B$,\x1b(B\x82", 9));
}

}  // namespace
