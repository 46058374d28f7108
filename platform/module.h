// Where the running program lives, full path names, and shared libraries
// loaded by file name at run time.
#pragma once
#include <string>

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
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool IsLoaded() const { return m_pHandle != nullptr; }
    void* Handle() const { return m_pHandle; }
    // The exported symbol's address, null when absent or nothing is loaded.
    void* Symbol(const char* name) const;

private:
    void* m_pHandle = nullptr;
};

}  // namespace plat
