#include "agent/service_control.h"

#include <memory>

#include "agent/agent_service.h"
#include "agent/named_event_failure.h"
#include "agent/qln_exception.h"
#include "platform/errors.h"
#include "platform/service_front.h"

namespace {

// The agent's side of the shared control handling: its status and events
// live in g_AgentService, the platform pieces in service_main_*.cpp.
class AgentFront final : public plat::ServiceFront {
protected:
    plat::ServiceStatus& Status() override { return g_AgentService.m_Status; }
    void ReportState(uint32_t state) override { SetServiceState(state); }
    plat::Event* PauseEvent() override { return g_AgentService.m_pPauseEvent.get(); }
    plat::Event* ContinueEvent() override { return g_AgentService.m_pContinueEvent.get(); }
    bool HasWorker() const override {
        return g_AgentService.m_pStopEvent && g_AgentService.m_hWorkerThread != nullptr;
    }
    void SignalStopAndWait() override { SignalStopAndWaitForWorker(); }
};

AgentFront g_Front;

}  // namespace

void HandleServiceControl(uint32_t control) { g_Front.HandleControl(control); }

uint32_t CreateControlEvents() {
    AgentService& service = g_AgentService;
    std::unique_ptr<plat::Event>* events[] = {&service.m_pPauseEvent, &service.m_pContinueEvent,
                                              &service.m_pStopEvent};
    for (auto* event : events) {
        event->reset(new plat::Event());
        if (!(*event)->IsValid()) return plat::LastError();
    }
    return 0;
}

void StopWithError(uint32_t win32Exit, uint32_t specificExit) {
    g_Front.StopWithError(win32Exit, specificExit);
}

void ReportAndDiscard(CQLNException* failure) {
    std::unique_ptr<CQLNException> owned(failure);
    owned->Report();
}

void FailStart(uint32_t error) {
    StopWithError(error, 0xFFFFFFFFu);
    ReportAndDiscard(new CQLNException(error));
}

bool FailStartWithoutNamedEvents(const plat::Event& found, const plat::Event& findFailed) {
    for (const plat::Event* named : {&found, &findFailed}) {
        if (named->IsValid()) continue;
        StopWithError(NamedEventExitCode(*named), 0xFFFFFFFFu);
        ReportAndDiscard(NamedEventFailure(*named));
        return true;
    }
    return false;
}
