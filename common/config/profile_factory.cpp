// The profile factory, apart from the base class's file: only this file
// knows the kinds of profile there are.
#include <cstring>
#include <new>

#include "common/config/ini_profile.h"
#include "common/config/profile.h"

CProfile* CProfile::Create(const char* name, const char* type) {
    if (type == nullptr || std::strcmp(type, CINIProfile::GetType()) != 0) return nullptr;
    try {
        return new CINIProfile(name);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
