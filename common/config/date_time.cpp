#include "common/config/date_time.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/config/local_time.h"

namespace {

// strtok-style field: skips leading delimiters, then takes everything up to
// the next delimiter (consumed) or the end. False when no field is left.
bool NextField(const char*& p, const char* delims, std::string& field) {
    while (*p != '\0' && std::strchr(delims, *p) != nullptr) ++p;
    if (*p == '\0') return false;
    const char* start = p;
    while (*p != '\0' && std::strchr(delims, *p) == nullptr) ++p;
    field.assign(start, p);
    if (*p != '\0') ++p;
    return true;
}

// atoi without its undefined overflow: out-of-range numbers stop at the
// int limits, where mktime then reports the error value.
int ToInt(const std::string& field) {
    long v = std::strtol(field.c_str(), nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

int Clamp(long long v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// strftime that does not give up on a text longer than the caller's buffer:
// it grows its own, up to a bound, so that the cut happens at the end.
std::string Strftime(const char* format, const struct tm* when) {
    if (format == nullptr || *format == '\0') return std::string();
    std::vector<char> buf(CDateTime::kTextSize);
    while (true) {
        size_t n = std::strftime(buf.data(), buf.size(), format, when);
        if (n > 0) return std::string(buf.data(), n);
        if (buf.size() >= 16 * 1024) return std::string();
        buf.resize(buf.size() * 4);
    }
}

}  // namespace

CDateTime::CDateTime() : m_bAdjust(false), m_nSeconds(static_cast<long>(std::time(nullptr))) {
    m_szText[0] = '\0';
}

CDateTime::CDateTime(struct tm* when) : m_bAdjust(false), m_nSeconds(kError) {
    m_szText[0] = '\0';
    if (when != nullptr) m_nSeconds = static_cast<long>(std::mktime(when));
}

CDateTime::CDateTime(long seconds) : m_bAdjust(false), m_nSeconds(seconds) { m_szText[0] = '\0'; }

CDateTime::CDateTime(unsigned long seconds)
    : m_bAdjust(false), m_nSeconds(static_cast<long>(seconds)) {
    m_szText[0] = '\0';
}

CDateTime::CDateTime(const char* text) : m_bAdjust(true), m_nSeconds(kError) {
    m_szText[0] = '\0';
    if (text == nullptr) return;
    size_t len = 0;
    while (len <= static_cast<size_t>(kMaxTextLength) && text[len] != '\0') ++len;
    if (len > static_cast<size_t>(kMaxTextLength)) return;

    static const char* const kDelims[6] = {"/", "/", " ", ":", ":", " "};
    int fields[6];
    const char* p = text;
    std::string field;
    for (int i = 0; i < 6; ++i) {
        if (!NextField(p, kDelims[i], field)) return;
        fields[i] = ToInt(field);
    }
    struct tm when {};
    when.tm_mon = Clamp(static_cast<long long>(fields[0]) - 1);
    when.tm_mday = fields[1];
    when.tm_year = Clamp(static_cast<long long>(fields[2]) - 1900);
    when.tm_hour = fields[3];
    when.tm_min = fields[4];
    when.tm_sec = fields[5];
    when.tm_isdst = -1;
    m_nSeconds = static_cast<long>(std::mktime(&when));
}

CDateTime::CDateTime(const CDateTime& other) : m_bAdjust(false), m_nSeconds(other.m_nSeconds) {
    m_szText[0] = '\0';
}

CDateTime& CDateTime::operator=(const CDateTime& other) {
    m_nSeconds = other.m_nSeconds;
    return *this;
}

CDateTime::~CDateTime() = default;

std::string CDateTime::Build(const struct tm* when, const char* format, va_list* args) {
    std::string pattern = Strftime(format, when);
    if (args == nullptr) {
        size_t n = pattern.copy(m_szText, kTextSize - 1);
        m_szText[n] = '\0';
    } else if (std::vsnprintf(m_szText, kTextSize, pattern.c_str(), *args) < 0) {
        m_szText[0] = '\0';
    }
    return m_szText;
}

std::string CDateTime::BuildLocal(long seconds, const char* format, va_list* args) {
    struct tm when {};
    if (!cfg::LocalTime(seconds, &when)) {
        // A value the runtime cannot show as local time formats as nothing.
        m_szText[0] = '\0';
        return std::string();
    }
    return Build(&when, format, args);
}

std::string CDateTime::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string r = BuildLocal(m_nSeconds, format, &args);
    va_end(args);
    return r;
}

std::string CDateTime::Format(const struct tm* when, const char* format, ...) {
    if (when == nullptr) {
        m_szText[0] = '\0';
        return std::string();
    }
    va_list args;
    va_start(args, format);
    std::string r = Build(when, format, &args);
    va_end(args);
    return r;
}

std::string CDateTime::UiFormat() {
    struct tm when {};
    if (!cfg::LocalTime(m_nSeconds, &when)) {
        m_szText[0] = '\0';
        return std::string();
    }
    const char* suffix = "th";
    switch (when.tm_mday) {
        case 1:
        case 21:
        case 31:
            suffix = "st";
            break;
        case 2:
        case 22:
            suffix = "nd";
            break;
        case 3:
        case 23:
            suffix = "rd";
            break;
        default:
            break;
    }
    return Format(&when, "%A %B %d%%s %Y at %H:%M", suffix);
}

std::string CDateTime::InternatFormat() {
    return BuildLocal(m_nSeconds, "%Y/%m/%d %H:%M", nullptr);
}

std::string CDateTime::DbFormat() {
    return BuildLocal(AdjustTime(m_nSeconds), "%m/%d/%Y %H:%M:%S", nullptr);
}

std::string CDateTime::DateFormat() {
    return BuildLocal(AdjustTime(m_nSeconds), "%Y-%m-%d", nullptr);
}

std::string CDateTime::TimeFormat() {
    return BuildLocal(AdjustTime(m_nSeconds), "%H:%M:%S", nullptr);
}

long CDateTime::AdjustTime(long seconds) const {
    if (!m_bAdjust) return seconds;
    long now = static_cast<long>(std::time(nullptr));
    if (cfg::IsDaylightSaving(now) && !cfg::IsDaylightSaving(seconds)) return seconds - 3600;
    return seconds;
}

void CDateTime::Step(long long delta) {
    bool wasDst = cfg::IsDaylightSaving(m_nSeconds);
    long long next = static_cast<long long>(m_nSeconds) + delta;
    // The seconds type wraps like the runtime's time value rather than
    // overflow undefined.
    m_nSeconds = static_cast<long>(static_cast<unsigned long>(next));
    bool isDst = cfg::IsDaylightSaving(m_nSeconds);
    if (!wasDst && isDst) m_nSeconds -= 3600;
    if (wasDst && !isDst) m_nSeconds += 3600;
}

void CDateTime::AddSeconds(int count) { Step(count); }
void CDateTime::AddMinutes(int count) { Step(static_cast<long long>(count) * 60); }
void CDateTime::AddOneDay() { Step(86400); }
void CDateTime::AddOneWeek() { Step(604800); }
