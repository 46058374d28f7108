// The service verbs on systemd. install writes the agent's unit and enables
// it (automatic start), remove disables and deletes it; start and stop are
// systemctl's own; pause and resume send the signals the running agent takes
// for those controls (SIGUSR1, SIGUSR2). With "-n NAME" each acts on the
// instance NAME of the template unit instead, whose file the package brings:
// install enables and starts it, remove stops and disables it. Each verb
// ends the process: 0 after its message, -1 after the failure's text on
// standard error.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/ini_file.h"
#include "agent/instance_names.h"
#include "agent/qln_exception.h"
#include "agent/service_account.h"
#include "agent/service_host.h"
#include "agent/service_verb.h"
#include "agent/systemctl_verbs.h"
#include "agent/systemd_unit.h"
#include "common/resources/message_ids.h"
#include "platform/module.h"
#include "platform/product_names.h"
#include "platform/systemd.h"
#include "upslink/serial_port.h"

namespace {

// A failure that no error code tells: its text, and the process ends. No
// descriptor is open where a verb calls it.
[[noreturn]] void Fail(const std::string& text) {
    fflush(stdout);
    fprintf(stderr, "%s\n", text.c_str());
    fflush(stderr);
    exit(-1);
}

// A verb where systemd runs; elsewhere a clear failure.
template <typename Verb>
[[noreturn]] void RunSystemdVerb(Verb verb, const char* success) {
    RunVerb(
        [&verb] {
            if (!plat::SystemdIsRunning()) {
                Fail(
                    "systemd is not running on this machine: the service verbs need "
                    "it.");
            }
            verb();
        },
        success);
}

// systemctl's own messages reach the user unchanged.
void MustSystemctl(const std::vector<std::string>& args) {
    int status = plat::Systemctl(args);
    if (status == -1) throw new CQLNException();
    if (status != 0) Fail("systemctl " + args[0] + " failed.");
}

std::string UnitPath() { return std::string(plat::kSystemUnitDir) + "/" + plat::kAgentUnitName; }

// An existing unit is left alone.
void WriteUnitFile(const std::string& text) {
    if (!plat::WriteNewUnitFile(UnitPath(), text)) {
        if (errno == EEXIST) Fail("The service already exists: " + UnitPath());
        throw new CQLNException();
    }
}

// The INI file of the instance NAME, as the template unit gives it to the
// agent ("-c /etc/qln/%i.ini").
const char* const kInstanceIniFolder = "/etc/qln";

bool UnitIsActive(const std::string& unit) {
    return plat::Systemctl({"is-active", "--quiet", unit}, CommandOutput::Hidden) == 0;
}

bool UnitIsEnabled(const std::string& unit) {
    return plat::Systemctl({"is-enabled", "--quiet", unit}, CommandOutput::Hidden) == 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool TemplateUnitInstalled() {
    for (const std::string& folder : UnitFolders()) {
        if (IsRegularFile(folder + "/" + plat::kAgentTemplateUnitName)) return true;
    }
    return false;
}

// An instance the verb needs installed (enabled) that is not.
void MustBeInstalled(const std::string& instance, const std::string& unit) {
    if (!UnitIsEnabled(unit))
        throw new CQLNException(MSG_INSTANCE_NOT_INSTALLED, {instance.c_str(), unit.c_str()});
}

void InstallInstance(const std::string& instance) {
    const std::string unit = AgentInstanceUnitName(instance);
    if (!TemplateUnitInstalled()) {
        throw new CQLNException(MSG_INSTANCE_NO_TEMPLATE,
                                {instance.c_str(), plat::kAgentTemplateUnitName});
    }
    const std::string ini = std::string(kInstanceIniFolder) + "/" + instance + ".ini";
    if (!IsRegularFile(ini))
        throw new CQLNException(MSG_INSTANCE_INI_MISSING, {instance.c_str(), ini.c_str()});
    if (UnitIsEnabled(unit))
        throw new CQLNException(MSG_INSTANCE_INSTALLED, {instance.c_str(), unit.c_str()});
    MustSystemctl(SystemctlArgs(AgentAction::Install, unit));
}

void RemoveInstance(const std::string& instance) {
    const std::string unit = AgentInstanceUnitName(instance);
    MustBeInstalled(instance, unit);
    MustSystemctl(SystemctlArgs(AgentAction::Remove, unit));
}

AgentAction ActionOf(ServiceControl control) {
    switch (control) {
        case ServiceControl::Start:
            return AgentAction::Start;
        case ServiceControl::Stop:
            return AgentAction::Stop;
        case ServiceControl::Pause:
            return AgentAction::Pause;
        case ServiceControl::Continue:
            break;
    }
    return AgentAction::Resume;
}

// The account the unit runs the agent as: the dedicated account (made when
// missing) when it can run the program, read the INI file beside it and open
// the serial port the INI file names; otherwise
// root, and `whyRoot` says why. A port that is not there now (an adapter not
// plugged in) is not held against the account: udev gives serial devices to
// the serial group.
std::string ChooseServiceAccount(const std::string& exe, std::string& whyRoot) {
    whyRoot = EnsureSystemAccount(kAgentAccount, kSerialGroup);
    if (!whyRoot.empty()) return "";
    std::vector<AccountNeed> needs{{exe, X_OK}};
    std::string ini = AgentIniPath(exe);
    struct stat st {};
    if (::stat(ini.c_str(), &st) == 0) {
        needs.push_back({ini, R_OK});
        CINIFile profile(ini.c_str());
        std::string port =
            PortDevicePath(profile.GetString("Communications", "CommunicationsPort", "COM1:"));
        if (::stat(port.c_str(), &st) == 0) needs.push_back({port, R_OK | W_OK});
    }
    std::string error;
    std::string denied = FirstPathDenied(kAgentAccount, kSerialGroup, needs, error);
    if (!error.empty()) {
        whyRoot = error;
    } else if (!denied.empty()) {
        whyRoot = denied + " is not open to the account " + kAgentAccount;
    }
    return whyRoot.empty() ? kAgentAccount : "";
}

}  // namespace

void InstallService(const std::string& instance, const std::string& /*configPath*/) {
    RunSystemdVerb(
        [&instance] {
            if (!instance.empty()) return InstallInstance(instance);
            std::string exe = plat::ModuleFileName();
            if (AgentUnitText(exe, kAgentAccount).empty()) {
                Fail("The program's path cannot be written into a unit: " + exe);
            }
            struct stat st {};
            if (::stat(UnitPath().c_str(), &st) == 0)
                Fail("The service already exists: " + UnitPath());
            std::string whyRoot;
            std::string account = ChooseServiceAccount(exe, whyRoot);
            WriteUnitFile(AgentUnitText(exe, account, whyRoot));
            MustSystemctl({"daemon-reload"});
            MustSystemctl({"enable", plat::kAgentUnitName});
            if (account.empty()) {
                printf("The service runs as root, without capabilities: %s.\n", whyRoot.c_str());
            } else {
                printf("The service runs as the account %s (with the group %s).\n", account.c_str(),
                       kSerialGroup);
            }
        },
        "Service installed.");
}

void RemoveService(const std::string& instance) {
    RunSystemdVerb(
        [&instance] {
            if (!instance.empty()) return RemoveInstance(instance);
            std::string path = UnitPath();
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) Fail("The service is not installed: " + path);
            MustSystemctl({"disable", plat::kAgentUnitName});
            if (::unlink(path.c_str()) != 0) throw new CQLNException();
            MustSystemctl({"daemon-reload"});
        },
        "Service removed.");
}

void ControlAgentService(ServiceControl control, const std::string& instance) {
    RunSystemdVerb(
        [control, &instance] {
            const std::string unit =
                instance.empty() ? plat::kAgentUnitName : AgentInstanceUnitName(instance);
            if (!instance.empty()) MustBeInstalled(instance, unit);
            const AgentAction action = ActionOf(control);
            if ((action == AgentAction::Pause || action == AgentAction::Resume) &&
                !UnitIsActive(unit)) {
                if (!instance.empty()) {
                    throw new CQLNException(MSG_INSTANCE_NOT_STARTED,
                                            {instance.c_str(), unit.c_str()});
                }
                Fail("The service has not been started.");
            }
            MustSystemctl(SystemctlArgs(action, unit));
        },
        "Service control succeeded.");
}
