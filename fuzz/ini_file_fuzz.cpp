// The agent's INI reader over arbitrary file contents. The input holds the
// section name on its first line, the key on its second and the file after.
#include "agent/ini_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string section = fuzz::TakeLine(data, size, 64);
    std::string key = fuzz::TakeLine(data, size, 64);
    fuzz::WriteScratch(data, size);

    CINIFile ini(fuzz::ScratchPath().c_str());
    std::string value = ini.GetString(section.c_str(), key.c_str(), "default");
    if (value.size() > 255) fuzz::Fail("string value longer than 255 characters");
    ini.GetInt(section.c_str(), key.c_str(), -7);
    // The keys the agent itself reads.
    ini.GetInt("Communications", "CommunicationsBaudRate", 0);
    ini.GetString("Communications", "CommunicationsPort", "COM1:");
    ini.GetString("Network", "Passwd", "Wopra3");
    ini.GetInt("NetXCP", "AgentPort", 7010);
    return 0;
}
