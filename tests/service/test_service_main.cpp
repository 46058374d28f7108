// qln_testsvc: the agent's service host with a worker that the tests steer,
// so that the host's behaviour under the real service manager shows without a
// UPS. It takes the same verbs as qln (the installed image is this program).
//
// Files beside the executable steer the worker:
//   testsvc.hold  wait for the named event "Qln Test Go" before signalling
//                 "UPS Found"
//   testsvc.fail  end at once with -1, without signalling
// and it writes what it does, one word a line, to testsvc.log.
#include <cstdio>
#include <cstring>
#include <string>

#include "agent/agent_service.h"
#include "agent/service_host.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/module.h"

namespace {

std::string Beside(const char* name) { return plat::ReplaceFileName(plat::ModuleFileName(), name); }

bool Exists(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f) fclose(f);
    return f != nullptr;
}

void Log(const char* word) {
    FILE* f = fopen(Beside("testsvc.log").c_str(), "ab");
    if (!f) return;
    fprintf(f, "%s\n", word);
    fclose(f);
}

int TestWorker(void*) {
    Log("started");
    if (Exists(Beside("testsvc.fail"))) {
        Log("failing");
        return -1;
    }
    if (Exists(Beside("testsvc.hold"))) {
        plat::Event go("Qln Test Go");
        Log("holding");
        go.Wait(60000);
    }
    plat::SignalNamedEvent("UPS Found");
    Log("found");
    while (g_AgentService.KeepRunning()) {
        Log("pass");
        plat::SleepMs(20);
    }
    Log("ended");
    return 0;
}

bool Is(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if ((*a | 0x20) != (*b | 0x20)) return false;
    return *a == *b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        if (Is(argv[1], "install")) InstallService();
        if (Is(argv[1], "remove")) RemoveService();
        if (Is(argv[1], "start")) ControlAgentService(ServiceControl::Start);
        if (Is(argv[1], "stop")) ControlAgentService(ServiceControl::Stop);
        if (Is(argv[1], "pause")) ControlAgentService(ServiceControl::Pause);
        if (Is(argv[1], "resume")) ControlAgentService(ServiceControl::Continue);
        return -1;
    }
    g_AgentService.m_pWorker = TestWorker;
    uint32_t error = RunServiceDispatcher();
    if (error != 0) fprintf(stderr, "qln_testsvc: not started as a service (%u)\n", error);
    return error == 0 ? 0 : -1;
}
