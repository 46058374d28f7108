// Auto-reset events, unnamed (within the process) or named (shared by every
// process that holds the same name at the moment it is set), and waits on them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
public:
    // Unnamed auto-reset event, initially not signalled.
    Event();
    // Creates or opens the named auto-reset event `name` (initially not signalled).
    explicit Event(const std::string& name);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False when the platform could not create the event; LastError() says why.
    bool IsValid() const;
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
void SignalNamedEvent(const std::string& name);

}  // namespace plat
