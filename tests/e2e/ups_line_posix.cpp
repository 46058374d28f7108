#include "ups_line_posix.h"

#include <unistd.h>

bool SimulatedUps::Start(std::initializer_list<const char*> settings) {
    for (const char* s : settings) {
        if (!Control(s)) return false;
    }
    std::string error;
    return m_Sim.Start(error);
}

LinkedUps::LinkedUps() : m_LinkPath("/tmp/qln-e2e-ups-" + std::to_string(::getpid())) {}

LinkedUps::~LinkedUps() {
    m_Sim.Stop();
    ::unlink(m_LinkPath.c_str());
}

bool LinkedUps::Start(std::initializer_list<const char*> settings) {
    for (const char* s : settings) {
        if (!Control(s)) return false;
    }
    std::string error;
    return m_Sim.Start(error) && m_Sim.SetLink(m_LinkPath, error);
}
