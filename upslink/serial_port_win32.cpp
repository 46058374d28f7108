#include <cstring>
#include <map>
#include <mutex>

#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"
#include "upslink/serial_port.h"

namespace {
HANDLE H(PortHandle port) { return static_cast<HANDLE>(port); }

// A synchronous port handle has no wait with a time limit of its own; a read
// of one byte with a total time-out is one (and under Wine a poll on the
// line, so it ends the moment the byte arrives). The byte such a wait reads
// is kept here, per open port, and handed out first by the next read.
std::mutex g_HeldLock;
std::map<HANDLE, unsigned char> g_Held;

bool TakeHeld(HANDLE h, unsigned char& byte) {
    std::lock_guard<std::mutex> lock(g_HeldLock);
    auto it = g_Held.find(h);
    if (it == g_Held.end()) return false;
    byte = it->second;
    g_Held.erase(it);
    return true;
}

bool HasHeld(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_HeldLock);
    return g_Held.count(h) != 0;
}

void Hold(HANDLE h, unsigned char byte) {
    std::lock_guard<std::mutex> lock(g_HeldLock);
    g_Held[h] = byte;
}

void Forget(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_HeldLock);
    g_Held.erase(h);
}

// Reads return at once with what has arrived, possibly nothing.
bool SetImmediateReads(HANDLE h) {
    COMMTIMEOUTS timeouts;
    if (!GetCommTimeouts(h, &timeouts)) return false;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    return SetCommTimeouts(h, &timeouts) != FALSE;
}

// A read returns at once with what is waiting; with nothing waiting it
// returns as soon as a byte arrives, or empty after `ms`. Wine keeps only
// the total time of this form, so the wait reads one byte: with more asked
// for it would go on waiting for the rest.
bool SetWaitingReads(HANDLE h, DWORD ms) {
    COMMTIMEOUTS timeouts;
    if (!GetCommTimeouts(h, &timeouts)) return false;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = ms;
    return SetCommTimeouts(h, &timeouts) != FALSE;
}

// Bytes that have arrived and wait in the driver's queue.
bool InputWaiting(HANDLE h) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(h, &errors, &status) != 0 && status.cbInQue > 0;
}
}  // namespace

PortHandle OpenPort(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? InvalidPort() : static_cast<PortHandle>(h);
}

void ClosePort(PortHandle port) {
    plat::ScopedKernelHandle handle(H(port));
    Forget(handle.Get());
}

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
    if (!BuildCommDCBA(mode.c_str(), &dcb)) {
        (void)GetLastError();
        return false;
    }
    // A binary protocol: every byte value is data. Windows's BuildCommDCB
    // turns flow control off, Wine's keeps what the line had; a COM port
    // that Wine backs with a pseudo-terminal starts with XON/XOFF on (the
    // terminal's default) and would swallow every 0x11 and 0x13 of the
    // UPS's answers and stop sending at the first 0x13. DTR and RTS stay
    // plain outputs, on, as the Plug and Play handshake leaves them; it
    // drives them itself (a handshake or toggle mode would refuse that).
    dcb.fBinary = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(H(port), &dcb) || !SetImmediateReads(H(port))) {
        (void)GetLastError();
        return false;
    }
    return true;
}

bool ReadPort(PortHandle port, void* buffer, uint32_t count, uint32_t& got) {
    got = 0;
    if (count == 0) return true;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    unsigned char held = 0;
    if (TakeHeld(H(port), held)) {
        bytes[0] = held;
        got = 1;
    }
    DWORD n = 0;
    BOOL ok = count > got ? ReadFile(H(port), bytes + got, count - got, &n, nullptr) : TRUE;
    got += n;
    // A byte already handed out is delivered; a failure shows at the next read.
    return ok != FALSE || got != 0;
}

uint32_t ReadAvailable(PortHandle port, void* buffer, uint32_t count) {
    uint32_t got = 0;
    return ReadPort(port, buffer, count, got) ? got : 0;
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
        case kPinDcd:
            return (status & MS_RLSD_ON) != 0;
        case kPinDsr:
            return (status & MS_DSR_ON) != 0;
        case kPinCts:
            return (status & MS_CTS_ON) != 0;
        case kPinRi:
            return (status & MS_RING_ON) != 0;
        default:
            return false;
    }
}

bool SetControlLine(PortHandle port, int pin, bool on) {
    switch (pin) {
        case kPinDtr:
            return EscapeCommFunction(H(port), on ? SETDTR : CLRDTR) != FALSE;
        case kPinRts:
            return EscapeCommFunction(H(port), on ? SETRTS : CLRRTS) != FALSE;
        default:
            return false;
    }
}

bool PortPresent(PortHandle port) {
    // The status query fails once the device behind the handle is gone
    // (a USB adapter pulled out); it changes nothing on a working port.
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(H(port), &errors, &status) != 0;
}

bool PortNamePresent(const std::string& name) {
    // The system's device names ("COM3") are what a port's arrival and
    // removal change; asking for one opens nothing. "\\.\COM10" and "COM1:"
    // name the same devices.
    std::string device = name;
    if (device.compare(0, 4, "\\\\.\\") == 0) device.erase(0, 4);
    if (!device.empty() && device.back() == ':') device.pop_back();
    if (device.empty()) return false;
    char target[512];
    if (QueryDosDeviceA(device.c_str(), target, sizeof target) != 0) return true;
    const DWORD reason = GetLastError();
    return reason != ERROR_FILE_NOT_FOUND && reason != ERROR_PATH_NOT_FOUND;
}

bool WaitReadable(PortHandle port, uint32_t ms) {
    HANDLE h = H(port);
    if (HasHeld(h) || InputWaiting(h)) return true;
    if (ms == 0) return false;
    if (ms >= MAXDWORD) ms = MAXDWORD - 1;  // MAXDWORD itself is no time limit
    const DWORD start = GetTickCount();
    unsigned char byte = 0;
    DWORD n = 0;
    BOOL ok = SetWaitingReads(h, ms) && ReadFile(h, &byte, 1, &n, nullptr);
    // Back to reads that return at once whatever the wait did: the link's
    // reads rely on it.
    (void)SetImmediateReads(h);
    if (ok && n == 1) {
        Hold(h, byte);
        return true;
    }
    // A line that fails (hung up, gone) fails at once and for good: sleep
    // the time away rather than have the caller spin on it; its next read
    // or check reports the failure.
    if (!ok) {
        DWORD spent = GetTickCount() - start;
        if (spent < ms) Sleep(ms - spent);
    }
    return false;
}
