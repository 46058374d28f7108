#include "upslink/wire_trace.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/file_append.h"
#include "platform/file_replace.h"
#include "platform/scoped_handle.h"
#include "upslink/xcp_protocol.h"

namespace wiretrace {

std::atomic<bool> g_bOn{false};

namespace {

// After a failed write the trace rests this long before it tries the file
// again: a full disk is not hammered line by line, and a trace left on for
// days picks up again once there is room.
constexpr uint32_t kRetryMs = 60000;

struct Trace {
    std::mutex mutex;
    std::string path;
    uint64_t limit = 0;  // bytes per file
    TraceFailureReport report;
    plat::ScopedFile file;
    uint64_t size = 0;
    uint32_t start = 0;
    bool failed = false;  // reported; resting until retryAt
    uint32_t retryAt = 0;
};

Trace g_Trace;

const char* DirectionText(TraceDirection direction) {
    switch (direction) {
        case TraceDirection::ToUps:
            return "S>";
        case TraceDirection::FromUps:
            return "S<";
        case TraceDirection::DatagramIn:
            return "N<";
        case TraceDirection::DatagramOut:
            return "N>";
    }
    return "??";
}

void Fail(Trace& t, const std::string& what, plat::FileRefusal why = plat::FileRefusal::kSystem) {
    uint32_t code = plat::LastError();
    t.file.Reset();
    t.retryAt = plat::TickCount() + kRetryMs;
    if (t.failed) return;
    t.failed = true;
    if (t.report) t.report(t.path, what, why, code);
}

// UTC from the seconds since 1970, by the civil-calendar arithmetic: no
// runtime call that keeps its result in shared storage, and the same on
// every platform.
std::string WallClock() {
    long long seconds = static_cast<long long>(std::time(nullptr));
    long long days = seconds / 86400, rest = seconds % 86400;
    days += 719468;
    long long era = days / 146097;
    long long dayOfEra = days - era * 146097;
    long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long long mp = (5 * dayOfYear + 2) / 153;
    long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    long long month = mp < 10 ? mp + 3 : mp - 9;
    long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[160];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC", year, month,
                  day, rest / 3600, rest % 3600 / 60, rest % 60);
    return text;
}

bool OpenFile(Trace& t, plat::FileRefusal& why) {
    plat::SetLastError(0);
    t.file.Reset(plat::OpenForAppend(t.path, why));
    if (!t.file) return false;
    why = plat::FileRefusal::kSystem;
    if (std::fseek(t.file.Get(), 0, SEEK_END) != 0) return false;
    long at = std::ftell(t.file.Get());
    t.size = at > 0 ? static_cast<uint64_t>(at) : 0;
    return true;
}

// Writes one whole line; the caller holds the mutex.
void Emit(Trace& t, const std::string& line) {
    if (!t.file) {
        if (!t.failed || static_cast<int32_t>(plat::TickCount() - t.retryAt) < 0) return;
        plat::FileRefusal why;
        if (!OpenFile(t, why)) return Fail(t, "open", why);
        t.failed = false;
    }
    // One rotation: the full file becomes path.1, replacing the one before,
    // so the trace never holds much more than twice its limit. What stands
    // at path.1 is replaced, a link included, never written through.
    if (t.size > 0 && t.size + line.size() > t.limit) {
        t.file.Reset();
        const std::string older = t.path + ".1";
        plat::FileRefusal why = plat::CheckWritePlace(older);
        if (why != plat::FileRefusal::kNone) return Fail(t, "rotate", why);
        if (!plat::ReplaceFileWith(t.path, older, plat::AtLink::kReplace)) return Fail(t, "rotate");
        if (!OpenFile(t, why)) return Fail(t, "open", why);
    }
    // Flushed per line so a crash loses little; never synced per line,
    // which would cost the relay a disk write per byte it hears.
    if (std::fwrite(line.data(), 1, line.size(), t.file.Get()) != line.size() ||
        std::fflush(t.file.Get()) != 0) {
        return Fail(t, "write");
    }
    t.size += line.size();
}

// The bytes of a request datagram that hold a password: the data and the
// checksum of every password frame (the checksum would give the password
// away to a short search). Frames are walked as the endpoint walks them:
// 0xAB, a length L, L bytes from the command on, a checksum; a byte that
// starts no frame is stepped over. A frame cut short is masked to the end.
std::vector<bool> PasswordBytes(const uint8_t* b, uint32_t count) {
    std::vector<bool> masked(count, false);
    for (uint32_t i = 0; i < count;) {
        if (b[i] != kXcpStart || i + 2 >= count) {
            ++i;
            continue;
        }
        const uint32_t end = i + 3u + b[i + 1];  // one past the checksum
        if (b[i + 2] == kXcpCmdAuthorize) {
            for (uint32_t k = i + 3; k < end && k < count; ++k) masked[k] = true;
        }
        i = end;
    }
    return masked;
}

std::string Stamp(const Trace& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%10u ", static_cast<unsigned>(plat::TickCount() - t.start));
    return text;
}

}  // namespace

void Start(const std::string& path, uint32_t limitKb, TraceFailureReport report) {
    Stop();
    if (path.empty()) return;
    Trace& t = g_Trace;
    std::lock_guard<std::mutex> lock(t.mutex);
    t.path = path;
    t.limit = static_cast<uint64_t>(limitKb) * 1024u;
    t.report = std::move(report);
    t.failed = false;
    t.start = plat::TickCount();
    plat::FileRefusal why;
    if (!OpenFile(t, why)) {
        Fail(t, "open", why);
        return;  // stays off: a name that never worked is a setting to fix
    }
    g_bOn = true;
    Emit(t, Stamp(t) + "-- trace started " + WallClock() + ", limit " + std::to_string(limitKb) +
                " KiB\n");
}

void Stop() {
    Trace& t = g_Trace;
    std::lock_guard<std::mutex> lock(t.mutex);
    g_bOn = false;
    if (t.file) {
        std::string line = Stamp(t) + "-- trace stopped\n";
        (void)std::fwrite(line.data(), 1, line.size(), t.file.Get());
    }
    t.file.Reset();
    t.failed = false;
    t.report = nullptr;
}

void WriteBytes(TraceDirection direction, const void* bytes, uint32_t count, uint32_t peerHostOrder,
                uint16_t peerPort) {
    static const char kDigits[] = "0123456789ABCDEF";
    Trace& t = g_Trace;
    std::lock_guard<std::mutex> lock(t.mutex);
    if (!g_bOn) return;
    std::string line = Stamp(t);
    line += DirectionText(direction);
    line += ' ';
    line += std::to_string(count);
    line += ' ';
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    const std::vector<bool> masked = direction == TraceDirection::DatagramIn
                                         ? PasswordBytes(b, count)
                                         : std::vector<bool>(count, false);
    for (uint32_t i = 0; i < count; ++i) {
        if (masked[i]) {
            line += "**";
            continue;
        }
        line += kDigits[b[i] >> 4];
        line += kDigits[b[i] & 0x0F];
    }
    if (direction == TraceDirection::DatagramIn || direction == TraceDirection::DatagramOut) {
        char peer[32];
        std::snprintf(peer, sizeof peer, " %u.%u.%u.%u:%u", peerHostOrder >> 24,
                      (peerHostOrder >> 16) & 0xFF, (peerHostOrder >> 8) & 0xFF,
                      peerHostOrder & 0xFF, static_cast<unsigned>(peerPort));
        line += peer;
    }
    line += '\n';
    Emit(t, line);
}

void WriteNote(const std::string& text) {
    Trace& t = g_Trace;
    std::lock_guard<std::mutex> lock(t.mutex);
    if (!g_bOn) return;
    Emit(t, Stamp(t) + "-- " + text + "\n");
}

}  // namespace wiretrace
