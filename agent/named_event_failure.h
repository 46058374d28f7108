// The agent's report of a named event it could not have: the error object for
// the event log, and the exit code the service stops with.
#pragma once
#include <cstdint>

#include "agent/qln_exception.h"
#include "platform/event.h"

// A new error object (the caller owns it) that says why `event` is not valid.
CQLNException* NamedEventFailure(const plat::Event& event);

// The service's exit code for that failure: the platform error behind it.
uint32_t NamedEventExitCode(const plat::Event& event);
