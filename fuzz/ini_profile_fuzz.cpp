// Any file content read through the INI profile, then writes and reads again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/config/ini_profile.h"

namespace {

std::string ScratchPath() {
    static const std::string path = "/tmp/qln_ini_profile_fuzz_" + std::to_string(::getpid()) + ".ini";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = ScratchPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    CINIProfile profile("fuzz");
    profile.Set("Dynamic", "INIFile", path.c_str());
    const char* sections[] = {"A", "Port", "", "[", "a b"};
    const char* keys[] = {"x", "Number", "", "=", "k k"};
    for (const char* s : sections) {
        for (const char* k : keys) {
            profile.GetString(s, k, "d", false);
            profile.GetInt(s, k, 1, false);
            profile.GetReal(s, k, 1.0, false);
            profile.GetBool(s, k, true, false);
            profile.GetDateTime(s, k, 1ul, false);
        }
    }
    // A write, and reads of the rewritten file. (The value read back need not
    // be the one written: an older entry with blanks before its "=" is found
    // first, as the format has it.)
    profile.Set("Port", "Number", 7010);
    profile.Set("a b", "k k", "text");
    CINIProfile fresh("fresh");
    fresh.Set("Dynamic", "INIFile", path.c_str());
    fresh.GetInt("Port", "Number", 0, false);
    fresh.GetString("a b", "k k", "", false);
    std::remove(path.c_str());
    return 0;
}
