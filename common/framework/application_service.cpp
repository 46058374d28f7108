// The service main and the control handler of CApplication, the same on
// every platform; application_service_<platform>.cpp connects them to the
// service manager, starts the worker and stops it.
#include <memory>
#include <string>

#include "common/config/profile.h"
#include "common/framework/application.h"
#include "platform/errors.h"
#include "platform/event.h"
#include "platform/service_front.h"

// The framework's side of the shared control handling. Unlike the agent's,
// its stop is announced (stop pending) and lets the application clean up
// before the worker is told to stop.
class CApplication::Front final : public plat::ServiceFront {
public:
    explicit Front(CApplication& app) : m_App(app) {}

protected:
    plat::ServiceStatus& Status() override { return m_App.m_ServiceStatus; }
    void ReportState(uint32_t state) override { m_App.SetServiceStatus(state); }
    plat::Event* PauseEvent() override { return m_App.m_PauseEvent; }
    plat::Event* ContinueEvent() override { return m_App.m_ContinueEvent; }
    bool HasWorker() const override { return m_App.m_StopEvent && m_App.m_WorkerThread; }
    void BeforeStop() override {
        m_App.SetServiceStatus(plat::kServiceStopPending);
        m_App.CleanupSystem();
    }
    void SignalStopAndWait() override { m_App.SignalStopAndWaitForWorker(); }

private:
    CApplication& m_App;
};

void PELLUX_SYSTEM_CALL CApplication::ServiceMain(unsigned long /*argc*/, char** /*argv*/) {
    CAppException::SetLog(true);
    CApplication* app = m_pApp;
    if (!app) return;
    try {
        if (!app->ConnectControlHandler()) throw new CAppException();
        app->SetServiceStatus(plat::kServiceStartPending);
        uint32_t error = 0;
        plat::Event** events[] = {&app->m_PauseEvent, &app->m_ContinueEvent, &app->m_StopEvent};
        for (plat::Event** event : events) {
            std::unique_ptr<plat::Event> made(new plat::Event());
            if (!made->IsValid()) {
                error = plat::LastError();
                break;
            }
            *event = made.release();
        }
        if (error == 0) error = app->StartWorkerThread();
        if (error == 0) {
            AddEventSource();
            app->SetServiceStatus(plat::kServiceRunning);
            return;
        }
        Front(*app).StopWithError(error, 0xFFFFFFFFu);
        throw new CAppException(static_cast<unsigned long>(error));
    } catch (CAppException* e) {
        std::unique_ptr<CAppException> owned(e);
        std::string baseDir = app->m_pAppProfile
                                  ? app->m_pAppProfile->GetString("Dynamic", "BaseDir", "", false)
                                  : std::string();
        owned->ReportToLog(baseDir.c_str());
    }
}

void PELLUX_SYSTEM_CALL CApplication::ExternalServiceControl(unsigned long code) {
    CApplication* app = m_pApp;
    if (!app) return;
    Front(*app).HandleControl(static_cast<uint32_t>(code));
}
