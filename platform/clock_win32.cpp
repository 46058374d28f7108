#include "platform/clock.h"
#include "platform/windows_wrapper.h"

namespace plat {

uint32_t TickCount() { return ::GetTickCount(); }

void SleepMs(uint32_t ms) { ::Sleep(ms); }

}  // namespace plat
