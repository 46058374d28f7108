// upssim in the test process, on its pseudo-terminal: the UPS the agent
// under test talks to, with its settings and faults set by control lines.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

#include "upssim.h"

class SimulatedUps {
public:
    ~SimulatedUps() { m_Sim.Stop(); }
    // `settings` are control lines applied before the line opens.
    bool Start(std::initializer_list<const char*> settings = {});
    bool Control(const std::string& line) { return m_Sim.Control(line).compare(0, 2, "ok") == 0; }
    // A query's whole answer ("ok <value>" or "error <reason>").
    std::string Ask(const std::string& line) { return m_Sim.Control(line); }
    std::string SlavePath() const { return m_Sim.SlavePath(); }
    // How many requests with this command the UPS has heard.
    uint32_t Count(uint8_t command) { return m_Sim.Count(command); }

private:
    UpsSim m_Sim;
};

// upssim with its port behind a symbolic link that it re-points whenever its
// line is replaced ("unplug", then "plug"): the port name a host keeps using
// while the adapter behind it comes and goes.
class LinkedUps {
public:
    LinkedUps();
    ~LinkedUps();
    bool Start(std::initializer_list<const char*> settings = {});
    bool Control(const std::string& line) { return m_Sim.Control(line).compare(0, 2, "ok") == 0; }
    const std::string& LinkPath() const { return m_LinkPath; }
    UpsSim& Sim() { return m_Sim; }

private:
    std::string m_LinkPath;
    UpsSim m_Sim;
};
