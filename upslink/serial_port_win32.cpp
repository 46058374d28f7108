#include <cstring>

#include "platform/windows_wrapper.h"
#include "upslink/serial_port.h"

namespace {
HANDLE H(PortHandle port) { return static_cast<HANDLE>(port); }

// How long one wait for input sleeps: the port's reads return at once and
// the synchronous handle offers no wait with a time limit, so a waiting
// reader sleeps in slices this short between its reads.
constexpr DWORD kWaitSliceMs = 5;
}  // namespace

PortHandle OpenPort(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? InvalidPort() : static_cast<PortHandle>(h);
}

void ClosePort(PortHandle port) { CloseHandle(H(port)); }

bool ConfigurePort(PortHandle port, uint32_t baud, uint32_t dataBits, uint32_t parityIndex,
                   uint32_t stopIndex) {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(H(port), &dcb)) {
        (void)GetLastError();
        return false;
    }
    std::string mode = BuildModeString(baud, dataBits, parityIndex, stopIndex);
    if (!BuildCommDCBA(mode.c_str(), &dcb) || !SetCommState(H(port), &dcb)) {
        (void)GetLastError();
        return false;
    }
    COMMTIMEOUTS timeouts;
    if (!GetCommTimeouts(H(port), &timeouts)) {
        (void)GetLastError();
        return false;
    }
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(H(port), &timeouts)) {
        (void)GetLastError();
        return false;
    }
    return true;
}

bool ReadPort(PortHandle port, void* buffer, uint32_t count, uint32_t& got) {
    DWORD n = 0;
    BOOL ok = ReadFile(H(port), buffer, count, &n, nullptr);
    got = n;
    return ok != FALSE;
}

uint32_t ReadAvailable(PortHandle port, void* buffer, uint32_t count) {
    DWORD n = 0;
    if (!ReadFile(H(port), buffer, count, &n, nullptr)) return 0;
    return n;
}

bool WritePort(PortHandle port, const void* buffer, uint32_t count, uint32_t& written) {
    DWORD n = 0;
    BOOL ok = WriteFile(H(port), buffer, count, &n, nullptr);
    written = n;
    return ok != FALSE;
}

bool GetModemLine(PortHandle port, int pin) {
    DWORD status = 0;
    GetCommModemStatus(H(port), &status);  // its result is deliberately ignored
    switch (pin) {
        case kPinDcd: return (status & MS_RLSD_ON) != 0;
        case kPinDsr: return (status & MS_DSR_ON) != 0;
        case kPinCts: return (status & MS_CTS_ON) != 0;
        case kPinRi: return (status & MS_RING_ON) != 0;
        default: return false;
    }
}

bool SetControlLine(PortHandle port, int pin, bool on) {
    switch (pin) {
        case kPinDtr: return EscapeCommFunction(H(port), on ? SETDTR : CLRDTR) != FALSE;
        case kPinRts: return EscapeCommFunction(H(port), on ? SETRTS : CLRRTS) != FALSE;
        default: return false;
    }
}

bool PortPresent(PortHandle port) {
    // The status query fails once the device behind the handle is gone
    // (a USB adapter pulled out); it changes nothing on a working port.
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(H(port), &errors, &status) != 0;
}

bool WaitReadable(PortHandle, uint32_t ms) {
    Sleep(ms < kWaitSliceMs ? ms : kWaitSliceMs);
    return false;
}
