// One owner for every kind of operating-system handle: a descriptor, a
// FILE*, a malloc'd text, a library, and on Win32 a HANDLE, SC_HANDLE, HKEY,
// HLOCAL, event source or C runtime descriptor. The
// traits say what "no handle" is and how one is closed; the owner closes what
// it holds exactly once, also on the way out of an exception. Two handles
// live longer than a scope and have owners of their own above this layer:
// a socket (class Socket, over its layer's sockapi::CloseHandle) and a serial
// port (the serial link, over ClosePort).
#pragma once
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace plat {

template <typename Traits>
class ScopedHandle {
public:
    using Handle = typename Traits::Handle;

    ScopedHandle() noexcept : m_h(Traits::Invalid()) {}
    explicit ScopedHandle(Handle h) noexcept : m_h(h) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(ScopedHandle&& other) noexcept : m_h(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    Handle Get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return Traits::IsValid(m_h); }

    // Gives up ownership: the caller closes what is returned.
    Handle Release() noexcept { return std::exchange(m_h, Traits::Invalid()); }

    // Closes the handle held, if any, and takes `h`.
    void Reset(Handle h = Traits::Invalid()) noexcept {
        Handle old = std::exchange(m_h, h);
        if (Traits::IsValid(old)) Traits::Close(old);
    }

    // For a call that returns its handle through a pointer: closes what is
    // held and lends the slot.
    Handle* Receive() noexcept {
        Reset();
        return &m_h;
    }

private:
    Handle m_h;
};

struct FileTraits {
    using Handle = std::FILE*;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { std::fclose(h); }
};
using ScopedFile = ScopedHandle<FileTraits>;

// A text that a C interface allocated with malloc for the caller to free.
struct MallocTraits {
    using Handle = char*;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { std::free(h); }
};
using ScopedMallocText = ScopedHandle<MallocTraits>;

// A shared library: dlopen's handle, or an HMODULE. Unloaded by
// platform/module_<platform>.cpp.
void UnloadLibrary(void* library) noexcept;
struct LibraryTraits {
    using Handle = void*;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { UnloadLibrary(h); }
};
using ScopedLibrary = ScopedHandle<LibraryTraits>;

// Closes `file` now and says whether that worked: fclose's result is the last
// word on whether what was written reached the file. False when none is held.
inline bool CloseChecked(ScopedFile& file) noexcept {
    std::FILE* f = file.Release();
    return f != nullptr && std::fclose(f) == 0;
}

}  // namespace plat

#ifdef _WIN32
#include "platform/scoped_handle_win32.h"
#else
#include "platform/scoped_handle_posix.h"
#endif
