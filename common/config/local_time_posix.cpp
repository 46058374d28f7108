#include <time.h>

#include "common/config/local_time.h"

namespace cfg {

bool LocalTime(long seconds, struct tm* out) {
    time_t t = static_cast<time_t>(seconds);
    return ::localtime_r(&t, out) != nullptr;
}

}  // namespace cfg
