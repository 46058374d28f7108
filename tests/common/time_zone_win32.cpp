#include <stdlib.h>
#include <time.h>

#include "time_zone.h"

namespace testtz {

// The runtime reads TZ as name, hours west of UTC and a daylight-saving
// name, and then applies the US rules (checked under Wine 8).
void UseEasternTime() {
    ::_putenv("TZ=EST5EDT");
    ::_tzset();
}

// Left alone: under Wine, a _tzset without TZ on a host zone without daylight
// saving clears the daylight-saving bias for good, and a later TZ with a
// daylight-saving name would then shift the clock by nothing. The zone set
// for the tests stays until the test program ends.
void RestoreTimeZone() {}

}  // namespace testtz
