// The update on systemd: the same sequence as under the Win32 service manager.
// systemctl (platform/systemd.h) stops and starts the units; `systemctl show`
// stands in for the status and configuration queries; the files are replaced
// atomically, so a crash half way leaves either the old program or the new one.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/file_replace.h"
#include "platform/product_names.h"
#include "platform/systemd.h"
#include "updater/update_steps.h"

namespace {

const char* const kProgramFiles[] = {"qln", "libPellux_noDB.so"};
constexpr uint32_t kPendingHintMs = 1000;

struct UnitInfo {
    StopWaitStatus status{};
    std::string programPath;
};

// The value of `key` in systemctl's "Key=value" lines.
std::string Value(const std::string& text, const char* key) {
    std::string lines = "\n" + text;
    std::string prefix = std::string("\n") + key + "=";
    std::string::size_type at = lines.find(prefix);
    if (at == std::string::npos) return "";
    at += prefix.size();
    return lines.substr(at, lines.find('\n', at) - at);
}

// The program of ExecStart=, as systemctl shows it: "{ path=/x/qln ; argv[]=...
// }".
std::string ProgramOf(const std::string& execStart) {
    std::string::size_type at = execStart.find("path=");
    if (at == std::string::npos) return "";
    at += 5;
    return execStart.substr(at, execStart.find(" ; ", at) - at);
}

// False when the unit is not known to systemd (or systemd cannot be asked).
bool QueryUnit(const char* unit, UnitInfo& info, uint32_t& progress) {
    std::string text;
    if (plat::Systemctl({"show", "--property=LoadState,ActiveState,ExecStart", unit}, text) != 0) {
        return false;
    }
    if (Value(text, "LoadState") != "loaded") return false;
    std::string active = Value(text, "ActiveState");
    if (active == "inactive" || active == "failed") {
        info.status = {plat::kServiceStopped, progress, 0};
    } else if (active == "deactivating") {
        // systemd reports no check points; a unit it is still stopping counts
        // as progress, and systemd's own stop time-out ends that.
        info.status = {plat::kServiceStopPending, ++progress, kPendingHintMs};
    } else {
        info.status = {plat::kServiceRunning, progress, 0};
    }
    info.programPath = ProgramOf(Value(text, "ExecStart"));
    return true;
}

bool WaitForStop(const char* unit, UnitInfo& info) {
    uint32_t progress = info.status.checkPoint;
    return WaitUntilStopped(
        info.status,
        [unit, &info, &progress](StopWaitStatus& s) {
            if (!QueryUnit(unit, info, progress)) return false;
            s = info.status;
            return true;
        },
        [](uint32_t ms) { plat::SleepMs(ms); });
}

// False when a path does not fit its buffer (then nothing is copied).
bool CopyProgramFiles(const std::string& programPath) {
    char dir[kPathBufferSize];
    char cwd[kPathBufferSize];
    if (programPath.size() >= kPathBufferSize) return false;
    if (!ProgramDirectory(programPath.c_str(), '/', dir, sizeof dir)) return true;
    if (::getcwd(cwd, sizeof cwd) == nullptr) return false;
    for (const char* file : kProgramFiles) {
        std::string error;
        if (!plat::CopyFileOver(std::string(cwd) + "/" + file, std::string(dir) + file, error)) {
            std::fprintf(stderr, "agentupdate: %s\n", error.c_str());
        }
    }
    return true;
}

}  // namespace

// dpkg knows the files of every package it installed; "dpkg-query -S" names
// the package of a path (status 0) or none. Without dpkg nothing is a
// package's.
std::string OwningPackage(const std::string& programPath) {
    if (programPath.empty() || programPath[0] != '/') return "";
    std::string text;
    if (RunCommand({"dpkg-query", "-S", programPath}, text) != 0) return "";
    // "qln: /usr/sbin/qln"; diversions print other lines first.
    std::string::size_type end = text.rfind(": " + programPath);
    if (end == std::string::npos) return "";
    std::string::size_type start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1));
}

int RunAgentUpdate() {
    // Asked before anything is stopped: a packaged agent is left running.
    {
        uint32_t ignored = 0;
        UnitInfo unit;
        if (QueryUnit(plat::kAgentUnitName, unit, ignored)) {
            std::string package = OwningPackage(unit.programPath);
            if (!package.empty()) {
                std::fputs(PackageRefusal(unit.programPath, package).c_str(), stderr);
                return -1;
            }
        }
    }
    plat::Systemctl({"stop", plat::kAgentUnitName});
    plat::Systemctl({"stop", plat::kSiblingUnitName});

    uint32_t progress = 0;
    UnitInfo relay;
    if (!QueryUnit(plat::kAgentUnitName, relay, progress)) return -1;
    if (!WaitForStop(plat::kAgentUnitName, relay)) return -1;

    uint32_t siblingProgress = 0;
    UnitInfo sibling;
    bool siblingPresent = QueryUnit(plat::kSiblingUnitName, sibling, siblingProgress);
    if (siblingPresent) WaitForStop(plat::kSiblingUnitName, sibling);

    plat::SleepMs(1000);
    bool fitted = CopyProgramFiles(relay.programPath);

    plat::Systemctl({"start", plat::kAgentUnitName});
    if (siblingPresent) plat::Systemctl({"start", plat::kSiblingUnitName});
    return fitted ? 0 : -1;
}
