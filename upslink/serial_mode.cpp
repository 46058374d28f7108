#include <cstdio>

#include "upslink/serial_port.h"

namespace {
const char kParityLetters[] = "EMNOS";
const char* const kStopTexts[] = {"1", "1.5", "2"};
}  // namespace

// Callers pass valid indices only; out-of-range ones are clamped rather than
// read past the tables.
char ParityLetter(uint32_t parityIndex) {
    return kParityLetters[parityIndex < 5 ? parityIndex : 2];
}

const char* StopBitsText(uint32_t stopIndex) { return kStopTexts[stopIndex < 3 ? stopIndex : 0]; }

std::string BuildModeString(uint32_t baud, uint32_t dataBits, uint32_t parityIndex,
                            uint32_t stopIndex) {
    char mode[80];
    std::snprintf(mode, sizeof mode, "baud=%u parity=%c data=%u stop=%s", baud,
                  ParityLetter(parityIndex), dataBits, StopBitsText(stopIndex));
    return mode;
}

std::string PortDevicePath(const std::string& name) {
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (name.size() < 4 || upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M')
        return name;
    size_t end = name.size();
    if (name[end - 1] == ':') --end;
    unsigned long n = 0;
    for (size_t i = 3; i < end; ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100000) return name;
        n = n * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    if (end == 3 || n == 0) return name;
    return "/dev/ttyS" + std::to_string(n - 1);
}
