// The wire trace: every byte on the serial line and every NetXCP datagram,
// one line each, in a text file a support engineer can read and upssim can
// replay. Off unless the INI file names a file; while off, each hook costs
// one test of a flag.
//
// A line is "<ms> <direction> <length> <hex> [<peer>]":
//   ms         milliseconds since the trace was opened by this run
//   direction  S> to the UPS, S< from the UPS, N< datagram received,
//              N> reply sent, -- a note (open, close, line settings, control lines)
//   hex        the bytes, two upper-case digits each, without blanks; "**"
//              for each byte of a password frame's data and checksum
//   peer       a.b.c.d:port of a datagram
// A note carries text after "--" instead of length and bytes.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "platform/file_guard.h"

enum class TraceDirection { ToUps, FromUps, DatagramIn, DatagramOut };

namespace wiretrace {

// Set while a trace is open; read by the hooks below before any other work.
extern std::atomic<bool> g_bOn;

constexpr uint32_t kDefaultLimitKb = 10240;

// Told the trace file, what failed ("open", "rotate", "write") and why: a rule
// that refused the file, or plat::FileRefusal::kSystem and the system's code.
using TraceFailureReport = std::function<void(const std::string& path, const std::string& what,
                                              plat::FileRefusal why, uint32_t code)>;

// Opens (appends to) `path`, rotating to `path`.1 once it would pass
// `limitKb` KiB. Only a regular file of the agent's own, in a folder no other
// account writes to (see plat::OpenForAppend), is ever written; the data of a
// NetXCP password frame is written as "**" per byte, never as it came. `report` is told, once per
// failure, when the file cannot be written; the trace then rests and tries again a minute later. A
// trace that cannot be opened at all is reported and stays off. Empty path: off.
void Start(const std::string& path, uint32_t limitKb, TraceFailureReport report);
// Closes the trace; the hooks are free again.
void Stop();

// The out-of-line halves of the hooks.
void WriteBytes(TraceDirection direction, const void* bytes, uint32_t count, uint32_t peerHostOrder,
                uint16_t peerPort);
void WriteNote(const std::string& text);

}  // namespace wiretrace

// Whether a trace is open: for a hook that has work to do before its call.
inline bool TraceOn() { return wiretrace::g_bOn.load(std::memory_order_relaxed); }

// Closes the trace when it goes out of scope.
struct WireTraceScope {
    WireTraceScope(const std::string& path, uint32_t limitKb,
                   wiretrace::TraceFailureReport report) {
        wiretrace::Start(path, limitKb, std::move(report));
    }
    ~WireTraceScope() { wiretrace::Stop(); }
    WireTraceScope(const WireTraceScope&) = delete;
    WireTraceScope& operator=(const WireTraceScope&) = delete;
};

// The hooks. Serial bytes carry no peer.
inline void TraceBytes(TraceDirection direction, const void* bytes, uint32_t count,
                       uint32_t peerHostOrder = 0, uint16_t peerPort = 0) {
    if (TraceOn() && count != 0)
        wiretrace::WriteBytes(direction, bytes, count, peerHostOrder, peerPort);
}

// The note is only built when the trace is on.
template <typename MakeText>
inline void TraceNote(MakeText&& makeText) {
    if (TraceOn()) wiretrace::WriteNote(makeText());
}
