#include "ups_line_posix.h"

bool SimulatedUps::Start(std::initializer_list<const char*> settings) {
    for (const char* s : settings) {
        if (!Control(s)) return false;
    }
    std::string error;
    return m_Sim.Start(error);
}
