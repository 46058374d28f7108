// Milliseconds: a 32-bit tick count that wraps like GetTickCount, and sleeps.
#pragma once
#include <cstdint>

namespace plat {

// Milliseconds since an arbitrary start; compare by difference, never by size.
uint32_t TickCount();
void SleepMs(uint32_t ms);

}  // namespace plat
