#include "agent/agent_entry.h"

int main(int argc, char** argv) { return AgentMain(argc, argv); }
