// Waiting for a condition in tests: a bounded poll, never a bare sleep.
#pragma once
#include <cstdint>
#include <functional>

#include "platform/clock.h"

// True as soon as `condition` holds; false when it still does not after `ms`.
inline bool WaitFor(const std::function<bool()>& condition, uint32_t ms = 5000) {
    uint32_t start = plat::TickCount();
    for (;;) {
        if (condition()) return true;
        if (plat::TickCount() - start > ms) return false;
        plat::SleepMs(2);
    }
}
