// The agent's report of a named event it could not have: the error object for
// the event log, and the exit code the service stops with.
#pragma once
#include <cstdint>

#include "agent/qln_exception.h"
#include "platform/event.h"

// 0xC0020166 "The folder %1 for the agent's named events cannot be used: %2"
constexpr uint32_t kMsgEventFolderUnusable = 0xC0020166u;
// 0xC0020167 "%1 is refused for the agent's named events: ..."
constexpr uint32_t kMsgEventRefused = 0xC0020167u;

// A new error object (the caller owns it) that says why `event` is not valid.
CQLNException* NamedEventFailure(const plat::Event& event);

// The service's exit code for that failure: the platform error behind it.
uint32_t NamedEventExitCode(const plat::Event& event);
