// The event-log entry type of a message id: its two severity bits alone.
#pragma once
#include <cstdint>

// 0 success gives 0, 1 informational gives 4, 2 warning 2, 3 error 1.
uint16_t EventTypeForMessage(unsigned long id);
