// agentupdate: stops the agent services, copies the new program files from
// the current directory into the relay agent's program directory, and starts
// the services again. No arguments; the outcome is the exit code.
#include "updater/update_steps.h"

int main() { return RunAgentUpdate(); }
