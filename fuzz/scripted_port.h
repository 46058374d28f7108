// A serial port layer without a port, for the fuzz targets of the UPS link:
// reads deliver the scripted bytes, and a read after the last one fails the
// way a port that has gone away fails, so no run waits for a deadline.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fuzz {

// What the "UPS" sends from now on; the bytes must outlive the reads.
void ScriptPort(const uint8_t* bytes, size_t count);
// How many bytes the link wrote since the last ScriptPort.
size_t PortBytesWritten();

}  // namespace fuzz
