// Placeholder until the service host lands: every verb fails loudly, and the
// dispatcher reports that no service manager started this process, so the
// agent runs in the foreground.
#include <cstdio>
#include <cstdlib>

#include "agent/service_host.h"
#include "platform/errors.h"

namespace {
[[noreturn]] void NotBuilt(const char* verb) {
    fprintf(stderr, "qln: the service verb \"%s\" is not available in this build.\n", verb);
    exit(-1);
}
}  // namespace

void InstallService() { NotBuilt("install"); }
void RemoveService() { NotBuilt("remove"); }
void ControlAgentService(ServiceControl control) {
    static const char* const names[] = {"start", "stop", "pause", "resume"};
    NotBuilt(names[static_cast<int>(control)]);
}
uint32_t RunServiceDispatcher() { return plat::kErrServiceNotConnected; }
