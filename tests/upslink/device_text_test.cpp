// Text from the UPS on its way to a terminal, a log or the status record:
// nothing a terminal acts on survives, and the escaped text reads back exact.
#include "upslink/device_text.h"

#include <gtest/gtest.h>

#include <string>

TEST(DeviceText, EveryByteATerminalActsOnIsEscapedAndTheTextStaysExact) {
    struct Case {
        std::string raw, shown;
    } const cases[] = {
        {"Quillon 1500 RT", "Quillon 1500 RT"},
        {"\x1B[2J\x1B]0;owned\x07", "\\x1B[2J\\x1B]0;owned\\x07"},  // clear screen, retitle
        {"a\tb\x7F", "a\\x09b\\x7F"},
        {"line\r\nforged: entry", "line\\x0D\\x0Aforged: entry"},
        {std::string("nul\0cut", 7), "nul\\x00cut"},
        {"\x9B"
         "31m",
         "\\x9B31m"},                            // an 8-bit control sequence introducer
        {"back\\x41slash", "back\\\\x41slash"},  // a literal "\x41" stays told apart
    };
    for (const Case& c : cases) {
        const std::string shown = PrintableText(c.raw);
        EXPECT_EQ(shown, c.shown);
        for (char ch : shown) {
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << c.shown;
        }
    }
}
