// CDateTime made from text ("month/day/year hours:minutes:seconds"), then
// formatted, under a time zone with daylight saving.
#include <cstdlib>
#include <ctime>
#include <string>

#include "common/config/date_time.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A rule-based zone, so no zone files are needed and every run agrees.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool zoneSet = LLVMFuzzerInitialize(nullptr, nullptr) == 0;
    (void)zoneSet;
    std::string text(reinterpret_cast<const char*>(data), size);
    CDateTime when(text.c_str());
    if (when.DbFormat().size() > 255) fuzz::Fail("formatted text over 255 characters");
    when.DateFormat();
    when.TimeFormat();
    when.UiFormat();
    when.AddOneDay();
    when.InternatFormat();
    return 0;
}
