// Where the running program lives, full path names, and shared libraries
// loaded by file name at run time.
#pragma once
#include <string>

#include "platform/scoped_handle.h"

namespace plat {

// Full path of the running executable (module file name), empty on failure.
std::string ModuleFileName();

// The absolute form of `path` against the current directory; `path` itself
// when that cannot be had.
std::string FullPathName(const std::string& path);

// `path` with its file-name part replaced by `name` (after the last separator).
std::string ReplaceFileName(const std::string& path, const std::string& name);

// The file name this platform gives a shared library called `base`:
// "base.dll" on Win32, "libbase.so" on Linux.
std::string SharedLibraryFileName(const std::string& base);

// A shared library loaded by file name (platform search order: the program's
// own folder first), unloaded when the owner goes.
class Library {
public:
    // Never throws; IsLoaded() says whether the load worked.
    explicit Library(const std::string& fileName);
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool IsLoaded() const { return static_cast<bool>(m_Handle); }
    void* Handle() const { return m_Handle.Get(); }
    // The exported symbol's address, null when absent or nothing is loaded.
    void* Symbol(const char* name) const;

private:
    ScopedLibrary m_Handle;
};

}  // namespace plat
