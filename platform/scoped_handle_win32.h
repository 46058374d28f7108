// The Win32 handles: kernel objects, the service manager's, registry keys,
// LocalAlloc blocks (as FormatMessageA allocates them), event sources and
// the C runtime's descriptors.
#pragma once
#include <io.h>

#include <cstdint>
#include <cstdio>

#include "platform/windows_wrapper.h"

namespace plat {

// A kernel object. Some calls fail with NULL, others with
// INVALID_HANDLE_VALUE: neither is closed.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};
using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::CloseServiceHandle(h); }
};
using ScopedServiceHandle = ScopedHandle<ServiceHandleTraits>;

struct KeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};
using ScopedKey = ScopedHandle<KeyTraits>;

struct LocalTraits {
    using Handle = HLOCAL;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::LocalFree(h); }
};
using ScopedLocal = ScopedHandle<LocalTraits>;

// An event source of the event log (RegisterEventSource).
struct EventSourceTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::DeregisterEventSource(h); }
};
using ScopedEventSource = ScopedHandle<EventSourceTraits>;

// A search of a folder's entries (FindFirstFile).
struct FindTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) noexcept { return h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::FindClose(h); }
};
using ScopedFind = ScopedHandle<FindTraits>;

// A descriptor of the C runtime (_open_osfhandle), closed with the handle
// under it.
struct FdTraits {
    using Handle = int;
    static Handle Invalid() noexcept { return -1; }
    static bool IsValid(Handle h) noexcept { return h >= 0; }
    static void Close(Handle h) noexcept { ::_close(h); }
};
using ScopedFd = ScopedHandle<FdTraits>;

// A C stream over a file handle (`flags` of _open_osfhandle, `mode` of
// _fdopen): the stream owns the handle from here on. Null on failure, with
// the handle closed.
inline std::FILE* StreamOverHandle(ScopedKernelHandle handle, int flags, const char* mode) {
    ScopedFd fd(::_open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), flags));
    if (!fd) return nullptr;
    handle.Release();  // the descriptor's now
    std::FILE* file = ::_fdopen(fd.Get(), mode);
    if (file != nullptr) fd.Release();  // the stream's now
    return file;
}

}  // namespace plat
