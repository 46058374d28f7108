// The scripted session behind the status report's end-to-end tests, shared
// by the Linux and the Wine runs of the agent: requests answered, one
// refused for want of a password, one oversized, the UPS unplugged and found
// again, each step checked through `qln status` and `qln status --json`.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "child_process.h"
#include "relay_agent.h"
#include "scratch_dir.h"
#include "ups_line_posix.h"

// Exit statuses of "qln status".
constexpr int kStatusRelaying = 0, kStatusDied = 1, kStatusNotRunning = 3;
constexpr int kStatusSearching = 150, kStatusPaused = 151;

// Runs "qln status" for one agent, as its operator would.
class StatusProbe {
public:
    // `command` runs qln (empty: the build's qln; else e.g. wine and
    // qln.exe), `ini` as the agent was given it, `env` as the agent has it.
    StatusProbe(std::vector<std::string> command, std::string ini, std::vector<std::string> env);

    ProgramResult Text() const { return Run(false); }
    ProgramResult Json() const { return Run(true); }
    // Waits (bounded) until the JSON's `name` reads `value`; the last JSON
    // read goes to `last`.
    bool WaitFor(const std::string& name, const std::string& value, uint32_t ms,
                 ProgramResult& last) const;

private:
    ProgramResult Run(bool json) const;

    std::vector<std::string> m_Command;
    std::string m_Ini;
    std::vector<std::string> m_Env;
};

// A field of "qln status --json" output as written ("" when missing; strings
// without their quotes), and the same as a number.
std::string JsonField(const std::string& json, const std::string& name);
uint64_t JsonCount(const std::string& json, const std::string& name);

// The session up to the UPS found again; gtest failures land in the calling
// test. The agent relays when it is called. Returns the last JSON read.
std::string RunScriptedSession(RelayAgent& agent, LinkedUps& ups, const StatusProbe& status,
                               uint32_t recoverMs, uint32_t answerMs);

// A datagram socket in `dir` standing for systemd's notification socket: what
// the agent says through NOTIFY_SOCKET.
class NotifyListener {
public:
    explicit NotifyListener(const ScratchDir& dir);
    ~NotifyListener();
    const std::string& Path() const { return m_Path; }
    // Waits (bounded) for a message that holds `text`; true when one came.
    bool WaitFor(const std::string& text, uint32_t ms);

private:
    std::string m_Path;
    int m_nSocket = -1;
};
