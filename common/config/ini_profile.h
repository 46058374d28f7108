// CINIProfile: a profile backed by an INI file. Each getter consults the
// cache first and reads the file only for a value not cached; each Set
// updates the cache and then the file, except in section "Dynamic".
//
// The file's path is itself a run-time value: "Dynamic"/"INIFile". Until it
// is set, reads give their defaults and writes reach only the cache.
#pragma once
#include <cstdio>
#include <string>

#include "common/config/profile.h"
#include "common/pellux_api.h"

class PELLUX_API CINIProfile : public CProfile {
public:
    explicit CINIProfile(const char* name);
    CINIProfile(const CINIProfile& other);
    CINIProfile& operator=(const CINIProfile& other);
    ~CINIProfile() override;

    // From the file when not cached; `def` when missing or not a number. With
    // `cache` the result (even `def`) is cached, and later file edits go unseen.
    std::string GetString(const char* section, const char* key, const char* def,
                          bool cache) override;
    bool GetBool(const char* section, const char* key, bool def, bool cache) override;
    int GetInt(const char* section, const char* key, int def, bool cache) override;
    double GetReal(const char* section, const char* key, double def, bool cache) override;
    CDateTime GetDateTime(const char* section, const char* key, unsigned long def,
                          bool cache) override;

    // A value with a line end or too long to read back stays in the cache only;
    // a failed file write is not reported.
    void Set(const char* section, const char* key, const CDateTime& value) override;
    void Set(const char* section, const char* key, int value) override;
    void Set(const char* section, const char* key, double value) override;
    void Set(const char* section, const char* key, bool value) override;
    void Set(const char* section, const char* key, const char* value) override;

    // The type name under which CProfile::Create builds this kind.
    static const char* GetType();

private:
    // "Dynamic"/"INIFile"; "" until it is set.
    std::string Path();
    // The file opened and positioned after the section's header line, or null;
    // the caller closes it.
    FILE* FindSection(const char* section);
    // The file opened and positioned just after the "=" of the entry, or null;
    // the caller closes it.
    FILE* FindEntry(const char* section, const char* key);
    // Does nothing without a path or for a text the format cannot hold.
    void Write(const char* section, const char* key, const char* value);
};
