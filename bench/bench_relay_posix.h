// The relay as the benchmarks run it: upssim on a pseudo-terminal and
// `qln daemon` on a free UDP port of 127.0.0.1, with an INI file of their own.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "child_process.h"
#include "tools/netxcp/netxcp_request.h"

extern const ByteString kQln;

// CPU time of all the threads of process `pid`, in seconds, from the
// scheduler's nanosecond counts (/proc's clock ticks are too coarse for a
// relay that spends milliseconds per hundred requests).
double ThreadCpuSeconds(int pid);
// A "Vm..." figure (`key` with its colon) of /proc/<pid>/status, in KiB; -1
// when there is none.
long StatusKb(int pid, const std::string& key);

// One request on a fresh socket; the time to its answer in ms, or -1.
double TimedExchange(uint16_t port, const ByteString& datagram, uint32_t timeoutMs);

class BenchRelay {
public:
    BenchRelay();
    ~BenchRelay();
    // Starts both and waits (bounded) until the agent relays; `extraIni` is
    // appended to the INI file. False, with the reason on standard error,
    // when either does not come up.
    bool Start(const std::string& extraIni = "");
    // Start's two steps, for benchmarks that shape either: upssim with its
    // `--NAME VALUE` options, then the agent on `portName` (the
    // pseudo-terminal when empty) run by `command` (the build's qln when
    // empty; e.g. wine and qln.exe), relaying within `startMs`.
    bool StartUps(const std::vector<std::string>& options = {});
    bool StartAgent(const std::string& extraIni, const std::string& portName = "",
                    const std::vector<std::string>& command = {}, uint32_t startMs = 60000);
    void Stop();

    uint16_t Port() const { return m_nPort; }
    const std::string& Pty() const { return m_Pty; }
    ChildProcess& Agent() { return m_Agent; }

private:
    std::string m_Dir;
    std::string m_Pty;
    uint16_t m_nPort = 0;
    ChildProcess m_Sim;
    ChildProcess m_Agent;
};
