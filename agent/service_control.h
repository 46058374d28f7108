// The service's control handler: how stop, shutdown, pause and continue from
// the service manager become the events that the worker's KeepRunning sees.
// The table is the shared one of platform/service_front.h; the two platform
// pieces below say how the worker is waited for and how a state reaches the
// service manager. Beside it, the steps that every platform's service main
// shares.
#pragma once
#include <cstdint>

class CQLNException;
namespace plat {
class Event;
}

// How long a failed find waits for the worker before the service stops.
constexpr uint32_t kFindFailedWorkerWaitMs = 10000;

// Applies one control to the running service (the shared table):
//   stop, shutdown  signal the stop event, wait until the worker has ended -> stopped
//   pause           set the pause event                                   -> paused
//   continue        set the continue event                                -> running
//   anything else   nothing
void HandleServiceControl(uint32_t control);

// Signals the stop event and waits, without a time limit, until the worker
// thread has ended. Returns at once when there is no worker (yet).
void SignalStopAndWaitForWorker();

// Stores `state` in the status record and submits the whole record to the
// service manager.
void SetServiceState(uint32_t state);

// Creates the pause, continue and stop events of g_AgentService. Returns 0,
// or the error of the first creation that failed.
uint32_t CreateControlEvents();

// Records the exit codes and reports the service stopped.
void StopWithError(uint32_t win32Exit, uint32_t specificExit);

// Reports `failure` to the log and deletes it.
void ReportAndDiscard(CQLNException* failure);

// Gives up the start for the platform error `error`: the service stops with
// it, and the log says why.
void FailStart(uint32_t error);

// Gives up the start when either named event could not be had, with the
// reason in the log; true when it did. Without them the start could never
// complete.
bool FailStartWithoutNamedEvents(const plat::Event& found, const plat::Event& findFailed);
