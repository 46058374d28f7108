#include "agent/agent_entry.h"

#include <cstdio>
#include <string>

#include "agent/agent_service.h"
#include "agent/command_line.h"
#include "agent/instance_names.h"
#include "agent/qln_exception.h"
#include "agent/relay_worker.h"
#include "agent/service_host.h"
#include "agent/status_command.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/module.h"
#include "platform/product_names.h"
#include "qln_version.h"

namespace {

const char* const kVersionLine = QLN_VERSION_LINE;

[[noreturn]] void ShowUsage() {
    fprintf(stderr,
            "Usage:   qln [options]\n"
            "Options: -c file  Initialization file, defaults to .\\%s.\n"
            "         -n name  A further instance: its own service, and name.ini.\n"
            "         -i       Use Internal XCP for XCP UPS systems.\n"
            "         daemon   Run as a daemon.\n"
            "         install  Install as a service.\n"
            "         remove   Remove as a service.\n"
            "         start    Start service.\n"
            "         stop     Stop service.\n"
            "         pause    Pause service.\n"
            "         resume   Resume service.\n"
            "         status   Show what the agent is doing (--json: as JSON).\n"
            "\n",
            plat::kAgentIniName);
    fflush(stderr);
    exit(-1);
}

void CarryOut(AgentAction action, const std::string& instance) {
    switch (action) {
        case AgentAction::Install:
            InstallService(instance, g_AgentService.m_ConfigPath);
            break;
        case AgentAction::Remove:
            RemoveService(instance);
            break;
        case AgentAction::Start:
            ControlAgentService(ServiceControl::Start, instance);
            break;
        case AgentAction::Stop:
            ControlAgentService(ServiceControl::Stop, instance);
            break;
        case AgentAction::Pause:
            ControlAgentService(ServiceControl::Pause, instance);
            break;
        case AgentAction::Resume:
            ControlAgentService(ServiceControl::Continue, instance);
            break;
        case AgentAction::Usage:
            ShowUsage();
        case AgentAction::Status:
        case AgentAction::Run:
            break;
    }
}

int Run() {
    g_AgentService.m_pWorker = RelayWorker;
    if (g_AgentService.m_bServiceMode) {
        uint32_t error = RunServiceDispatcher();
        if (error == 0) return ServiceProcessExitStatus();
        if (error != plat::kErrServiceNotConnected) throw new CQLNException(error);
        g_AgentService.m_bServiceMode = false;
    }
    return RelayWorker(&g_AgentService);
}

}  // namespace

int AgentMain(int argc, char** argv) {
    const AgentCommandLine cl = ParseAgentCommandLine(argc, argv);
    if (cl.versionRequests > 0) {
        for (int i = 0; i < cl.versionRequests; ++i) printf("%s\n", kVersionLine);
        fflush(stdout);
        return 0;
    }

    // The default INI file is the one beside the executable, wherever the
    // current directory is.
    std::string exe = plat::ModuleFileName();
    if (!exe.empty()) g_AgentService.m_ConfigPath = plat::ReplaceFileName(exe, plat::kAgentIniName);

    // A named instance reads NAME.ini beside the default file unless told
    // otherwise, and its events and service carry its name.
    if (!cl.instanceName.empty() && !exe.empty()) {
        g_AgentService.m_ConfigPath = plat::ReplaceFileName(exe, cl.instanceName + ".ini");
    }
    if (cl.configGiven) g_AgentService.m_ConfigPath = cl.configPath;
    g_AgentService.m_Instance = cl.instanceName.empty()
                                    ? AgentInstance(g_AgentService.m_ConfigPath, cl.configGiven)
                                    : cl.instanceName;
    g_AgentService.m_ServiceName = AgentServiceName(cl.instanceName);
    g_AgentService.m_InstanceName = cl.instanceName;
    if (!cl.instanceName.empty()) plat::SetEventLogInstance(cl.instanceName);
    if (!cl.serviceMode) g_AgentService.m_bServiceMode = false;
    if (cl.internalXcp) g_AgentService.m_bInternalXcp = true;

    try {
        if (cl.action == AgentAction::Status) {
            // Without -c or -n: every agent of the host.
            if (!cl.configGiven && cl.instanceName.empty()) return ShowHostStatus(cl.json);
            return ShowStatus(g_AgentService.m_ConfigPath, cl.json,
                              cl.configGiven ? std::string() : cl.instanceName);
        }
        CarryOut(cl.action, cl.instanceName);
        return Run();
    } catch (CQLNException* failure) {
        failure->Report();
        delete failure;
        return -1;
    }
}
