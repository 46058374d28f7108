// The Win32 handles: kernel objects, the service manager's, registry keys,
// LocalAlloc blocks (as FormatMessageA allocates them) and libraries.
#pragma once
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

struct LibraryTraits {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::FreeLibrary(h); }
};
using ScopedLibrary = ScopedHandle<LibraryTraits>;

}  // namespace plat
