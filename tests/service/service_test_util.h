// Small helpers of the service tests: how long to wait, lines of a log.
#pragma once
#include <sstream>
#include <string>

#include "line_end.h"
#include "scratch_dir.h"
#include "wait_for.h"

// How long the service tests wait for a condition: services start and stop
// slowly under Wine.
constexpr uint32_t kServiceWaitMs = 20000;

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
