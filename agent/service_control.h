// The service's control handler: how stop, shutdown, pause and continue from
// the service manager become the events that the worker's KeepRunning sees.
// The table is the same on every platform; the two platform pieces below say
// how the worker is waited for and how a state reaches the service manager.
// Beside it, the two steps by which every platform's service main gives up.
#pragma once
#include <cstdint>

class CQLNException;

// Applies one control to the running service (the handler's table):
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

// Records the exit codes and reports the service stopped.
void StopWithError(uint32_t win32Exit, uint32_t specificExit);

// Reports `failure` to the log and deletes it.
void ReportAndDiscard(CQLNException* failure);
