#include "common/framework/brx_runtime.h"

#include <cstdarg>
#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace brx {
namespace {

std::mutex g_DebugLock;
FILE* g_pDebugOutput = nullptr;

}  // namespace

void CDebug::SetDefaultOutput(FILE* stream) {
    std::lock_guard<std::mutex> hold(g_DebugLock);
    g_pDebugOutput = stream;
}

void CDebug::Output(const char* format, ...) {
    if (format == nullptr) return;
    std::lock_guard<std::mutex> hold(g_DebugLock);
    FILE* out = g_pDebugOutput != nullptr ? g_pDebugOutput : stderr;
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fflush(out);
}

void SleepMillSec(unsigned long ms) {
    // The platform sleep takes 32 bits; longer sleeps go in pieces.
    uint64_t left = ms;
    while (left > 0xFFFFFFFFu) {
        plat::SleepMs(0xFFFFFFFFu);
        left -= 0xFFFFFFFFu;
    }
    plat::SleepMs(static_cast<uint32_t>(left));
}

int sprintf(char* buffer, size_t size, const char* format, ...) {
    if (buffer == nullptr || size == 0) return 0;
    if (format == nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, size, format, args);
    va_end(args);
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[size - 1] = '\0';
    return static_cast<size_t>(n) < size ? n : static_cast<int>(size - 1);
}

}  // namespace brx
