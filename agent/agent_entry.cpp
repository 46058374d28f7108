#include "agent/agent_entry.h"

#include <cstdio>
#include <string>

#include "agent/agent_service.h"
#include "agent/qln_exception.h"
#include "agent/relay_worker.h"
#include "agent/service_host.h"
#include "platform/errors.h"
#include "platform/module.h"

namespace {

const char* const kVersionLine = "$Version: 1.1.4 $";
const char* const kConfigFileName = "qln.ini";

[[noreturn]] void ShowUsage() {
    fprintf(stderr,
            "Usage:   qln [options]\n"
            "Options: -c file  Initialization file, defaults to .\\qln.ini.\n"
            "         -i       Use Internal XCP for XCP UPS systems.\n"
            "         daemon   Run as a daemon.\n"
            "         install  Install as a service.\n"
            "         remove   Remove as a service.\n"
            "         start    Start service.\n"
            "         stop     Stop service.\n"
            "         pause    Pause service.\n"
            "         resume   Resume service.\n"
            "\n");
    fflush(stderr);
    exit(-1);
}

bool SameWord(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (toupper(static_cast<unsigned char>(*a)) != toupper(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

bool IsOptionMark(char c) { return c == '-' || c == '/'; }

// Step 1: every argument of the form -v or /V prints the version once.
bool ScanVersionRequests(int argc, char** argv) {
    bool found = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (IsOptionMark(a[0]) && (a[1] == 'v' || a[1] == 'V')) {
            printf("%s\n", kVersionLine);
            found = true;
        }
    }
    fflush(stdout);
    return found;
}

void ParseArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (SameWord(a, "daemon")) {
            g_AgentService.m_bServiceMode = false;
        } else if (SameWord(a, "install")) {
            InstallService();
        } else if (SameWord(a, "remove")) {
            RemoveService();
        } else if (SameWord(a, "start")) {
            ControlAgentService(ServiceControl::Start);
        } else if (SameWord(a, "stop")) {
            ControlAgentService(ServiceControl::Stop);
        } else if (SameWord(a, "pause")) {
            ControlAgentService(ServiceControl::Pause);
        } else if (SameWord(a, "resume")) {
            ControlAgentService(ServiceControl::Continue);
        } else if (IsOptionMark(a[0])) {
            switch (a[1]) {
                case 'c':
                case 'C':
                    if (i + 1 >= argc) ShowUsage();
                    g_AgentService.m_ConfigPath = argv[++i];
                    break;
                case 'i':
                case 'I':
                    g_bInternalXcp = true;
                    break;
                default:
                    ShowUsage();
            }
        } else {
            ShowUsage();
        }
    }
}

int Run() {
    g_AgentService.m_pWorker = RelayWorker;
    if (g_AgentService.m_bServiceMode) {
        uint32_t error = RunServiceDispatcher();
        if (error == 0) return 0;
        if (error != plat::kErrServiceNotConnected) throw new CQLNException(error);
        g_AgentService.m_bServiceMode = false;
    }
    return RelayWorker(reinterpret_cast<void*>(static_cast<intptr_t>(-1)));
}

}  // namespace

int AgentMain(int argc, char** argv) {
    if (ScanVersionRequests(argc, argv)) return 0;

    // The default INI file is the one beside the executable, wherever the
    // current directory is.
    std::string exe = plat::ModuleFileName();
    if (!exe.empty()) g_AgentService.m_ConfigPath = plat::ReplaceFileName(exe, kConfigFileName);

    try {
        ParseArguments(argc, argv);
        return Run();
    } catch (CQLNException* failure) {
        failure->Report();
        delete failure;
        return -1;
    }
}
