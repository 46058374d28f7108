// CProfile: the configuration interface of the framework. Values are
// addressed by section and key and kept in five typed caches; derived kinds
// (CINIProfile) put a file behind them.
//
// The section "Dynamic" (exact letter case) holds run-time values that never
// reach a file. All five types behave alike there: the probes always report
// such a value as cached, and a read gives the value last Set, or the
// caller's default when none was. So a derived profile never reads or writes
// "Dynamic" in its file, whatever the type.
#pragma once
#include <map>
#include <string>

#include "common/config/date_time.h"
#include "common/pellux_api.h"

class PELLUX_API CProfile {
public:
    // The reserved section of run-time values.
    static const char* const kDynamic;

    explicit CProfile(const char* name);
    CProfile(const CProfile& other);
    CProfile& operator=(const CProfile& other);
    virtual ~CProfile();

    // The cached value, else `def`. The base never reads a file; the cache
    // flag matters only to derived kinds. A null section or key has no value;
    // a null default text reads as "".
    virtual std::string GetString(const char* section, const char* key, const char* def,
                                  bool cache);
    virtual bool GetBool(const char* section, const char* key, bool def, bool cache);
    virtual int GetInt(const char* section, const char* key, int def, bool cache);
    virtual double GetReal(const char* section, const char* key, double def, bool cache);
    virtual CDateTime GetDateTime(const char* section, const char* key, unsigned long def,
                                  bool cache);

    // Stores the value in its type's cache, replacing an earlier one. A null
    // section or key is ignored; a null text is stored as "".
    virtual void Set(const char* section, const char* key, const CDateTime& value);
    virtual void Set(const char* section, const char* key, int value);
    virtual void Set(const char* section, const char* key, double value);
    virtual void Set(const char* section, const char* key, bool value);
    virtual void Set(const char* section, const char* key, const char* value);

    // A new profile of the kind named `type` ("INIFile"), owned by the
    // caller; null for any other type.
    static CProfile* Create(const char* name, const char* type);

    const std::string& GetName() const { return m_strName; }

protected:
    // True when the type's cache holds the key, and always in "Dynamic".
    bool IsStringCached(const char* section, const char* key) const;
    bool IsBoolCached(const char* section, const char* key) const;
    bool IsIntCached(const char* section, const char* key) const;
    bool IsRealCached(const char* section, const char* key) const;
    bool IsDateTimeCached(const char* section, const char* key) const;

    // Exact letter case only; a null section is not.
    static bool IsDynamic(const char* section);

private:
    template <typename T>
    using Cache = std::map<std::string, std::map<std::string, T>>;

    std::string m_strName;
    Cache<std::string> m_StringCache;
    Cache<bool> m_BoolCache;
    Cache<double> m_RealCache;
    Cache<int> m_IntCache;
    Cache<CDateTime> m_DateTimeCache;
};
