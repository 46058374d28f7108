// Puts the process in a time zone with daylight saving for a test:
// US Eastern (UTC-5, daylight saving from the second Sunday of March, 2:00,
// to the first Sunday of November, 2:00), as both runtimes understand it.
#pragma once

namespace testtz {

void UseEasternTime();
// Back to the zone the process started in.
void RestoreTimeZone();

}  // namespace testtz
