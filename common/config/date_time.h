// CDateTime: a point in time as seconds since 1970-01-01 00:00:00 UTC, with
// conversions from local time and text, calendar steps that keep the local
// clock time across daylight-saving changes, and fixed text layouts.
#pragma once
#include <cstdarg>
#include <ctime>
#include <string>

#include "common/pellux_api.h"

class PELLUX_API CDateTime {
public:
    // Capacity of the text buffer the formatters build their result in; a
    // longer result is cut to kTextSize - 1 characters.
    static constexpr int kTextSize = 256;
    // Longest text the text constructor accepts.
    static constexpr int kMaxTextLength = 27;
    // The runtime's error value: what a text or time that cannot be
    // represented gives as seconds.
    static constexpr long kError = -1;

    // The current time.
    CDateTime();
    // mktime of `when`, which it normalises in place; a null pointer gives
    // the error value.
    explicit CDateTime(struct tm* when);
    CDateTime(long seconds);
    CDateTime(unsigned long seconds);
    // Local time in the DbFormat layout "month/day/year hours:minutes:seconds".
    // Sets the adjust flag. Fewer than six fields, more than kMaxTextLength
    // characters or a null pointer give the error value.
    explicit CDateTime(const char* text);
    // Copies carry the seconds only: a copy has the adjust flag clear.
    CDateTime(const CDateTime& other);
    // Takes the seconds only; this object's flag and text buffer stay.
    CDateTime& operator=(const CDateTime& other);
    ~CDateTime();

    long GetULONG() const { return m_nSeconds; }

    bool operator==(const CDateTime& o) const { return m_nSeconds == o.m_nSeconds; }
    bool operator!=(const CDateTime& o) const { return m_nSeconds != o.m_nSeconds; }
    bool operator>(const CDateTime& o) const { return m_nSeconds > o.m_nSeconds; }
    bool operator<(const CDateTime& o) const { return m_nSeconds < o.m_nSeconds; }
    bool operator>=(const CDateTime& o) const { return m_nSeconds >= o.m_nSeconds; }
    bool operator<=(const CDateTime& o) const { return m_nSeconds <= o.m_nSeconds; }

    // strftime of the local time with `format`, whose result is then used as
    // a printf format for the further arguments ("%%" in `format` becomes a
    // placeholder). Cut to kTextSize - 1 characters.
    std::string Format(const char* format, ...);
    // The same for a broken-down time given by the caller.
    std::string Format(const struct tm* when, const char* format, ...);

    // "Monday June 22nd 2026 at 14:05"
    std::string UiFormat();
    // "2026/06/22 14:05"
    std::string InternatFormat();
    // "06/22/2026 14:05:00", of the adjusted time.
    std::string DbFormat();
    // "2026-06-22", of the adjusted time.
    std::string DateFormat();
    // "14:05:00", of the adjusted time.
    std::string TimeFormat();

    // Steps that keep the local clock time when they cross a change between
    // standard and daylight-saving time.
    void AddSeconds(int count);
    void AddMinutes(int count);
    void AddOneDay();
    void AddOneWeek();

protected:
    // `seconds` moved back an hour when this value came from text, the
    // current time is in daylight-saving time and `seconds` is not.
    long AdjustTime(long seconds) const;

private:
    // strftime of `when` into the text buffer; with `args`, the result is
    // then the printf format for them.
    std::string Build(const struct tm* when, const char* format, va_list* args);
    // "" when the runtime cannot show `seconds` as local time.
    std::string BuildLocal(long seconds, const char* format, va_list* args);
    // Moves by `delta` seconds, wrapping like the runtime's time value, then
    // undoes the hour a daylight-saving change would add or take.
    void Step(long long delta);

    bool m_bAdjust;
    long m_nSeconds;
    char m_szText[kTextSize];
};
