// What a profile value costs: from the cache, from the file, and a write;
// and the date-time formatter. Prints microseconds per operation.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/config/date_time.h"
#include "common/config/ini_profile.h"

namespace {

template <typename Fn>
double MicrosPerCall(int count, Fn fn) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) fn(i);
    std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    return took.count() / count;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "profile_bench.ini";
    std::remove(path.c_str());

    CINIProfile profile("bench");
    profile.Set("Dynamic", "INIFile", path.c_str());
    // A file of the size of a real configuration: 10 sections of 10 keys.
    for (int s = 0; s < 10; ++s) {
        std::string section = "Section" + std::to_string(s);
        for (int k = 0; k < 10; ++k) {
            std::string key = "Key" + std::to_string(k);
            profile.Set(section.c_str(), key.c_str(), s * 100 + k);
        }
    }

    CINIProfile reader("reader");
    reader.Set("Dynamic", "INIFile", path.c_str());
    volatile int sink = 0;
    double fileLast = MicrosPerCall(
        2000, [&](int) { sink = sink + reader.GetInt("Section9", "Key9", 0, false); });
    double fileFirst = MicrosPerCall(
        2000, [&](int) { sink = sink + reader.GetInt("Section0", "Key0", 0, false); });
    reader.GetInt("Section9", "Key9", 0, true);
    double cached = MicrosPerCall(
        200000, [&](int) { sink = sink + reader.GetInt("Section9", "Key9", 0, false); });
    double write = MicrosPerCall(500, [&](int i) { profile.Set("Section5", "Key5", i); });

    CDateTime when(1782151500L);
    double format = MicrosPerCall(100000, [&](int) { sink = sink + (int)when.DbFormat().size(); });

    std::printf("profile of 100 entries in 10 sections (%s)\n", path.c_str());
    std::printf("  read from the cache          %10.3f us\n", cached);
    std::printf("  read from file, first entry  %10.3f us\n", fileFirst);
    std::printf("  read from file, last entry   %10.3f us\n", fileLast);
    std::printf("  write (whole file rewritten) %10.3f us\n", write);
    std::printf("date-time DbFormat             %10.3f us\n", format);
    std::remove(path.c_str());
    return sink == -1 ? 1 : 0;
}
