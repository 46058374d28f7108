// The application and service framework of the family's agent programs.
//
// A program derives its application from CApplication, constructs it with the
// command line (which may run a service verb and end the process there), sets
// the loop interval and sleep, constructs its processing modules, calls
// SetApp and then Run or RunApp. CleanupVars releases the handles when the
// program is done; neither RunApp nor the destructor calls it.
#pragma once
#include <cstdint>
#include <string>

#include "common/framework/app_exception.h"
#include "common/framework/unwind_join.h"
#include "common/pellux_api.h"
#include "platform/service_status.h"

#if defined(_WIN32)
#define PELLUX_SYSTEM_CALL __stdcall
#else
#define PELLUX_SYSTEM_CALL
#endif

class CProfile;
namespace plat {
class Event;
}

// The platform's service status record, under the name the library has
// always given it.
using CServiceStatus = plat::ServiceStatus;

class PELLUX_API CApplication {
public:
    // Parses the command line (a service verb ends the process here), creates
    // the profile of type `profileType` named `exeName`, and stores the
    // executable and base directories and the profile path under "Dynamic".
    CApplication(int argc, char** argv, const char* appName, const char* exeName,
                 const char* profileType, const char* profileName, bool bUseSockets,
                 bool bAutoStart);
    CApplication();
    virtual ~CApplication();

    // Runs under the service manager, or in the foreground when the process
    // was not started by it (or "daemon" was given); returns when done.
    void Run();
    // Run on the singleton, then deletes it. Returns 0.
    static int RunApp();

    // Writes the printf text when `level` reaches "WebServer"/"Log Level"
    // and the "Dynamic" flag `category` is on.
    void Trace(const char* category, unsigned int level, const char* format, ...);
    // The loop ends at its next check.
    void Shutdown();
    // Closes the handles and ends the use of sockets.
    void CleanupVars();

    const char* GetAppName() const { return m_AppName.c_str(); }
    const char* GetExeName() const { return m_ExeName.c_str(); }
    const char* GetProductName() const { return m_ProductName.c_str(); }
    CProfile& GetProfile();
    const CProfile& GetProfile() const;
    unsigned long GetAppId() const { return 5; }

    static CApplication* GetApp();
    static void SetApp(CApplication* pApp);

    // Called by the stop control before the worker is told to stop.
    virtual void CleanupSystem() {}

protected:
    void InternalConstructor(int argc, char** argv, const char* appName, const char* exeName,
                             const char* profileType, const char* profileName);
    virtual void ParseArguments(const char* exeName, int argc, char** argv);
    bool ProcessPlatformArg(const char* word);

    // Argument and result types are the platform's 32-bit DWORD.
    static void PELLUX_SYSTEM_CALL ServiceMain(unsigned long argc, char** argv);
    static unsigned long PELLUX_SYSTEM_CALL ThreadMain(void* pParam);
    static void PELLUX_SYSTEM_CALL ExternalServiceControl(unsigned long code);
    static void AddEventSource();
    void MainLoop();
    bool CheckContinue();
    void SetServiceStatus(uint32_t state);
    [[noreturn]] void ServiceInstall(bool bInstall);
    [[noreturn]] void ServiceControl(int code);

public:
    // Members the derived application reads and writes directly.
    uint32_t m_nReserved = 0;
    bool m_bShutdown = false;
    uint32_t m_nIteration = 0;
    CProfile* m_pAppProfile = nullptr;
    std::string m_AppName;
    std::string m_ExeName;
    std::string m_ProductName;
    uint32_t m_nLoopInterval = 0;
    uint32_t m_nLoopSleep = 0;
    bool m_bUseSockets = false;
    bool m_bRunAsService = false;
    bool m_bAutoStart = false;
    plat::Event* m_PauseEvent = nullptr;
    plat::Event* m_ContinueEvent = nullptr;
    plat::Event* m_StopEvent = nullptr;
    plat::Event* m_NamedStopEvent = nullptr;
    void* m_WorkerThread = nullptr;
    void* m_SpareHandle = nullptr;
    CServiceStatus m_ServiceStatus = {};
    void* m_ServiceStatusHandle = nullptr;

private:
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;
    // Hands the process to the service manager; false when the process was
    // not started by it (the loop then runs in the foreground).
    bool RunUnderServiceManager();
    // Close the worker thread's handle and the spare handle of service mode.
    void CloseWorkerThread();
    void CloseSpareHandle();
    static bool StartSockets();
    static void EndSockets();

    // The service main and the control handler are written once
    // (application_service.cpp); these are the pieces each platform supplies.
    // Connects the control handler to the service manager; false (with the
    // error set) when that failed.
    bool ConnectControlHandler();
    // Starts the worker thread on ThreadMain; 0, or the error that stopped it.
    uint32_t StartWorkerThread();
    // Signals the stop event and waits, without a time limit, for the worker.
    void SignalStopAndWaitForWorker();
    class Front;

    static CApplication* m_pApp;
};

PELLUX_API CApplication* GetApp();
// The singleton's profile, null while there is no application.
PELLUX_API CProfile* GetProfile();
