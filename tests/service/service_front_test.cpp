// The control handling every service host shares: the order of a stop, and
// controls that arrive before the service main made the events or the worker.
#include "platform/service_front.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/event.h"

namespace {

// Writes down what the handling asks of its host, in order.
class RecordingFront final : public plat::ServiceFront {
public:
    std::string m_Calls;
    plat::ServiceStatus m_Status{};
    std::unique_ptr<plat::Event> m_pPause, m_pContinue;
    bool m_bWorker = false;

protected:
    plat::ServiceStatus& Status() override { return m_Status; }
    void ReportState(uint32_t state) override {
        m_Status.dwCurrentState = state;
        m_Calls += "report" + std::to_string(state) + " ";
    }
    plat::Event* PauseEvent() override { return m_pPause.get(); }
    plat::Event* ContinueEvent() override { return m_pContinue.get(); }
    bool HasWorker() const override { return m_bWorker; }
    void BeforeStop() override { m_Calls += "before "; }
    void SignalStopAndWait() override { m_Calls += "wait "; }
};

TEST(ServiceFront, AStopCleansUpBeforeItWaitsAndReportsStoppedOnlyAfterTheWorkerEnded) {
    RecordingFront front;
    front.m_bWorker = true;
    front.HandleControl(plat::kControlShutdown);
    EXPECT_EQ(front.m_Calls, "before wait report1 ");

    // Before the service main made anything: no clean-up, no wait, and the
    // state still reaches the service manager.
    RecordingFront early;
    for (uint32_t control : {plat::kControlPause, plat::kControlContinue, plat::kControlStop}) {
        early.HandleControl(control);
    }
    EXPECT_EQ(early.m_Calls, "report7 report4 report1 ");

    RecordingFront failed;
    failed.StopWithError(5, 0xFFFFFFFFu);
    EXPECT_EQ(failed.m_Status.dwWin32ExitCode, 5u);
    EXPECT_EQ(failed.m_Status.dwServiceSpecificExitCode, 0xFFFFFFFFu);
    EXPECT_EQ(failed.m_Status.dwCurrentState, plat::kServiceStopped);
}

TEST(ServiceFront, PauseAndContinueSetTheirEventsAndInterrogateChangesNothing) {
    RecordingFront front;
    front.m_pPause.reset(new plat::Event());
    front.m_pContinue.reset(new plat::Event());
    front.HandleControl(plat::kControlPause);
    EXPECT_TRUE(front.m_pPause->TryConsume());
    EXPECT_FALSE(front.m_pContinue->TryConsume());
    front.HandleControl(plat::kControlInterrogate);
    EXPECT_EQ(front.m_Status.dwCurrentState, plat::kServicePaused);
    front.HandleControl(plat::kControlContinue);
    EXPECT_TRUE(front.m_pContinue->TryConsume());
    EXPECT_EQ(front.m_Status.dwCurrentState, plat::kServiceRunning);
}

}  // namespace
