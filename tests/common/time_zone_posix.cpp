#include <stdlib.h>
#include <time.h>

#include <string>

#include "time_zone.h"

namespace testtz {
namespace {

bool g_bSaved = false;
bool g_bHadTz = false;
std::string g_strOldTz;

void Save() {
    if (g_bSaved) return;
    const char* old = ::getenv("TZ");
    g_bHadTz = old != nullptr;
    if (old != nullptr) g_strOldTz = old;
    g_bSaved = true;
}

}  // namespace

// The rules are spelled out so that no time-zone database is needed.
void UseEasternTime() {
    Save();
    ::setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    ::tzset();
}

void RestoreTimeZone() {
    if (!g_bSaved) return;
    if (g_bHadTz) {
        ::setenv("TZ", g_strOldTz.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

}  // namespace testtz
