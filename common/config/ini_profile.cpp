#include "common/config/ini_profile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/config/ini_format.h"
#include "common/framework/brx_runtime.h"

namespace {

// Numbers are formatted into a buffer of this size before they are written.
// Twenty bytes held every 32-bit number; a 64-bit unsigned long needs twenty
// digits and the terminator, or a date-time before 1970 (the error value
// among them) would be cut into some other number.
constexpr size_t kNumberBuffer = 21;

// The longest line the format reads back whole: a line and its line end must
// fit one piece of the line buffer, or its tail would be read as a line of
// its own (and could pass for a header or an entry).
constexpr size_t kLongestLine = ini::kLineBuffer - 2;

bool HasLineEnd(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

// The text of a value after "=", without the line end (a carriage return
// before the line feed included).
bool ReadValueText(FILE* stream, std::string& text) {
    if (!ini::ReadRestOfLine(stream, text)) return false;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return true;
}

// A decimal integer as "%d" reads it: leading blanks, a sign, digits; what
// follows the digits is ignored. False when there are no digits or the
// number is out of the int range.
bool ParseInt(const std::string& text, int& out) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(start, &end, 10);
    if (end == start || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseReal(const std::string& text, double& out) {
    const char* start = text.c_str();
    char* end = nullptr;
    double v = std::strtod(start, &end);
    if (end == start) return false;
    out = v;
    return true;
}

// As "%lu" reads it (a leading minus sign wraps around, as there).
bool ParseSeconds(const std::string& text, unsigned long& out) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(start, &end, 10);
    if (end == start || errno == ERANGE) return false;
    out = v;
    return true;
}

}  // namespace

CINIProfile::CINIProfile(const char* name) : CProfile(name) {}

CINIProfile::CINIProfile(const CINIProfile& other) = default;

CINIProfile& CINIProfile::operator=(const CINIProfile& other) = default;

CINIProfile::~CINIProfile() = default;

const char* CINIProfile::GetType() { return "INIFile"; }

std::string CINIProfile::Path() { return GetString(kDynamic, "INIFile", "", false); }

FILE* CINIProfile::FindSection(const char* section) {
    std::string path = Path();
    if (path.empty() || section == nullptr) return nullptr;
    return ini::FindSection(path.c_str(), section, ini::HeaderStyle::LeadingBlanks).Release();
}

FILE* CINIProfile::FindEntry(const char* section, const char* key) {
    std::string path = Path();
    if (path.empty() || section == nullptr || key == nullptr) return nullptr;
    return ini::FindEntry(path.c_str(), section, key, ini::HeaderStyle::LeadingBlanks).Release();
}

// Values that the format cannot hold faithfully stay in the cache only: a
// line end inside a name or value would make lines of its own, and a line
// too long to be read back whole would have its tail taken for a line.
void CINIProfile::Write(const char* section, const char* key, const char* value) {
    std::string path = Path();
    if (path.empty()) return;
    if (HasLineEnd(section) || HasLineEnd(key) || HasLineEnd(value)) return;
    if (std::strlen(section) + 2 > kLongestLine) return;
    if (std::strlen(key) + 1 + std::strlen(value) > kLongestLine) return;
    ini::Write(path.c_str(), section, key, value, ini::HeaderStyle::LeadingBlanks);
}

std::string CINIProfile::GetString(const char* section, const char* key, const char* def,
                                   bool cache) {
    if (IsStringCached(section, key)) return CProfile::GetString(section, key, def, cache);
    std::string result = def != nullptr ? def : "";
    ini::FilePtr entry(FindEntry(section, key));
    std::string text;
    if (entry && ReadValueText(entry.Get(), text)) result = text;
    if (cache) CProfile::Set(section, key, result.c_str());
    return result;
}

bool CINIProfile::GetBool(const char* section, const char* key, bool def, bool cache) {
    if (IsBoolCached(section, key)) return CProfile::GetBool(section, key, def, cache);
    int n = def ? 1 : 0;
    ini::FilePtr entry(FindEntry(section, key));
    std::string text;
    int read = 0;
    if (entry && ReadValueText(entry.Get(), text) && ParseInt(text, read)) n = read;
    bool result = n != 0;
    if (cache) CProfile::Set(section, key, result);
    return result;
}

int CINIProfile::GetInt(const char* section, const char* key, int def, bool cache) {
    if (IsIntCached(section, key)) return CProfile::GetInt(section, key, def, cache);
    int result = def;
    ini::FilePtr entry(FindEntry(section, key));
    std::string text;
    int read = 0;
    if (entry && ReadValueText(entry.Get(), text) && ParseInt(text, read)) result = read;
    if (cache) CProfile::Set(section, key, result);
    return result;
}

double CINIProfile::GetReal(const char* section, const char* key, double def, bool cache) {
    if (IsRealCached(section, key)) return CProfile::GetReal(section, key, def, cache);
    double result = def;
    ini::FilePtr entry(FindEntry(section, key));
    std::string text;
    double read = 0;
    if (entry && ReadValueText(entry.Get(), text) && ParseReal(text, read)) result = read;
    if (cache) CProfile::Set(section, key, result);
    return result;
}

CDateTime CINIProfile::GetDateTime(const char* section, const char* key, unsigned long def,
                                   bool cache) {
    if (IsDateTimeCached(section, key)) return CProfile::GetDateTime(section, key, def, cache);
    unsigned long seconds = def;
    ini::FilePtr entry(FindEntry(section, key));
    std::string text;
    unsigned long read = 0;
    if (entry && ReadValueText(entry.Get(), text) && ParseSeconds(text, read)) seconds = read;
    CDateTime result(seconds);
    if (cache) CProfile::Set(section, key, result);
    return result;
}

void CINIProfile::Set(const char* section, const char* key, const CDateTime& value) {
    CProfile::Set(section, key, value);
    if (section == nullptr || key == nullptr || IsDynamic(section)) return;
    char text[kNumberBuffer];
    brx::sprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value.GetULONG()));
    Write(section, key, text);
}

void CINIProfile::Set(const char* section, const char* key, int value) {
    CProfile::Set(section, key, value);
    if (section == nullptr || key == nullptr || IsDynamic(section)) return;
    char text[kNumberBuffer];
    brx::sprintf(text, sizeof text, "%d", value);
    Write(section, key, text);
}

// "%f" as the format has it; a number whose six-decimal form does not fit
// the buffer is written with twelve significant digits and an exponent
// instead, which reads back close to the value, where a cut "%f" text would
// read back as a different number.
void CINIProfile::Set(const char* section, const char* key, double value) {
    CProfile::Set(section, key, value);
    if (section == nullptr || key == nullptr || IsDynamic(section)) return;
    char text[kNumberBuffer];
    int need = std::snprintf(nullptr, 0, "%f", value);
    if (need >= 0 && static_cast<size_t>(need) < sizeof text) {
        brx::sprintf(text, sizeof text, "%f", value);
    } else {
        brx::sprintf(text, sizeof text, "%.12g", value);
    }
    Write(section, key, text);
}

void CINIProfile::Set(const char* section, const char* key, bool value) {
    CProfile::Set(section, key, value);
    if (section == nullptr || key == nullptr || IsDynamic(section)) return;
    Write(section, key, value ? "1" : "0");
}

void CINIProfile::Set(const char* section, const char* key, const char* value) {
    CProfile::Set(section, key, value);
    if (section == nullptr || key == nullptr || IsDynamic(section)) return;
    Write(section, key, value != nullptr ? value : "");
}
