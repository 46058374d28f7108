#include <gtest/gtest.h>

#include <string>

#include "common/framework/broadcast_command.h"

namespace {

TEST(BroadcastCommand, IsNetSendCutToTheBuffer) {
    std::string command;
    ASSERT_TRUE(BroadcastCommand("OPS1", "Power \\\"low\\\"", 260, command));
    EXPECT_EQ(command, "net send OPS1 Power \\\"low\\\"");
    ASSERT_TRUE(BroadcastCommand("OPS1", std::string(400, 'm'), 260, command));
    EXPECT_EQ(command.size(), 259u);
}

}  // namespace
