#include "fuzz/scripted_port.h"

#include <cerrno>
#include <cstring>

#include "upslink/serial_port.h"

namespace {

const uint8_t* g_Bytes = nullptr;
size_t g_nLeft = 0;
size_t g_nWritten = 0;
int g_nHandle = 3;

}  // namespace

namespace fuzz {

void ScriptPort(const uint8_t* bytes, size_t count) {
    g_Bytes = bytes;
    g_nLeft = count;
    g_nWritten = 0;
}

size_t PortBytesWritten() { return g_nWritten; }

}  // namespace fuzz

PortHandle OpenPort(const char*) { return &g_nHandle; }
void ClosePort(PortHandle) {}
bool ConfigurePort(PortHandle, uint32_t, uint32_t, uint32_t, uint32_t) { return true; }

bool ReadPort(PortHandle, void* buffer, uint32_t count, uint32_t& got) {
    got = 0;
    if (g_nLeft == 0) {
        errno = EIO;  // the port is gone
        return false;
    }
    got = count < g_nLeft ? count : static_cast<uint32_t>(g_nLeft);
    std::memcpy(buffer, g_Bytes, got);
    g_Bytes += got;
    g_nLeft -= got;
    return true;
}

uint32_t ReadAvailable(PortHandle port, void* buffer, uint32_t count) {
    uint32_t got = 0;
    return ReadPort(port, buffer, count, got) ? got : 0;
}

bool WritePort(PortHandle, const void*, uint32_t count, uint32_t& written) {
    g_nWritten += count;
    written = count;
    return true;
}

bool GetModemLine(PortHandle, int) { return false; }
bool SetControlLine(PortHandle, int, bool) { return true; }
bool PortPresent(PortHandle) { return true; }
bool PortNamePresent(const std::string&) { return true; }
bool WaitReadable(PortHandle, uint32_t) { return true; }
