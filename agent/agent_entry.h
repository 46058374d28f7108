// The relay agent's process entry: version request, command line, run.
#pragma once

// Returns the exit code; the service verbs end the process themselves.
int AgentMain(int argc, char** argv);
