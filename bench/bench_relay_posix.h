// The relay as the benchmarks run it: upssim on a pseudo-terminal and
// `qln daemon` on a free UDP port of 127.0.0.1, with an INI file of their own.
#pragma once
#include <cstdint>
#include <string>

#include "child_process.h"
#include "tools/netxcp/netxcp_request.h"

extern const ByteString kQln;

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
