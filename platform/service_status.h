// The service status record, its states and its controls, numbered as the
// Win32 service manager numbers them. On Linux the same numbers stand for
// systemd's unit states, so that code above the seam speaks one vocabulary.
#pragma once
#include <cstdint>

namespace plat {

// SERVICE_STATUS, field for field.
struct ServiceStatus {
    uint32_t dwServiceType;
    uint32_t dwCurrentState;
    uint32_t dwControlsAccepted;
    uint32_t dwWin32ExitCode;
    uint32_t dwServiceSpecificExitCode;
    uint32_t dwCheckPoint;
    uint32_t dwWaitHint;
};

// dwServiceType: a Win32 program of its own (SERVICE_WIN32).
constexpr uint32_t kServiceTypeWin32 = 0x30;

// dwCurrentState.
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStartPending = 2;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kServicePaused = 7;

// Control codes.
constexpr uint32_t kControlStop = 1;
constexpr uint32_t kControlPause = 2;
constexpr uint32_t kControlContinue = 3;
constexpr uint32_t kControlInterrogate = 4;
constexpr uint32_t kControlShutdown = 5;

// dwControlsAccepted bits.
constexpr uint32_t kAcceptStop = 1;
constexpr uint32_t kAcceptPauseContinue = 2;
constexpr uint32_t kAcceptShutdown = 4;

}  // namespace plat
