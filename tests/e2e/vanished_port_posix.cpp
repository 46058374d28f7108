#include "vanished_port_posix.h"

#include <gtest/gtest.h>

void ReplugAndExpectOneLossAndRecovery(LinkedUps& ups, RelayAgent& agent, const std::string& lost,
                                       int lostBefore, uint32_t recoverMs, uint32_t answerMs) {
    ChildProcess& qln = agent.Process();
    ASSERT_TRUE(ups.Control("unplug"));
    ASSERT_TRUE(ups.Control("plug"));
    ASSERT_TRUE(qln.WaitForText(true, lost, lostBefore + 1, recoverMs)) << qln.Err();
    ASSERT_TRUE(agent.WaitUntilRelaying(recoverMs)) << qln.Err();
    EXPECT_TRUE(IsIdentification(agent.Exchange(XcpFrame(0x31), answerMs)));
    EXPECT_EQ(CountOf(qln.Err(), lost), lostBefore + 1) << qln.Err();
    EXPECT_TRUE(qln.Running());
}
