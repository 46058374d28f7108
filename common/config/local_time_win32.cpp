#include <time.h>

#include "common/config/local_time.h"

namespace cfg {

// The runtime's localtime keeps its result per thread; it refuses times
// before 1970 with a null pointer.
bool LocalTime(long seconds, struct tm* out) {
    time_t t = static_cast<time_t>(seconds);
    struct tm* r = ::localtime(&t);
    if (r == nullptr) return false;
    *out = *r;
    return true;
}

}  // namespace cfg
