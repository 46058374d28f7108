// The POSIX handles: descriptors and dlopen libraries.
#pragma once
#include <dlfcn.h>
#include <unistd.h>

namespace plat {

struct FdTraits {
    using Handle = int;
    static Handle Invalid() noexcept { return -1; }
    static bool IsValid(Handle h) noexcept { return h >= 0; }
    static void Close(Handle h) noexcept { ::close(h); }
};
using ScopedFd = ScopedHandle<FdTraits>;

struct LibraryTraits {
    using Handle = void*;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::dlclose(h); }
};
using ScopedLibrary = ScopedHandle<LibraryTraits>;

}  // namespace plat
