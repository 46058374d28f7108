// AgentService: what the entry decides for one process of the relay agent,
// and the events through which the service host steers the worker. The
// entry fills it in; the hosts and the worker are handed it (the worker as
// its routine's argument) and read it from there.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/product_names.h"
#include "platform/service_status.h"

using WorkerRoutine = int (*)(void*);

class AgentService {
public:
    AgentService();
    ~AgentService();
    AgentService(const AgentService&) = delete;
    AgentService& operator=(const AgentService&) = delete;

    // Called by the worker at the top of every pass: false means stop. Blocks
    // while the service is paused.
    bool KeepRunning();
    // The events that have to end any wait of the worker at once, stop and
    // pause, into `out` (room for two); their number. KeepRunning acts on
    // them. None outside service mode, where KeepRunning ignores them.
    int ControlEvents(plat::Event** out) const;

    // Told by KeepRunning when the worker pauses (true) and goes on again
    // (false), from the worker's thread; the worker's status report uses it.
    std::function<void(bool)> m_PauseChanged;

    WorkerRoutine m_pWorker = nullptr;
    std::string m_ConfigPath = plat::kAgentIniName;
    // Which agent of the host this is (see AgentInstance); "" for the one on
    // the INI file beside the executable.
    std::string m_Instance;
    // The service this process runs as and the event-log source of its
    // reports: the default's, or a further instance's ("-n NAME"; see
    // AgentServiceName in agent/instance_names.h).
    std::string m_ServiceName;
    // The name given with "-n" ("" without one), as the status record and
    // the system log name this agent to people.
    std::string m_InstanceName;
    bool m_bServiceMode = true;
    // Set by "-i": use the internal XCP for XCP UPS systems.
    bool m_bInternalXcp = false;
    std::unique_ptr<plat::Event> m_pPauseEvent;
    std::unique_ptr<plat::Event> m_pContinueEvent;
    std::unique_ptr<plat::Event> m_pStopEvent;
    void* m_hWorkerThread = nullptr;
    plat::ServiceStatus m_Status = {
        plat::kServiceTypeWin32,
        plat::kServiceStartPending,
        plat::kAcceptStop | plat::kAcceptPauseContinue | plat::kAcceptShutdown,
        0,
        0,
        0,
        0};
    void* m_hStatus = nullptr;
};

// The one AgentService of the process. It has to be reachable without a
// pointer: the Win32 service main and control handler are called by the
// system with none, and a POSIX signal handler neither. Whatever can be
// handed it takes it from its caller instead (the worker routine, the
// reporter, the loops); new code should do the same.
extern AgentService g_AgentService;

// The named events through which the worker ends a pending start: the UPS was
// found (the start completes), or it was not (the start fails).
extern const char* const kUpsFoundEvent;
extern const char* const kUpsFindFailedEvent;

// The instance name of the agent on the INI file at `configPath`: "" when
// the file is the default one beside the executable (`configGiven` false),
// so that the one installed service keeps the names it always had; else 16
// hex digits of a hash of the path as given, so that agents on different INI
// files never share a named event.
std::string AgentInstance(const std::string& configPath, bool configGiven);
// The name of this agent's named event `base` (kUpsFoundEvent, ...): `base`
// itself, or with the instance after a blank.
std::string AgentEventName(const char* base);
