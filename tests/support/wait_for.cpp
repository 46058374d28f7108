#include "wait_for.h"

#include "platform/clock.h"

bool WaitFor(const std::function<bool()>& condition, uint32_t ms) {
    uint32_t start = plat::TickCount();
    for (;;) {
        if (condition()) return true;
        if (plat::TickCount() - start >= ms) return condition();
        plat::SleepMs(5);
    }
}
