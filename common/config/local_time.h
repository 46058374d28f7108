// Seconds to local broken-down time, safe to call from several threads.
#pragma once
#include <ctime>

namespace cfg {

// False when the runtime cannot represent `seconds` as local time.
bool LocalTime(long seconds, struct tm* out);

// True when `seconds` falls in daylight-saving time; false also when the
// runtime cannot convert it.
bool IsDaylightSaving(long seconds);

}  // namespace cfg
