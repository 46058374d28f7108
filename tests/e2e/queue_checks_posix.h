// The relay's request queue from outside, shared by the Linux and the Wine
// end-to-end tests: a flooding sender does not keep another one waiting, a
// request that went stale is dropped unanswered, an over-long datagram costs
// only itself.
#pragma once
#include <cstdint>

#include "relay_agent.h"
#include "ups_line_posix.h"

// With RequestMaxAge=0, so that only the senders' turns can let the second
// sender through early: before the queue it waited behind the whole backlog
// of the first (two datagrams a second) or was dropped by the kernel.
void CheckASecondSenderIsAnsweredWhileTheFirstFloods(RelayAgent& agent, uint32_t answerMs);

// With RequestMaxAge=1.
void CheckStaleRequestsAreDroppedUnanswered(RelayAgent& agent, SimulatedUps& ups,
                                            uint32_t answerMs);

// Any settings: before the queue, an over-long datagram made the relay throw
// away everything that waited behind it.
void CheckAnOverLongDatagramCostsOnlyItself(RelayAgent& agent, uint32_t answerMs);
