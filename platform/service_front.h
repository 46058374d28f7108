// The control handling of a service, the same for every host and platform.
// A host (the agent's, the framework's) derives from ServiceFront and
// supplies only what differs: where its status record lives and goes, its
// events, and how its platform signals the stop and waits for the worker
// (a join on POSIX, one SignalObjectAndWait on Win32).
#pragma once
#include <cstdint>

#include "platform/event.h"
#include "platform/service_status.h"

namespace plat {

class ServiceFront {
public:
    // Applies one control from the service manager:
    //   stop, shutdown  when a worker runs: BeforeStop, then signal the stop
    //                   event and wait until the worker has ended -> stopped
    //   pause           set the pause event                     -> paused
    //   continue        set the continue event                  -> running
    //   anything else   nothing
    // A control that arrives before the service main made the events (or the
    // worker) still gets its state, but has nothing to set or wait for.
    void HandleControl(uint32_t control);

    // Records the exit codes in the status record and reports the service
    // stopped.
    void StopWithError(uint32_t win32Exit, uint32_t specificExit);

protected:
    ~ServiceFront() = default;

    virtual ServiceStatus& Status() = 0;
    // Stores `state` in Status() and hands the record to the service manager.
    virtual void ReportState(uint32_t state) = 0;
    // Null until the service main made them.
    virtual Event* PauseEvent() = 0;
    virtual Event* ContinueEvent() = 0;
    // True when there is a stop event and a worker thread to stop.
    virtual bool HasWorker() const = 0;
    // The host's own work between the stop control and the stop signal.
    virtual void BeforeStop() {}
    // Signals the stop event and waits, without a time limit, until the
    // worker thread has ended.
    virtual void SignalStopAndWait() = 0;
};

}  // namespace plat
