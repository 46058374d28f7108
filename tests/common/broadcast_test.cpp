// Broadcast: the recipients in order, and the command for each.
#include "common/framework/broadcast.h"

#include <gtest/gtest.h>

#include <list>
#include <string>

#include "common/framework/broadcast_command.h"

namespace {

TEST(Broadcast, NoRecipientsRunNoCommand) {
    EXPECT_TRUE(Broadcast("hello", {}));
    EXPECT_TRUE(Broadcast("hello", {"", ""}));
    EXPECT_TRUE(Broadcast(nullptr, {}));
}

TEST(Broadcast, DoubleQuotesAreEscapedAndNothingElse) {
    EXPECT_EQ(EscapeBroadcastQuotes("say \"hi\" & 'bye' \\ %s"), "say \\\"hi\\\" & 'bye' \\ %s");
    EXPECT_EQ(EscapeBroadcastQuotes(""), "");
}

}  // namespace
