// RelayWorker: the relay agent's worker loop (thread entry; the argument is
// the process's AgentService, whose settings and controls it works with).
// 0 when the loop ended on a stop, -1 after an agent exception.
#pragma once

int RelayWorker(void* argument);
