// Small helpers of the service tests: bounded polls, files, line ends.
#pragma once
#include <fstream>
#include <sstream>
#include <string>

#include "platform/clock.h"

// Polls `done` every 20 ms for up to `ms`; true as soon as it holds.
template <typename Done>
bool PollUntil(Done done, uint32_t ms = 20000) {
    uint32_t start = plat::TickCount();
    for (;;) {
        if (done()) return true;
        if (plat::TickCount() - start >= ms) return false;
        plat::SleepMs(20);
    }
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Lines of `text` equal to `word`.
inline int CountLines(const std::string& text, const std::string& word) {
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == word) ++n;
    }
    return n;
}

// Win32 standard streams turn "\n" into "\r\n"; compare lines, not line ends.
inline std::string Lf(const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        r += s[i];
    }
    return r;
}
