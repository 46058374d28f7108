#include "common/config/local_time.h"

namespace cfg {

bool IsDaylightSaving(long seconds) {
    struct tm t {};
    return LocalTime(seconds, &t) && t.tm_isdst > 0;
}

}  // namespace cfg
