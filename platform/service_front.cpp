#include "platform/service_front.h"

namespace plat {

void ServiceFront::HandleControl(uint32_t control) {
    switch (control) {
        case kControlStop:
        case kControlShutdown:
            if (HasWorker()) {
                BeforeStop();
                SignalStopAndWait();
            }
            ReportState(kServiceStopped);
            break;
        case kControlPause:
            if (Event* pause = PauseEvent()) pause->Set();
            ReportState(kServicePaused);
            break;
        case kControlContinue:
            if (Event* resume = ContinueEvent()) resume->Set();
            ReportState(kServiceRunning);
            break;
        default:
            break;
    }
}

void ServiceFront::StopWithError(uint32_t win32Exit, uint32_t specificExit) {
    Status().dwWin32ExitCode = win32Exit;
    Status().dwServiceSpecificExitCode = specificExit;
    ReportState(kServiceStopped);
}

}  // namespace plat
