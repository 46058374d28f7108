// The pieces of agentupdate that are the same on every platform: the wait for
// a service to stop, and the bounded building of paths.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/service_status.h"

// Sizes of the working buffers. Anything that does not fit is refused.
constexpr size_t kPathBufferSize = 1024;
constexpr size_t kCurrentDirBufferSize = 260;

struct StopWaitStatus {
    uint32_t state;
    uint32_t checkPoint;
    uint32_t waitHint;  // milliseconds
};

// Waits for a service to stop: while it is not stopped, sleep its full wait
// hint and query again; give up waiting when the check point did not grow.
// False only when a query failed.
bool WaitUntilStopped(StopWaitStatus& status, const std::function<bool(StopWaitStatus&)>& query,
                      const std::function<void(uint32_t)>& sleep);

// The program directory of a configured program path: everything up to and
// including its last `separator`. False when it does not fit `size` bytes
// with its terminating zero, or the path has no separator.
bool ProgramDirectory(const char* programPath, char separator, char* out, size_t size);

// The installed package that owns the agent's program `programPath` (as the
// service manager has it, quoted or not), or "" when the program was copied
// in by hand. An update by copying would fight that package's own file
// tracking (a repair or the next upgrade puts the packaged files back; on
// Linux the library lives elsewhere), so such an update is refused.
std::string OwningPackage(const std::string& programPath);

// The refusal, for standard error: what owns the program and what to use.
std::string PackageRefusal(const std::string& programPath, const std::string& package);

// Runs the whole update; the process's exit code: 0, or -1 when the relay
// agent service could not be reached, a path did not fit, or the agent's
// program belongs to an installed package (then nothing is stopped).
int RunAgentUpdate();
