// Auto-reset events, unnamed (within the process) or named (shared by every
// process of the same account that holds the same name at the moment it is
// set), and waits on them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Why a named event could not be had.
enum class EventFault {
    kNone,
    // The folder of the named events cannot be created or opened (POSIX), or
    // the event itself cannot be created: FaultPath() names the folder or the
    // event, FaultError() holds the platform error.
    kUnusable,
    // FaultPath() is not the account's own: owned by another account, open to
    // other accounts, or not a folder or event as this side makes them (a
    // link, a terminal, a file).
    kRefused,
};

class Event {
public:
    // Unnamed auto-reset event, initially not signalled.
    Event();
    // Creates or opens the named auto-reset event `name` (initially not
    // signalled), private to the account that runs the process. On POSIX the
    // event is a FIFO in the account's own event folder: $QLN_EVENT_DIR, else
    // $RUNTIME_DIRECTORY (systemd's), else $XDG_RUNTIME_DIR/qln, else a folder
    // of the account's own under /run or /tmp; a folder or FIFO that is not
    // the account's alone is refused. The event that created the FIFO (and
    // the folder) removes it again when it is destroyed.
    explicit Event(const std::string& name);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False when the platform could not create the event; LastError() says
    // why, and for a named event so do the three below.
    bool IsValid() const;
    EventFault Fault() const;
    const std::string& FaultPath() const;
    uint32_t FaultError() const;
    // Where the named event lives: its FIFO's path on POSIX, its name on Win32.
    const std::string& Path() const;
    // Setting a signalled event again changes nothing (one waiter wakes); an
    // invalid event is not set, without an error.
    void Set();
    // Tests without waiting; a signalled event is consumed (reset) by the test.
    bool TryConsume();
    // Waits up to `ms` (kInfinite: no limit); true when the event was consumed.
    bool Wait(uint32_t ms);

    // Waits for the first of `count` events; when several are signalled the one
    // listed first wins and only it is consumed. Returns its index, or -1 when
    // `ms` passed first.
    static int WaitAny(Event* const* events, int count, uint32_t ms);

    // Platform handle (HANDLE on Win32, a descriptor on POSIX) for the few calls
    // that need it, such as an atomic signal-and-wait.
    void* NativeHandle() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// Creates (or opens) the named event, sets it and closes it again at once.
// False when the event could not be had.
bool SignalNamedEvent(const std::string& name);

}  // namespace plat
