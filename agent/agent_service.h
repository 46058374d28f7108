// AgentService: what the entry decides for one process of the relay agent,
// and the events through which the service host steers the worker.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"

using WorkerRoutine = int (*)(void*);

// The platform's service status record, field for field.
struct ServiceStatusRecord {
    uint32_t dwServiceType;
    uint32_t dwCurrentState;
    uint32_t dwControlsAccepted;
    uint32_t dwWin32ExitCode;
    uint32_t dwServiceSpecificExitCode;
    uint32_t dwCheckPoint;
    uint32_t dwWaitHint;
};

constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStartPending = 2;
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kServicePaused = 7;

class AgentService {
public:
    AgentService();
    ~AgentService();
    AgentService(const AgentService&) = delete;
    AgentService& operator=(const AgentService&) = delete;

    // Called by the worker at the top of every pass: false means stop. Blocks
    // while the service is paused.
    bool KeepRunning();

    WorkerRoutine m_pWorker = nullptr;
    std::string m_ConfigPath = "qln.ini";
    bool m_bServiceMode = true;
    std::unique_ptr<plat::Event> m_pPauseEvent;
    std::unique_ptr<plat::Event> m_pContinueEvent;
    std::unique_ptr<plat::Event> m_pStopEvent;
    void* m_hWorkerThread = nullptr;
    ServiceStatusRecord m_Status = {0x30, kServiceStartPending, 7, 0, 0, 0, 0};
    void* m_hStatus = nullptr;
};

extern AgentService g_AgentService;

// Set by "-i": use the internal XCP for XCP UPS systems.
extern bool g_bInternalXcp;
