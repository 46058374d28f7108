#include "common/config/profile.h"

#include <cstring>

namespace {

template <typename Map>
bool Holds(const Map& cache, const char* section, const char* key) {
    if (section == nullptr || key == nullptr) return false;
    auto s = cache.find(section);
    return s != cache.end() && s->second.count(key) != 0;
}

// The cached value, or `def`; the value itself is never created by a read.
template <typename Map, typename T>
T Lookup(const Map& cache, const char* section, const char* key, const T& def) {
    if (section == nullptr || key == nullptr) return def;
    auto s = cache.find(section);
    if (s == cache.end()) return def;
    auto k = s->second.find(key);
    return k == s->second.end() ? def : k->second;
}

template <typename Map, typename T>
void Store(Map& cache, const char* section, const char* key, const T& value) {
    if (section == nullptr || key == nullptr) return;
    auto& inner = cache[section];
    auto k = inner.find(key);
    if (k == inner.end()) {
        inner.emplace(key, value);
    } else {
        k->second = value;
    }
}

}  // namespace

const char* const CProfile::kDynamic = "Dynamic";

CProfile::CProfile(const char* name) : m_strName(name != nullptr ? name : "") {}

CProfile::CProfile(const CProfile& other) = default;

CProfile& CProfile::operator=(const CProfile& other) = default;

CProfile::~CProfile() = default;

bool CProfile::IsDynamic(const char* section) {
    return section != nullptr && std::strcmp(section, kDynamic) == 0;
}

bool CProfile::IsStringCached(const char* section, const char* key) const {
    return IsDynamic(section) || Holds(m_StringCache, section, key);
}

bool CProfile::IsBoolCached(const char* section, const char* key) const {
    return IsDynamic(section) || Holds(m_BoolCache, section, key);
}

bool CProfile::IsIntCached(const char* section, const char* key) const {
    return IsDynamic(section) || Holds(m_IntCache, section, key);
}

bool CProfile::IsRealCached(const char* section, const char* key) const {
    return IsDynamic(section) || Holds(m_RealCache, section, key);
}

bool CProfile::IsDateTimeCached(const char* section, const char* key) const {
    return IsDynamic(section) || Holds(m_DateTimeCache, section, key);
}

std::string CProfile::GetString(const char* section, const char* key, const char* def, bool) {
    return Lookup(m_StringCache, section, key, std::string(def != nullptr ? def : ""));
}

bool CProfile::GetBool(const char* section, const char* key, bool def, bool) {
    return Lookup(m_BoolCache, section, key, def);
}

int CProfile::GetInt(const char* section, const char* key, int def, bool) {
    return Lookup(m_IntCache, section, key, def);
}

double CProfile::GetReal(const char* section, const char* key, double def, bool) {
    return Lookup(m_RealCache, section, key, def);
}

CDateTime CProfile::GetDateTime(const char* section, const char* key, unsigned long def, bool) {
    return Lookup(m_DateTimeCache, section, key, CDateTime(def));
}

void CProfile::Set(const char* section, const char* key, const CDateTime& value) {
    Store(m_DateTimeCache, section, key, value);
}

void CProfile::Set(const char* section, const char* key, int value) {
    Store(m_IntCache, section, key, value);
}

void CProfile::Set(const char* section, const char* key, double value) {
    Store(m_RealCache, section, key, value);
}

void CProfile::Set(const char* section, const char* key, bool value) {
    Store(m_BoolCache, section, key, value);
}

void CProfile::Set(const char* section, const char* key, const char* value) {
    Store(m_StringCache, section, key, std::string(value != nullptr ? value : ""));
}
