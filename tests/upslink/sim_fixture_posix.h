// A simulated UPS on a pseudo-terminal and a link opened on it, for tests of
// the engine and the device.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "thrown_id.h"
#include "upslink/serial_link.h"
#include "upssim.h"

class SimTest : public ::testing::Test {
protected:
    // `settings`: control lines applied before the link opens.
    void StartSim(std::initializer_list<const char*> settings, uint32_t baud = 1200) {
        for (const char* s : settings) ASSERT_EQ(m_Sim.Control(s).substr(0, 2), "ok") << s;
        std::string error;
        ASSERT_TRUE(m_Sim.Start(error)) << error;
        m_pLink.reset(new SerialLink(m_Sim.SlavePath(), baud, 8, 2, 0));
        m_pLink->Open();
    }
    void Sim(const std::string& line) { ASSERT_EQ(m_Sim.Control(line).substr(0, 2), "ok") << line; }

    UpsSim m_Sim;
    std::unique_ptr<SerialLink> m_pLink;
};
