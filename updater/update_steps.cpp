#include "updater/update_steps.h"

#include <cstdio>
#include <cstring>

bool WaitUntilStopped(StopWaitStatus& status, const std::function<bool(StopWaitStatus&)>& query,
                      const std::function<void(uint32_t)>& sleep) {
    while (status.state != plat::kServiceStopped) {
        uint32_t previous = status.checkPoint;
        sleep(status.waitHint);
        if (!query(status)) return false;
        if (status.checkPoint <= previous) break;  // no progress reported
    }
    return true;
}

bool ProgramDirectory(const char* programPath, char separator, char* out, size_t size) {
    const char* last = std::strrchr(programPath, separator);
    if (last == nullptr) return false;
    size_t length = static_cast<size_t>(last - programPath) + 1;
    if (length >= size) return false;
    std::memcpy(out, programPath, length);
    out[length] = '\0';
    return true;
}

std::string PackageRefusal(const std::string& programPath, const std::string& package) {
    return "agentupdate: " + programPath + " was installed by the package " + package +
           "; the update is refused, as copying over it would fight the package. "
           "Install the newer package instead.\n";
}
