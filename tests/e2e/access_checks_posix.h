// The relay's network face from outside, shared by the Linux and the Wine
// end-to-end tests: whom it answers, where it listens, and the lockout of a
// sender that guesses passwords.
#pragma once
#include "relay_agent.h"
#include "ups_line_posix.h"

// The INI settings the checks expect: bound to 127.0.0.1, serving 127.0.0.1
// and 127.0.0.2-3, two wrong passwords locking a sender out for 2 s.
IniSections AccessIni();

// Runs the checks against an agent that relays for `ups` with AccessIni().
// `bindHonoured`: whether the host keeps a socket bound to 127.0.0.1 from
// hearing datagrams to other loopback addresses (Wine does not).
void CheckAccessRules(RelayAgent& agent, SimulatedUps& ups, bool bindHonoured);
