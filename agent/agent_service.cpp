#include "agent/agent_service.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "agent/instance_names.h"
#include "agent/qln_exception.h"
#include "platform/errors.h"

AgentService g_AgentService;

const char* const kUpsFoundEvent = "UPS Found";
const char* const kUpsFindFailedEvent = "UPS Find Failed";

std::string AgentInstance(const std::string& configPath, bool configGiven) {
    if (!configGiven) return std::string();
    // FNV-1a: short, stable across builds and platforms, and enough to tell
    // a handful of INI files apart; it guards against accidents, not against
    // the account's own processes, which may use the events anyway.
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : configPath) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string AgentEventName(const char* base) {
    const std::string& instance = g_AgentService.m_Instance;
    return instance.empty() ? std::string(base) : std::string(base) + " " + instance;
}

AgentService::AgentService() : m_ServiceName(AgentServiceName("")) {}
AgentService::~AgentService() = default;

bool AgentService::KeepRunning() {
    if (!m_bServiceMode) return true;
    if (m_pPauseEvent && m_pPauseEvent->TryConsume()) {
        plat::Event* waits[] = {m_pStopEvent.get(), m_pContinueEvent.get()};
        if (!waits[0] || !waits[1]) return false;
        if (m_PauseChanged) m_PauseChanged(true);
        bool goOn = plat::Event::WaitAny(waits, 2, plat::kInfinite) == 1;
        if (goOn && m_PauseChanged) m_PauseChanged(false);
        return goOn;
    }
    if (m_pStopEvent && m_pStopEvent->TryConsume()) return false;
    return true;
}

int AgentService::ControlEvents(plat::Event** out) const {
    if (!m_bServiceMode) return 0;
    int count = 0;
    for (plat::Event* event : {m_pStopEvent.get(), m_pPauseEvent.get()}) {
        if (event && event->IsValid()) out[count++] = event;
    }
    return count;
}

namespace {

// Room kept back so that the handler can still build its exception when the
// heap is exhausted.
void* g_pReserve = nullptr;

void AllocationFailed() {
    std::free(g_pReserve);
    g_pReserve = nullptr;
    // A failure while the exception itself is built ends as std::bad_alloc
    // rather than in this handler again.
    std::new_handler self = std::set_new_handler(nullptr);
    CQLNException* failure = new CQLNException(plat::kErrNotEnoughMemory);
    std::set_new_handler(self);
    g_pReserve = std::malloc(64 * 1024);
    throw failure;
}

struct AllocationHandlerInstaller {
    AllocationHandlerInstaller() {
        g_pReserve = std::malloc(64 * 1024);
        std::set_new_handler(AllocationFailed);
    }
} g_installAllocationHandler;

}  // namespace
