#include "agent/service_control.h"

#include <memory>

#include "agent/agent_service.h"
#include "agent/qln_exception.h"

void HandleServiceControl(uint32_t control) {
    AgentService& service = g_AgentService;
    switch (control) {
        case plat::kControlStop:
        case plat::kControlShutdown:
            SignalStopAndWaitForWorker();
            SetServiceState(plat::kServiceStopped);
            break;
        case plat::kControlPause:
            // A control that arrives before the service main made the events
            // still gets its state, but has nothing to set.
            if (service.m_pPauseEvent) service.m_pPauseEvent->Set();
            SetServiceState(plat::kServicePaused);
            break;
        case plat::kControlContinue:
            if (service.m_pContinueEvent) service.m_pContinueEvent->Set();
            SetServiceState(plat::kServiceRunning);
            break;
        default:
            break;
    }
}

void StopWithError(uint32_t win32Exit, uint32_t specificExit) {
    g_AgentService.m_Status.dwWin32ExitCode = win32Exit;
    g_AgentService.m_Status.dwServiceSpecificExitCode = specificExit;
    SetServiceState(plat::kServiceStopped);
}

void ReportAndDiscard(CQLNException* failure) {
    std::unique_ptr<CQLNException> owned(failure);
    owned->Report();
}
