#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

std::string MakeScratchPath() {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/qln-fuzz-" + std::to_string(getpid()) + ".ini";
}

void RemoveScratch() { unlink(ScratchPath().c_str()); }

}  // namespace

const std::string& ScratchPath() {
    static const std::string path = [] {
        std::string p = MakeScratchPath();
        std::atexit(RemoveScratch);
        return p;
    }();
    return path;
}

void WriteScratch(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (f == nullptr) Fail("cannot write the scratch file");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) Fail("short write of the scratch file");
    std::fclose(f);
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

std::string TakeLine(const uint8_t*& data, size_t& size, size_t limit) {
    std::string line;
    while (size > 0 && line.size() < limit) {
        char c = static_cast<char>(*data++);
        --size;
        if (c == '\n') break;
        line.push_back(c);
    }
    return line;
}

}  // namespace fuzz
