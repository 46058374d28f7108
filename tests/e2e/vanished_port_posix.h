// The adapter behind the agent's port is pulled out and a new one appears
// under the same name at once: the agent's open port stays dead, the name
// leads to the new line. Shared by the Linux and the Wine runs of the agent.
#pragma once
#include <cstdint>
#include <string>

#include "relay_agent.h"
#include "ups_line_posix.h"

// Unplugs and replugs `ups` behind the running `agent`, then expects the
// loss reported exactly once more than `lostBefore` (the count of `lost`
// on the agent's error output before the unplug), relaying again within
// `recoverMs`, an identification relayed, and the agent still running.
// Gtest failures are recorded in the calling test.
void ReplugAndExpectOneLossAndRecovery(LinkedUps& ups, RelayAgent& agent, const std::string& lost,
                                       int lostBefore, uint32_t recoverMs, uint32_t answerMs);
