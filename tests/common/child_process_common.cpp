#include <fstream>
#include <sstream>

#include "child_process.h"
#include "platform/clock.h"

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool WaitForImpl(bool (*test)(void*), void* context, uint32_t ms) {
    uint32_t start = plat::TickCount();
    for (;;) {
        if (test(context)) return true;
        if (plat::TickCount() - start >= ms) return test(context);
        plat::SleepMs(10);
    }
}
