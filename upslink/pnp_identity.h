// Parsing of a serial Plug and Play identification string.
#pragma once
#include <cstdint>

#include "upslink/serial_link.h"

// Zeroes `identity`, then fills it from the first identification string in
// `bytes` (normal form, started by "(", or six-bit form, started by 0x08).
// Reads nothing outside the `count` bytes; a string cut short keeps what was
// filled before its end.
void ParsePnpIdentity(const uint8_t* bytes, uint32_t count, PnpIdentity& identity);
