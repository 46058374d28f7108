// The POSIX handles: descriptors.
#pragma once
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace plat {

struct FdTraits {
    using Handle = int;
    static Handle Invalid() noexcept { return -1; }
    static bool IsValid(Handle h) noexcept { return h >= 0; }
    static void Close(Handle h) noexcept { ::close(h); }
};
using ScopedFd = ScopedHandle<FdTraits>;

// An open folder being read (opendir).
struct DirTraits {
    using Handle = DIR*;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::closedir(h); }
};
using ScopedDir = ScopedHandle<DirTraits>;

// A C stream over a descriptor (`mode` of fdopen): the stream owns the
// descriptor from here on. Null on failure, with the descriptor closed and
// errno kept.
inline std::FILE* StreamOverFd(ScopedFd fd, const char* mode) {
    std::FILE* file = ::fdopen(fd.Get(), mode);
    if (file != nullptr) {
        fd.Release();
    } else {
        const int saved = errno;
        fd.Reset();
        errno = saved;
    }
    return file;
}

}  // namespace plat
