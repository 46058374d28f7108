// The relay's request queue from end to end on Linux, in the default timing
// (the checks are in queue_checks_posix.cpp; the Wine tests run them too).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "queue_checks_posix.h"
#include "relay_agent.h"
#include "ups_line_posix.h"

namespace {

constexpr uint32_t kStartMs = 60000;   // start-up: enumeration, identification
constexpr uint32_t kAnswerMs = 20000;  // one forwarded request, generously

// qln relaying for upssim with the given [NetXCP] settings.
class QueuedRelay : public ::testing::Test {
protected:
    void Start(const std::map<std::string, std::string>& netXcp) {
        ASSERT_TRUE(m_Ups.Start()) << "upssim did not start";
        m_pAgent = std::make_unique<RelayAgent>(m_Ups.SlavePath(), IniSections{{"NetXCP", netXcp}});
        ASSERT_TRUE(m_pAgent->WaitUntilRelaying(kStartMs)) << m_pAgent->Process().Err();
    }

    SimulatedUps m_Ups;
    std::unique_ptr<RelayAgent> m_pAgent;
};

TEST_F(QueuedRelay, ASecondSenderIsAnsweredWhileTheFirstOneFloods) {
    Start({{"RequestMaxAge", "0"}});
    CheckASecondSenderIsAnsweredWhileTheFirstFloods(*m_pAgent, kAnswerMs);
}

TEST_F(QueuedRelay, StaleRequestsAreDroppedUnansweredAndTheNextOneIsServed) {
    Start({{"RequestMaxAge", "1"}});
    CheckStaleRequestsAreDroppedUnanswered(*m_pAgent, m_Ups, kAnswerMs);
}

TEST_F(QueuedRelay, AnOverLongDatagramCostsOnlyItself) {
    Start({});
    CheckAnOverLongDatagramCostsOnlyItself(*m_pAgent, kAnswerMs);
}

}  // namespace
