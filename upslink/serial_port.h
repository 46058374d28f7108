// The serial port layer: open a port by name, set the line format from four
// numbers, single reads and writes that return at once, and the modem lines by
// their DE-9 pin numbers. No exceptions, and no state beyond the byte a wait
// may have read ahead (see WaitReadable): the serial link owns the handle and
// decides what each failure becomes.
#pragma once
#include <cstdint>
#include <string>

// A port handle: the Win32 file handle, or the descriptor on POSIX. Both use
// the all-ones pointer (INVALID_HANDLE_VALUE) for "no port".
using PortHandle = void*;
inline PortHandle InvalidPort() { return reinterpret_cast<PortHandle>(static_cast<intptr_t>(-1)); }

// DE-9 pins of the modem lines.
constexpr int kPinDcd = 1;
constexpr int kPinDtr = 4;
constexpr int kPinDsr = 6;
constexpr int kPinRts = 7;
constexpr int kPinCts = 8;
constexpr int kPinRi = 9;

// Letters and texts the line format indices select (parity "EMNOS", stop
// bits "1", "1.5", "2").
char ParityLetter(uint32_t parityIndex);
const char* StopBitsText(uint32_t stopIndex);
// "baud=%u parity=%c data=%u stop=%s"
std::string BuildModeString(uint32_t baud, uint32_t dataBits, uint32_t parityIndex,
                            uint32_t stopIndex);

// InvalidPort() on failure, with the reason left in plat::LastError().
PortHandle OpenPort(const char* name);
void ClosePort(PortHandle port);
// Line format with flow control off both ways (every byte value is data; DTR
// and RTS stay plain outputs), plus reads that return at once with what has
// arrived.
bool ConfigurePort(PortHandle port, uint32_t baud, uint32_t dataBits, uint32_t parityIndex,
                   uint32_t stopIndex);
// False only on a real failure; nothing waiting is true with `got` 0.
bool ReadPort(PortHandle port, void* buffer, uint32_t count, uint32_t& got);
// Bytes delivered, 0 when the read fails.
uint32_t ReadAvailable(PortHandle port, void* buffer, uint32_t count);
// Blocks until all `count` bytes are written or the write fails.
bool WritePort(PortHandle port, const void* buffer, uint32_t count, uint32_t& written);
// An input pin (DCD, DSR, CTS, RI); off when the port cannot report it.
bool GetModemLine(PortHandle port, int pin);
// An output pin (DTR, RTS); false for any other pin or when refused.
bool SetControlLine(PortHandle port, int pin, bool on);

// Whether the open port is still there: false when the platform reports the
// line hung up or the device gone, with the reason left in plat::LastError().
bool PortPresent(PortHandle port);

// A cheap look, without opening it, whether a port of this name exists now
// (a device file, or a device name the system knows). True when the platform
// cannot tell, so that a caller never waits on a wrong "absent".
bool PortNamePresent(const std::string& name);

// Blocks until input may be waiting or `ms` have passed, and returns the
// moment a byte arrives. True when input is waiting; false after the time (or
// when the platform cannot tell, so that the caller reads again). Where the
// platform can only wait by reading (Win32), the byte it read is kept and
// delivered first by the next read, so nothing is lost or reordered.
bool WaitReadable(PortHandle port, uint32_t ms);

// Where a port name leads on systems whose ports are device files: "COMn" and
// "COMn:" (any letter case, n from 1) are /dev/ttyS(n-1); any other name is a
// path used as given.
std::string PortDevicePath(const std::string& name);
