// The INI file profile over arbitrary file contents: reads of every type,
// then a write, then the written value read back. The input holds the
// section name on its first line, the key on its second and the file after.
#include <cctype>

#include "common/config/ini_profile.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string section = fuzz::TakeLine(data, size, 64);
    std::string key = fuzz::TakeLine(data, size, 64);
    fuzz::WriteScratch(data, size);

    CINIProfile profile("fuzz");
    profile.Set("Dynamic", "INIFile", fuzz::ScratchPath().c_str());
    const char* s = section.c_str();
    const char* k = key.c_str();
    if (profile.GetString(s, k, "", false).size() > 255) fuzz::Fail("string value over 255");
    profile.GetBool(s, k, true, false);
    profile.GetInt(s, k, 3, false);
    profile.GetReal(s, k, 1.5, false);
    profile.GetDateTime(s, k, 42, false);
    // Names the format cannot hold are looked for too: they must find nothing
    // harmful.
    const char* oddNames[] = {"", "[", "=", "a b", "]"};
    for (const char* odd : oddNames) {
        profile.GetString(odd, k, "d", false);
        profile.GetInt(s, odd, 1, false);
    }

    // A write over the same contents, and a read of what it left. Names the
    // format cannot hold (empty, or with "=", brackets or blanks) are left out.
    if (section.empty() || key.empty()) return 0;
    for (char c : section + key) {
        if (c == '=' || c == ']' || c == '[' || isspace(static_cast<unsigned char>(c))) return 0;
    }
    profile.Set(s, k, "written value");
    profile.Set(s, "Number", 7010);
    // A fresh profile has no cache: it reads the rewritten file. (The value
    // need not be the one written: an older entry with blanks before its "="
    // comes first, as the format has it.)
    CINIProfile fresh("fresh");
    fresh.Set("Dynamic", "INIFile", fuzz::ScratchPath().c_str());
    fresh.GetString(s, k, "", false);
    fresh.GetInt(s, "Number", 0, false);
    return 0;
}
