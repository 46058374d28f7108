// Waiting for a condition in tests: a bounded poll, never a bare sleep.
#pragma once
#include <cstdint>
#include <functional>

// True as soon as `condition` holds; false when it still does not after `ms`
// (it is asked once more at the end).
bool WaitFor(const std::function<bool()>& condition, uint32_t ms = 5000);
