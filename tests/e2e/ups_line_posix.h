// upssim in the test process, on its pseudo-terminal: the UPS the agent
// under test talks to, with its settings and faults set by control lines.
#pragma once
#include <cstdint>
#include <string>

#include "upssim.h"

class SimulatedUps {
public:
    ~SimulatedUps() { m_Sim.Stop(); }
    // `settings` are control lines applied before the line opens.
    bool Start(std::initializer_list<const char*> settings = {});
    bool Control(const std::string& line) { return m_Sim.Control(line).compare(0, 2, "ok") == 0; }
    std::string SlavePath() const { return m_Sim.SlavePath(); }
    // How many requests with this command the UPS has heard.
    uint32_t Count(uint8_t command) { return m_Sim.Count(command); }

private:
    UpsSim m_Sim;
};
